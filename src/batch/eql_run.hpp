// The equivalent-linear part of a run: H1 and H2 iterated each on its own over the site, their
// final transfer functions applied in place of the linear table, and the run's profile.csv,
// iterations.csv and (with depths) depth.csv.
#pragma once

#include "batch/shared_work.hpp"
#include "sitewave/eql.hpp"
#include "sitewave/site.hpp"
#include "textio/unit.hpp"

#include <array>
#include <filesystem>
#include <string>
#include <vector>

namespace sitewave::batch {

struct eql_outcome {
    std::vector<std::string> values;                // the summary's cells of the method
    std::string note;                               // a component that did not converge
    std::vector<float> factor_h1, factor_h2;        // |surface / input| on the grid's rows
    std::array<eql::run_result, 2> runs;            // H1 and H2 at the end of the loop
    std::array<std::vector<eql::complex>, 2> input; // the record's H1 and H2 rows, in its unit
};

// The equivalent-linear loop's kind of input for the batch's.
eql::input_kind eql_kind_of(input_motion m);

// The cells of the method for a linear run: "linear" and empty cells.
std::vector<std::string> linear_method_cells();

// Replaces rows 0..nom-1 of s.fx1 and s.fy1 by `input`'s times the final transfer functions.
// Refused (thrown) as the eql run refuses, or when a component has not converged and the run is
// strict.
// The wave arrives at `angle` degrees; with spare_core, H2 iterates on a helper thread.
eql_outcome run_eql(const batch_options& o, const site::site_model& m, const spectra& input,
                    spectra& s, const grid& g, const record& rec, input_motion kind, float angle,
                    bool spare_core);

// The layer table of the vertical under a mode other than linear: a row per sublayer (rows of
// a layer that come out the same merged, so that G/Gmax ≡ 1 at the small-strain damping gives
// the site's own table), the half-space last. Refused (thrown) as site::to_layer_table refuses.
layer_table vertical_layers(batch_options::vertical_mode mode, const site::site_model& m,
                            const eql_outcome& eq);

// The motions at the depths of --depths: for each depth, H1 then H2, within then outcrop, the
// history on the record's samples in the histories' unit. Refused (thrown) as eql::transfer_at
// refuses.
struct depth_history {
    double depth = 0;
    std::size_t component = 0;
    propagation::wave wave = propagation::wave::within;
    std::vector<float> values;
};
std::vector<depth_history> depth_histories(const batch_options& o, const eql_outcome& eq,
                                           const grid& g, const record& rec);

// The run's profile.csv, iterations.csv and (with depths) depth.csv into `dir`.
void write_eql_files(const batch_options& o, const eql_outcome& eq, const grid& g,
                     const record& rec, const std::filesystem::path& dir, textio::io_state& state);

} // namespace sitewave::batch
