// One run of a suite with realizations, in memory: a record or an input of random vibration
// theory on a profile (a realization's, or a profile given as it is), computed as a run of
// `run_one` computes it, without its files. It gives the summary's cells and the run's
// observations for the streaming statistics. Unlike compute_run, which keeps a profile's tables in
// the shared work for every record of the batch, it makes the tables (and the padding's decay) of
// its profile for the run and drops them after: a realization is one profile among thousands.
// e2e tests hold the two to the same summary rows.
#pragma once

#include "batch/shared_work.hpp"
#include "batch/streaming.hpp"
#include "sitewave/site.hpp"

#include <optional>
#include <string>
#include <vector>

namespace sitewave::batch {

struct run_values {
    std::vector<std::string> values; // the summary's value cells (those run_one gives)
    std::vector<double> obs;         // layout.size() observations, NaN where none
    std::string note;                // what the run had to cut, a component not converged
};

// Record `k` of `work` on `prof` (with `site` for an equivalent-linear run), the padding from
// the profile's own decay. Throws textio::failure as run_one's computation refuses. Vs at depth
// is the profile's (the half-space's below it); peak strain and acceleration at depth are an
// equivalent-linear run's H1 (the sublayer holding the depth), none for a linear run.
run_values compute_values(const batch_options& o, const profile& prof,
                          const std::optional<site::site_model>& site, shared_work& work,
                          std::size_t k, const observation_layout& layout);

// An input of random vibration theory on `prof`, as compute_rvt computes it, without its files:
// the summary's cells of compute_rvt, and H1's observations (H2, V and RotD50 NaN): the surface's
// PSA and its ratio to the input's, |transfer| on the run's frequencies, Vs and, for an
// equivalent-linear run, peak strain and acceleration at depth as compute_values has them.
run_values compute_rvt_values(const batch_options& o, const profile& prof,
                              const std::optional<site::site_model>& site, const rvt_input& in,
                              const observation_layout& layout);

} // namespace sitewave::batch
