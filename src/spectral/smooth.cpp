#include "spectral/smooth.hpp"

#include "arith/vectors.hpp"

#include <algorithm>
#include <cmath>

namespace sitewave::spectral {

double konno_ohmachi_weight(double f, double fc, double b) {
    if (f == fc) {
        return 1.0;
    }
    const double x = b * std::log10(f / fc);
    const double s = std::sin(x) / x;
    return (s * s) * (s * s);
}

double konno_ohmachi_reach(double b, double floor) {
    return std::pow(10.0, std::pow(floor, -0.25) / b);
}

namespace {

// Whether the points left out, `count` of them at least x = b log10(ratio) from fc, weigh
// together at most `floor` (each weighs at most 1/x^4), that is: at most `floor` times what the
// point fc alone weighs.
bool negligible(std::size_t count, double ratio, double b, double floor) {
    const double x = b * std::log10(ratio);
    const double x2 = x * x;
    return static_cast<double>(count) <= floor * x2 * x2;
}

// The weights of the window lo..hi of point k, [sin(a_j − a_k) / (a_j − a_k)]^4, the sine from
// the tables (w[k] is not used). Built for each vector width, chosen at run time.
inline void weights_body(std::size_t lo, std::size_t hi, const double* a, const double* sa,
                         const double* ca, std::size_t k, double* w) {
    const double ak = a[k], sk = sa[k], ck = ca[k];
    SITEWAVE_INDEPENDENT
    for (std::size_t j = lo; j <= hi; ++j) {
        const double q = (sa[j] * ck - ca[j] * sk) / (a[j] - ak);
        w[j] = (q * q) * (q * q);
    }
}

#if defined(__x86_64__)
[[gnu::target("avx2"), gnu::flatten]] void weights_avx2(std::size_t lo, std::size_t hi,
                                                        const double* a, const double* sa,
                                                        const double* ca, std::size_t k,
                                                        double* w) {
    weights_body(lo, hi, a, sa, ca, k, w);
}
[[gnu::target("avx512f"), gnu::flatten]] void weights_avx512(std::size_t lo, std::size_t hi,
                                                             const double* a, const double* sa,
                                                             const double* ca, std::size_t k,
                                                             double* w) {
    weights_body(lo, hi, a, sa, ca, k, w);
}
#endif

void window_weights(std::size_t lo, std::size_t hi, const double* a, const double* sa,
                    const double* ca, std::size_t k, double* w) {
#if defined(__x86_64__)
    switch (arith::vector_level()) {
    case arith::vectors::avx512:
        return weights_avx512(lo, hi, a, sa, ca, k, w);
    case arith::vectors::avx2:
        return weights_avx2(lo, hi, a, sa, ca, k, w);
    case arith::vectors::baseline:
        break;
    }
#endif
    weights_body(lo, hi, a, sa, ca, k, w);
}

// The sums of a window: of the weights, and of each of M spectra times them, side by side. Each
// is one chain of additions in the order of j, the same bits as one sum after the other; the
// chains are independent, so that they overlap instead of each waiting on its last addition.
template <std::size_t M>
void window_sums(std::size_t lo, std::size_t hi, const double* w, const std::span<const float>* x,
                 double& weights, double* sums) {
    double total = 0.0;
    double s[M] = {};
    for (std::size_t j = lo; j <= hi; ++j) {
        total += w[j];
        for (std::size_t c = 0; c < M; ++c) {
            s[c] += w[j] * static_cast<double>(x[c][j]);
        }
    }
    weights = total;
    for (std::size_t c = 0; c < M; ++c) {
        sums[c] = s[c];
    }
}

} // namespace

window konno_ohmachi_window(std::size_t k, std::size_t n, double b, double floor) {
    // Above: the smallest hi in [k, n-1] leaving out the points hi+1 .. n-1 (true for n-1, and
    // true for every hi above one for which it holds).
    std::size_t lo = k, hi = n - 1;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        const double ratio = static_cast<double>(mid + 1) / static_cast<double>(k);
        if (negligible(n - 1 - mid, ratio, b, floor)) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    window w;
    w.last = hi;
    // Below: the largest first point f in [1, k] leaving out the points 1 .. f-1.
    lo = 1, hi = k;
    while (lo < hi) {
        const std::size_t mid = hi - (hi - lo) / 2;
        const double ratio = static_cast<double>(k) / static_cast<double>(mid - 1);
        if (negligible(mid - 1, ratio, b, floor)) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    w.first = lo;
    return w;
}

std::vector<std::vector<double>> konno_ohmachi(std::span<const std::span<const float>> in,
                                               double b) {
    const std::size_t m = in.size();
    const std::size_t n = m == 0 ? 0 : in[0].size();
    std::vector<std::vector<double>> out(m, std::vector<double>(n, 0.0));
    if (n == 0) {
        return out;
    }
    // x = a_j - a_k with a_j = b log10(j); sin x = sin a_j cos a_k - cos a_j sin a_k.
    std::vector<double> a(n, 0.0), sa(n, 0.0), ca(n, 1.0);
    for (std::size_t j = 1; j < n; ++j) {
        a[j] = b * std::log10(static_cast<double>(j));
        sa[j] = std::sin(a[j]);
        ca[j] = std::cos(a[j]);
    }
    for (std::size_t c = 0; c < m; ++c) {
        out[c][0] = static_cast<double>(in[c][0]);
    }
    std::vector<double> w(n);
    for (std::size_t k = 1; k < n; ++k) {
        const auto [lo, hi] = konno_ohmachi_window(k, n, b, konno_ohmachi_floor);
        // The weights of the window, then each spectrum's sum with them.
        window_weights(lo, hi, a.data(), sa.data(), ca.data(), k, w.data());
        w[k] = 1.0;
        double weights = 0.0;
        for (std::size_t c = 0; c < m; c += 3) {
            double sums[3];
            const std::size_t group = std::min<std::size_t>(3, m - c);
            if (group == 3) {
                window_sums<3>(lo, hi, w.data(), in.data() + c, weights, sums);
            } else if (group == 2) {
                window_sums<2>(lo, hi, w.data(), in.data() + c, weights, sums);
            } else {
                window_sums<1>(lo, hi, w.data(), in.data() + c, weights, sums);
            }
            for (std::size_t i = 0; i < group; ++i) {
                out[c + i][k] = sums[i] / weights;
            }
        }
    }
    return out;
}

std::vector<double> konno_ohmachi_full(std::span<const double> in, double b) {
    const std::size_t n = in.size();
    std::vector<double> out(in.begin(), in.end());
    for (std::size_t k = 1; k < n; ++k) {
        double weights = 0.0, sum = 0.0;
        for (std::size_t j = 1; j < n; ++j) {
            const double w =
                konno_ohmachi_weight(static_cast<double>(j), static_cast<double>(k), b);
            weights += w;
            sum += w * in[j];
        }
        out[k] = sum / weights;
    }
    return out;
}

} // namespace sitewave::spectral
