// From the processed spectra back to surface time histories, and their extreme values.
#pragma once

#include "common/real.hpp"

#include <span>

namespace sitewave::driver {

// Entries nf-i (i = 1 .. nf/2-1) become the complex conjugates of entries i; the zero-frequency
// entry and the Nyquist entry keep their values, imaginary parts included.
void complete_negative_frequencies(std::span<cplx> a);

// Largest and smallest value of a history, starting from 0 (strict comparisons), so a record of
// only positive values has minimum 0.
struct extremes {
    float min = 0.0f;
    float max = 0.0f;
};
extremes find_extremes(std::span<const float> x);

} // namespace sitewave::driver
