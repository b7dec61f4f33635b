// The steps of a run over values, raising failures (the library's public functions of the same
// purpose return them as values). `input` names the file or answer a refusal is about.
#pragma once

#include "arith/real.hpp"
#include "fft/wvfast.hpp"
#include "sitewave/steps.hpp"
#include "steps/grid.hpp"
#include "textio/fatal.hpp"
#include "textio/unit.hpp"

#include <span>
#include <string>
#include <vector>

namespace sitewave::steps {

// 2*pi as 8*atan(1): the arctangent in double stored as a float, times 8 in float. The filter
// corners and the frequencies of amp1.csv use it; the grid uses two_pi.
float pi2();

// The grid of a record on nf points, refused unless the record has two samples or more, a
// positive time step, and a finite duration and frequency step.
grid checked_grid(const record& rec, int nf, const std::string& input);

// Tables of nom rows, each entry zero.
tables table_storage(int nom);

// compute_tables without its checks: the layer table sound (as check_profile has it), the grid
// of one row or more with a positive finite dom, theta finite.
tables compute_tables_unchecked(const layer_table& layers, float theta, const grid& g,
                                bool oblique = false, int row_threads = 1);

// The transforms with `threads` > 1 share the three components between two threads. Their
// factors are evaluated here unless given (of nf points, each in its direction): a run that
// transforms back takes the inverse's as the forward's opposite().
spectra forward_transform(const record& rec, int nf, const std::string& input, int threads = 1,
                          const fft::twiddles* factors = nullptr);
void check_tables_finite(const tables& t, const grid& g, const std::string& input);
void apply_tables(spectra& s, const tables& t, int nin, const grid& g, const std::string& input);
pass_band corner_band(float fl1, float fl2, float fh1, float fh2, const std::string& input);
void process_or_refuse(spectra& s, const grid& g, const pass_band& band, int nyes,
                       const std::string& input);
histories inverse_transform(spectra&& s, const grid& g, const std::string& input, int threads = 1,
                            const fft::twiddles* factors = nullptr);

// The result files, complete under their temporary names; `name` is the name reports give,
// `path` where the file goes.
textio::completed_file write_factors_file(const std::string& name, const std::string& path,
                                          const tables& t, const grid& g, textio::io_state& state);
// The moduli of the horizontal spectra at the frequencies of amp1.csv, H1 and H2 for each.
std::vector<float> spectra_moduli(const spectra& s, const grid& g);
textio::completed_file write_spectra_file(const std::string& name, const std::string& path,
                                          std::span<const float> moduli, const grid& g,
                                          const std::string& head2, const std::string& head3,
                                          textio::io_state& state);
textio::completed_file write_spectra_file(const std::string& name, const std::string& path,
                                          const spectra& s, const grid& g, const record& rec,
                                          textio::io_state& state);
textio::completed_file write_history_file(const std::string& name, const std::string& path,
                                          const histories& h, const record& rec,
                                          textio::io_state& state);

} // namespace sitewave::steps
