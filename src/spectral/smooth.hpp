// Konno-Ohmachi smoothing of amplitude spectra on an even frequency grid.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace sitewave::spectral {

// The weight of frequency f in the smoothed value at fc, bandwidth b:
//   W = [sin(b log10(f/fc)) / (b log10(f/fc))]^4, 1 at f = fc.
double konno_ohmachi_weight(double f, double fc, double b);

// The ratio r > 1 beyond which (f/fc > r or fc/f > r) every weight stays below `floor`:
// W <= 1/x^4 with x = b log10(f/fc), so x > floor^(-1/4) is enough.
double konno_ohmachi_reach(double b, double floor);

// What the points left out of a smoothed value may weigh together, relative to the weight 1
// of the centre point alone (so relative to the sum of the weights kept, at least 1).
inline constexpr double konno_ohmachi_floor = 1e-9;

// The points first .. last (of 1 .. n-1) that the smoothed value at point k sums: those left out
// on either side, c of them at x >= X from k, weigh at most c / X^4 <= floor together. On an
// even grid the points above fc are dense on the log axis: at low fc the window reaches far
// beyond the reach of a single weight (konno_ohmachi_reach), at b 40 over most spectra.
struct window {
    std::size_t first = 1, last = 0;
};
window konno_ohmachi_window(std::size_t k, std::size_t n, double b, double floor);

// Smooths the spectra `in` (each of n values on the frequencies k df, k = 0 .. n-1), all with
// the same weights: out[k] = sum_j W(f_j, f_k) in[j] / sum_j W(f_j, f_k) over the frequencies
// j >= 1 of the window of f_k, the value at 0 Hz kept as it is. Sums in double; O(n w) with w
// the points of a window, and no trigonometric call in the inner loop. Each smoothed value is
// then within 1e-9 max|in| / (its value) of the full sums' (relative), and exact where the
// window holds every point.
std::vector<std::vector<double>> konno_ohmachi(std::span<const std::span<const float>> in,
                                               double b);

// The same sums over every frequency (no reach): O(n^2), for checking.
std::vector<double> konno_ohmachi_full(std::span<const double> in, double b);

} // namespace sitewave::spectral
