// In-place radix-2 decimation-in-time complex Fourier transform.
#pragma once

#include "common/real.hpp"

#include <span>

namespace sitewave::fft {

// Replaces a (length n = a.size(), a power of two) by sum_j a[j] e^(ind*2*pi*i*j*m/n) for
// m = 0..n-1. ind is -1 (time to frequency) or +1 (back). No scaling in either direction.
// n <= 1 returns the data unchanged. A length that is not a power of two is a programming error.
void wvfast(std::span<cplx> a, int ind);

// True when n is a power of two (1 included).
constexpr bool is_pow2(std::size_t n) { return n != 0 && (n & (n - 1)) == 0; }

} // namespace sitewave::fft
