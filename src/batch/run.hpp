// One run of a batch: a record on a profile, computed from the shared work and written into a
// marked temporary folder renamed into place when complete.
#pragma once

#include "batch/eql_run.hpp"
#include "batch/plan.hpp"
#include "batch/shared_work.hpp"
#include "sitewave/site.hpp"
#include "textio/unit.hpp"

#include <atomic>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sitewave::batch {

// The first line of an error's report, with the file named when the report does not.
std::string reason(const sitewave::error& e);

// The record's file, or its three AT2 files separated by ';'.
std::string record_paths(const record_source& rs);

// A run computed, before any of its files is written: what they are written from. The pointers
// are into the shared work, which holds them until the record's last run is done.
struct run_data {
    input_motion input = input_motion::incident; // from_profile resolved
    float angle = 0.0f;                          // degrees
    int nf = 0;
    const record_work* w = nullptr;
    const record_grid* rg = nullptr;
    const profile_work* pw = nullptr;
    spectra s;   // the surface's, processed, before the inverse transform
    histories h; // the surface's, in the record's unit (nf samples)
    std::optional<eql_outcome> eq;
    std::optional<profile_work> vertical; // the vertical's tables of an eql run, when not linear
    std::size_t best = 1;                 // the row of the peak factor H
    float best_factor = 0.0f;
    std::vector<response_set> surface_psa; // with o.spectra, in the record's unit
};

// Run `record_index` on `profile_index` of the shared work (`rec` is that record, `label` names
// it in refusals). Throws textio::failure; `note` gets what the run had to cut and a component
// that did not converge.
run_data compute_run(const batch_options& o, const profile& prof,
                     const std::optional<site::site_model>& site, shared_work& work,
                     const record& rec, const std::string& label, std::size_t record_index,
                     std::size_t profile_index, std::string& note);

// The files of a computed run into `dir`; the summary's value cells.
std::vector<std::string> write_run(const batch_options& o, const run_data& d, const record& rec,
                                   const fs::path& dir, textio::io_state& state);

// The checks of sitewave-batch's options (a usage error thrown as textio::failure).
void check_run_options(const batch_options& o);
// A site's profile for the linear steps (its layer table, the site's angle); the layer table's
// error thrown when the site has none, or with `path` a usage error naming it.
profile profile_of_site(const site::site_model& m);
profile profile_of_site(const std::string& path, const site::site_model& m);

// The run of plan entry `e` under the output folder `out`; never throws: a failure is the row's
// note, naming the file and the cause.
run_summary run_one(const batch_options& o, const std::vector<profile>& profiles,
                    const std::vector<std::optional<site::site_model>>& sites, shared_work& work,
                    const fs::path& out, const plan_entry& e, std::size_t index);

// The first nt values of a history (the record's own samples).
std::span<const float> within_record(const std::vector<float>& x, std::size_t nt);

// An input motion's name in the summary and in run.json ("profile" for from_profile); the
// processing's ("integrate", "differentiate", "none").
const char* input_name(input_motion m);
const char* processing_name(const batch_options& o);

// The first value cells of a record's summary row: input, angle, processing, nt, dt, nf, the
// peaks of the record and of the surface over the record's samples (in the histories' units),
// the frequency of row `best` and its factor.
std::vector<std::string> record_cells(const batch_options& o, input_motion input, float angle,
                                      const record& rec, int nf, const histories& h, const grid& g,
                                      std::size_t best, float best_factor);

// Runs `worker` on the calling thread and on up to n - 1 more (fewer when a thread cannot
// start: the work goes on the threads there are), and waits for them all.
void on_threads(int n, const std::function<void()>& worker);

// Items 0 .. items - 1, each once and in turn, on up to `jobs` threads (on_threads) until `stop`
// is set: the items not begun by then are left. `done(k, items)` follows each item (when given),
// one call at a time, k counting the items finished.
void share_out(int jobs, std::size_t items, const std::atomic<bool>* stop,
               const std::function<void(std::size_t)>& item,
               const std::function<void(int, int)>& done);

// Whether summary.csv has the method's columns: with --method eql, a site file among the
// profiles or an rvt input (a batch of soil files and records keeps the linear summary as it was).
bool method_columns(const batch_options& o);
// Whether summary.csv ends with the input kind (record or rvt): when the batch has rvt inputs.
bool rvt_columns(const batch_options& o);

} // namespace sitewave::batch
