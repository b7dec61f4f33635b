// Suites with realizations: every record on every realization of every varied site (and on each
// profile given as it is), computed in memory with statistics gathered as the runs finish; the
// run folders and summary rows kept as --keep says; shards of the records into DIR/shards/K/ and
// their merge.
#pragma once

#include "sitewave/batch.hpp"
#include "sitewave/profile.hpp"
#include "sitewave/site.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sitewave::batch {

// Whether the batch runs as such a suite: a site with a [variation] table, --keep summary or
// statistics, --shard or --realization.
bool is_variation_suite(const batch_options& o,
                        const std::vector<std::optional<site::site_model>>& sites);

// The checks of such a suite's options: --shard in range and not with --keep all, --realization
// of a varied site and within its count, --dialogue-files only with --keep all and no
// realizations, no input of random vibration theory. Throws textio::failure with a usage error.
void check_suite(const batch_options& o, const std::vector<std::optional<site::site_model>>& sites);

// Runs the suite (the options checked, the profiles read). Throws textio::failure with a usage
// error (nothing written) or a system error.
batch_result run_variation_suite(const batch_options& o, const std::vector<profile>& profiles,
                                 const std::vector<std::optional<site::site_model>>& sites,
                                 const std::function<void(int, int)>& done);

// sitewave::merge_shards, throwing.
void merge(const std::string& dir);

} // namespace sitewave::batch
