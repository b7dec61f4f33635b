// One run of a batch: a record on a profile, computed from the shared work and written into a
// marked temporary folder renamed into place when complete.
#pragma once

#include "batch/plan.hpp"
#include "batch/shared_work.hpp"
#include "sitewave/site.hpp"

#include <optional>
#include <vector>

namespace sitewave::batch {

// The first line of an error's report, with the file named when the report does not.
std::string reason(const sitewave::error& e);

// The record's file, or its three AT2 files separated by ';'.
std::string record_paths(const record_source& rs);

// The run of plan entry `e` under the output folder `out`; never throws: a failure is the row's
// note, naming the file and the cause.
run_summary run_one(const batch_options& o, const std::vector<profile>& profiles,
                    const std::vector<std::optional<site::site_model>>& sites, shared_work& work,
                    const fs::path& out, const plan_entry& e, std::size_t index);

// Whether summary.csv has the method's columns: with --method eql, a site file among the
// profiles or an rvt input (a batch of soil files and records keeps the linear summary as it was).
bool method_columns(const batch_options& o);
// Whether summary.csv ends with the input kind (record or rvt): when the batch has rvt inputs.
bool rvt_columns(const batch_options& o);

} // namespace sitewave::batch
