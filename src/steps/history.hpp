// From the processed spectra back to surface time histories, and their extreme values.
#pragma once

#include "arith/real.hpp"
#include "sitewave/steps.hpp"

#include <span>

namespace sitewave::steps {

using sitewave::extremes;
using sitewave::find_extremes;

// Entries nf-i (i = 1 .. nf/2-1) become the complex conjugates of entries i; the zero-frequency
// entry and the Nyquist entry keep their values, imaginary parts included.
void complete_negative_frequencies(std::span<cplx> a);

} // namespace sitewave::steps
