// Processing of the amplified spectra: mean removal, trapezoidal band-pass filter, and
// integration or differentiation in the frequency domain.
#pragma once

#include "arith/real.hpp"
#include "sitewave/steps.hpp"

#include <optional>
#include <span>

namespace sitewave::steps {

using sitewave::differentiate;
using sitewave::integrate;
using sitewave::pass_band;

// Weight of an entry at angular frequency omega, or none when the entry lies outside the band
// (omega < oml1 or omega >= omh2). With the filter the weight rises from 0 at oml1 to 1 at oml2 and
// falls from 1 at omh1 to 0 at omh2; both comparisons are strict, so an entry exactly at oml2 or
// omh1 keeps 1, and where the ramps overlap the falling one decides.
std::optional<float> band_weight(const pass_band& band, float omega);

// Processes entries 0..nom-1 of each spectrum: entry 0 (frequency zero) becomes 0; entry i, at
// omega = i*dom, is weighted by the band and integrated or differentiated. Entries from nom on
// are left as they are.
void process_spectra(std::span<const std::span<cplx>> spectra, int nom, float dom,
                     const pass_band& band, int nyes);

} // namespace sitewave::steps
