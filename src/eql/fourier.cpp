// Radix-2 decimation in frequency: the spectrum is taken in its natural order, each stage splits
// blocks in halves, and the history comes out in bit-reversed order, which a peak does not mind.
// The butterflies of a block share nothing but their twiddles, so each stage's inner loop runs on
// vectors; it is built once for the vectors every x86-64 processor has and once for AVX2, chosen
// at run time.
#include "eql/fourier.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sitewave::eql::detail {

namespace {

inline void stages_body(std::size_t n, double* re, double* im, const double* wre,
                        const double* wim) {
    for (std::size_t half = n / 2; half >= 4; half >>= 1) {
        const double* tr = wre + (half - 1);
        const double* ti = wim + (half - 1);
        for (std::size_t i = 0; i < n; i += 2 * half) {
            double* ur = re + i;
            double* ui = im + i;
            double* vr = re + i + half;
            double* vi = im + i + half;
            for (std::size_t j = 0; j < half; ++j) {
                const double ar = ur[j], ai = ui[j], br = vr[j], bi = vi[j];
                ur[j] = ar + br;
                ui[j] = ai + bi;
                const double dr = ar - br, di = ai - bi;
                vr[j] = dr * tr[j] - di * ti[j];
                vi[j] = dr * ti[j] + di * tr[j];
            }
        }
    }
    // Blocks of 4 and then of 2 in one go: their twiddles are 1 and i.
    if (n >= 4) {
        for (std::size_t i = 0; i < n; i += 4) {
            const double r0 = re[i] + re[i + 2], i0 = im[i] + im[i + 2];
            const double r2 = re[i] - re[i + 2], i2 = im[i] - im[i + 2];
            const double r1 = re[i + 1] + re[i + 3], i1 = im[i + 1] + im[i + 3];
            const double r3 = -(im[i + 1] - im[i + 3]), i3 = re[i + 1] - re[i + 3]; // times i
            re[i] = r0 + r1;
            im[i] = i0 + i1;
            re[i + 1] = r0 - r1;
            im[i + 1] = i0 - i1;
            re[i + 2] = r2 + r3;
            im[i + 2] = i2 + i3;
            re[i + 3] = r2 - r3;
            im[i + 3] = i2 - i3;
        }
    } else if (n == 2) {
        const double ar = re[0], ai = im[0], br = re[1], bi = im[1];
        re[0] = ar + br;
        im[0] = ai + bi;
        re[1] = ar - br;
        im[1] = ai - bi;
    }
}

inline std::pair<double, double> peaks_body(std::size_t n, const double* re, const double* im,
                                            const double* window) {
    double p1 = 0.0, p2 = 0.0;
    for (std::size_t j = 0; j < n; ++j) {
        p1 = std::max(p1, std::fabs(re[j]) * window[j]);
        p2 = std::max(p2, std::fabs(im[j]) * window[j]);
    }
    return {p1, p2};
}

void stages_baseline(std::size_t n, double* re, double* im, const double* wre, const double* wim) {
    stages_body(n, re, im, wre, wim);
}
std::pair<double, double> peaks_baseline(std::size_t n, const double* re, const double* im,
                                         const double* window) {
    return peaks_body(n, re, im, window);
}

#if defined(__x86_64__)
[[gnu::target("avx2"), gnu::flatten]] void stages_avx2(std::size_t n, double* re, double* im,
                                                       const double* wre, const double* wim) {
    stages_body(n, re, im, wre, wim);
}
[[gnu::target("avx2"), gnu::flatten]] std::pair<double, double>
peaks_avx2(std::size_t n, const double* re, const double* im, const double* window) {
    return peaks_body(n, re, im, window);
}
bool has_avx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#endif

} // namespace

inverse_pairs::inverse_pairs(std::size_t nf) : n_(nf), reversed_(nf) {
    unsigned bits = 0;
    while ((std::size_t{1} << bits) < nf) {
        ++bits;
    }
    for (std::size_t j = 0; j < nf; ++j) {
        std::size_t r = 0;
        for (unsigned b = 0; b < bits; ++b) {
            r |= ((j >> b) & 1u) << (bits - 1 - b);
        }
        reversed_[j] = r;
    }
    wre_.resize(nf > 1 ? nf - 1 : 1);
    wim_.resize(wre_.size());
    for (std::size_t half = 1; half < nf; half <<= 1) {
        for (std::size_t j = 0; j < half; ++j) {
            const double angle =
                std::numbers::pi * static_cast<double>(j) / static_cast<double>(half);
            wre_[half - 1 + j] = std::cos(angle);
            wim_[half - 1 + j] = std::sin(angle);
        }
    }
    work_.assign(nf);
}

void inverse_pairs::run(const split_complex& s1, const split_complex* s2) {
    const std::size_t n = n_;
    const std::size_t h = n / 2;
    double* re = work_.re.data();
    double* im = work_.im.data();
    // X[k] = S1[k] + i S2[k] on the rows k ≤ n/2, X[n − k] = conj(S1[k]) + i conj(S2[k]).
    const double* ar = s1.re.data();
    const double* ai = s1.im.data();
    if (s2 != nullptr) {
        const double* br = s2->re.data();
        const double* bi = s2->im.data();
        re[0] = ar[0];
        im[0] = br[0];
        re[h] = ar[h];
        im[h] = br[h];
        for (std::size_t k = 1; k < h; ++k) {
            re[k] = ar[k] - bi[k];
            im[k] = ai[k] + br[k];
            re[n - k] = ar[k] + bi[k];
            im[n - k] = br[k] - ai[k];
        }
    } else {
        re[0] = ar[0];
        im[0] = 0.0;
        re[h] = ar[h];
        im[h] = 0.0;
        for (std::size_t k = 1; k < h; ++k) {
            re[k] = ar[k];
            im[k] = ai[k];
            re[n - k] = ar[k];
            im[n - k] = -ai[k];
        }
    }
#if defined(__x86_64__)
    if (has_avx2()) {
        stages_avx2(n, re, im, wre_.data(), wim_.data());
        return;
    }
#endif
    stages_baseline(n, re, im, wre_.data(), wim_.data());
}

std::pair<double, double> inverse_pairs::peaks(std::size_t nt, double dt) {
    if (window_.size() != n_ || window_nt_ != nt) {
        window_.resize(n_);
        for (std::size_t p = 0; p < n_; ++p) {
            window_[p] = reversed_[p] < nt ? 1.0 : 0.0;
        }
        window_nt_ = nt;
    }
    std::pair<double, double> p;
#if defined(__x86_64__)
    if (has_avx2()) {
        p = peaks_avx2(n_, work_.re.data(), work_.im.data(), window_.data());
    } else
#endif
    {
        p = peaks_baseline(n_, work_.re.data(), work_.im.data(), window_.data());
    }
    const double scale = 1.0 / (static_cast<double>(n_) * dt);
    return {p.first * scale, p.second * scale};
}

void inverse_pairs::histories(double dt, std::vector<double>& x1, std::vector<double>& x2) const {
    const double scale = 1.0 / (static_cast<double>(n_) * dt);
    x1.resize(n_);
    x2.resize(n_);
    for (std::size_t p = 0; p < n_; ++p) {
        x1[reversed_[p]] = work_.re[p] * scale;
        x2[reversed_[p]] = work_.im[p] * scale;
    }
}

} // namespace sitewave::eql::detail
