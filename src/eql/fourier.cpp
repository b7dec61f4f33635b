// Decimation in frequency: the spectrum is taken in its natural order, each stage splits blocks
// in four (a first stage in two when the length is an odd power of two), and the history comes
// out in bit-reversed order, which a peak does not mind. A radix-4 stage is two radix-2 stages
// done at once, with three twiddles per four points instead of four:
//   y0 = (a0 + a2) + (a1 + a3)                 at j
//   y1 = ((a0 + a2) − (a1 + a3)) W^{2j}        at j + q
//   y2 = ((a0 − a2) + i (a1 − a3)) W^{j}       at j + 2q
//   y3 = ((a0 − a2) − i (a1 − a3)) W^{3j}      at j + 3q
// with a_r = x[j + rq], W = e^{2πi/(4q)}, j < q. The butterflies of a block share nothing but
// their twiddles, so each stage's inner loop runs on vectors; it is built once for the vectors
// every x86-64 processor has and once for AVX2, chosen at run time.
#include "eql/fourier.hpp"

#include "arith/vectors.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>

namespace sitewave::eql::detail {

// The twiddles of a radix-4 stage of blocks of 4q.
struct stage_twiddles {
    std::size_t q = 0;
    std::vector<double> r1, i1, r2, i2, r3, i3; // W^j, W^{2j}, W^{3j}
};

namespace {

inline void radix2_body(std::size_t n, double* re, double* im, const double* tr, const double* ti) {
    const std::size_t half = n / 2;
    SITEWAVE_INDEPENDENT
    for (std::size_t j = 0; j < half; ++j) {
        const double ar = re[j], ai = im[j], br = re[j + half], bi = im[j + half];
        re[j] = ar + br;
        im[j] = ai + bi;
        const double dr = ar - br, di = ai - bi;
        re[j + half] = dr * tr[j] - di * ti[j];
        im[j + half] = dr * ti[j] + di * tr[j];
    }
}

inline void radix4_body(std::size_t n, double* re, double* im, const stage_twiddles& t) {
    const std::size_t q = t.q;
    const double *w1r = t.r1.data(), *w1i = t.i1.data(), *w2r = t.r2.data(), *w2i = t.i2.data(),
                 *w3r = t.r3.data(), *w3i = t.i3.data();
    for (std::size_t b = 0; b < n; b += 4 * q) {
        double *r0 = re + b, *r1 = re + b + q, *r2 = re + b + 2 * q, *r3 = re + b + 3 * q;
        double *i0 = im + b, *i1 = im + b + q, *i2 = im + b + 2 * q, *i3 = im + b + 3 * q;
        SITEWAVE_INDEPENDENT
        for (std::size_t j = 0; j < q; ++j) {
            const double sr = r0[j] + r2[j], si = i0[j] + i2[j];
            const double dr = r0[j] - r2[j], di = i0[j] - i2[j];
            const double tr = r1[j] + r3[j], ti = i1[j] + i3[j];
            const double ur = -(i1[j] - i3[j]), ui = r1[j] - r3[j]; // i (a1 − a3)
            const double y1r = sr - tr, y1i = si - ti;
            const double y2r = dr + ur, y2i = di + ui;
            const double y3r = dr - ur, y3i = di - ui;
            r0[j] = sr + tr;
            i0[j] = si + ti;
            r1[j] = y1r * w2r[j] - y1i * w2i[j];
            i1[j] = y1r * w2i[j] + y1i * w2r[j];
            r2[j] = y2r * w1r[j] - y2i * w1i[j];
            i2[j] = y2r * w1i[j] + y2i * w1r[j];
            r3[j] = y3r * w3r[j] - y3i * w3i[j];
            i3[j] = y3r * w3i[j] + y3i * w3r[j];
        }
    }
}

// The last radix-4 stage (q = 1): no twiddle.
inline void last4_body(std::size_t n, double* re, double* im) {
    for (std::size_t b = 0; b < n; b += 4) {
        const double sr = re[b] + re[b + 2], si = im[b] + im[b + 2];
        const double dr = re[b] - re[b + 2], di = im[b] - im[b + 2];
        const double tr = re[b + 1] + re[b + 3], ti = im[b + 1] + im[b + 3];
        const double ur = -(im[b + 1] - im[b + 3]), ui = re[b + 1] - re[b + 3];
        re[b] = sr + tr;
        im[b] = si + ti;
        re[b + 1] = sr - tr;
        im[b + 1] = si - ti;
        re[b + 2] = dr + ur;
        im[b + 2] = di + ui;
        re[b + 3] = dr - ur;
        im[b + 3] = di - ui;
    }
}

// Points of a block whose real and imaginary parts (16 KiB) stay in the first-level cache.
constexpr std::size_t cached_block = 1024;

inline void stages_body(std::size_t n, double* re, double* im, const double* r2r, const double* r2i,
                        const stage_twiddles* st, std::size_t stages) {
    if (n == 2) {
        const double ar = re[0], ai = im[0], br = re[1], bi = im[1];
        re[0] = ar + br;
        im[0] = ai + bi;
        re[1] = ar - br;
        im[1] = ai - bi;
        return;
    }
    if (r2r != nullptr) {
        radix2_body(n, re, im, r2r, r2i);
    }
    const auto stage = [&](std::size_t len, double* r, double* i, const stage_twiddles& t) {
        if (t.q == 1) {
            last4_body(len, r, i);
        } else {
            radix4_body(len, r, i, t);
        }
    };
    for (std::size_t s = 0; s < stages; ++s) {
        if (4 * st[s].q <= cached_block && n > cached_block) {
            // The stages left work within blocks that fit the first-level cache: each block
            // through all of them, then the next.
            for (std::size_t b = 0; b < n; b += cached_block) {
                for (std::size_t t = s; t < stages; ++t) {
                    stage(cached_block, re + b, im + b, st[t]);
                }
            }
            return;
        }
        stage(n, re, im, st[s]);
    }
}

// The largest |x|·window of each history. Eight running maxima a history, one per lane of a
// vector, so that the loop runs on vectors; a maximum is exact, whatever the order.
inline std::pair<double, double> peaks_body(std::size_t n, const double* re, const double* im,
                                            const double* window) {
    using lanes = double __attribute__((vector_size(8 * sizeof(double))));
    constexpr std::size_t width = sizeof(lanes) / sizeof(double);
    lanes m1 = {}, m2 = {};
    std::size_t j = 0;
    for (; j + width <= n; j += width) {
        lanes x, y, w;
        std::memcpy(&x, re + j, sizeof x);
        std::memcpy(&y, im + j, sizeof y);
        std::memcpy(&w, window + j, sizeof w);
        x = (x < 0.0 ? -x : x) * w;
        y = (y < 0.0 ? -y : y) * w;
        m1 = m1 < x ? x : m1; // std::max(m1, x), lane by lane
        m2 = m2 < y ? y : m2;
    }
    double p1 = 0.0, p2 = 0.0;
    for (std::size_t l = 0; l < width; ++l) {
        p1 = std::max(p1, m1[l]);
        p2 = std::max(p2, m2[l]);
    }
    for (; j < n; ++j) {
        p1 = std::max(p1, std::fabs(re[j]) * window[j]);
        p2 = std::max(p2, std::fabs(im[j]) * window[j]);
    }
    return {p1, p2};
}

// X[k] = S1[k] q[k] + i S2[k] q[k] on the rows k ≤ n/2 (imaginary parts of rows 0 and n/2
// dropped), X[n − k] its Hermitian mirror; without q, q = 1; without s2, S2 = 0.
template <bool with_q, bool with_s2>
inline void fill_rows(std::size_t n, double* re, double* im, const double* ar, const double* ai,
                      const double* br, const double* bi, const double* qr, const double* qi) {
    const std::size_t h = n / 2;
    SITEWAVE_INDEPENDENT
    for (std::size_t k = 1; k < h; ++k) {
        const double q_r = with_q ? qr[k] : 1.0, q_i = with_q ? qi[k] : 0.0;
        const double xr = ar[k] * q_r - ai[k] * q_i, xi = ar[k] * q_i + ai[k] * q_r;
        const double yr = with_s2 ? br[k] * q_r - bi[k] * q_i : 0.0;
        const double yi = with_s2 ? br[k] * q_i + bi[k] * q_r : 0.0;
        // X[k] = x + i y, X[n − k] = conj(x) + i conj(y).
        re[k] = xr - yi;
        im[k] = xi + yr;
        re[n - k] = xr + yi;
        im[n - k] = yr - xi;
    }
    const double q0 = with_q ? qr[0] : 1.0, qh = with_q ? qr[h] : 1.0;
    re[0] = ar[0] * q0;
    im[0] = with_s2 ? br[0] * q0 : 0.0;
    re[h] = ar[h] * qh;
    im[h] = with_s2 ? br[h] * qh : 0.0;
}

inline void fill_body(std::size_t n, double* re, double* im, const double* ar, const double* ai,
                      const double* br, const double* bi, const double* qr, const double* qi) {
    if (qr != nullptr && br != nullptr) {
        fill_rows<true, true>(n, re, im, ar, ai, br, bi, qr, qi);
    } else if (qr != nullptr) {
        fill_rows<true, false>(n, re, im, ar, ai, br, bi, qr, qi);
    } else if (br != nullptr) {
        fill_rows<false, true>(n, re, im, ar, ai, br, bi, qr, qi);
    } else {
        fill_rows<false, false>(n, re, im, ar, ai, br, bi, qr, qi);
    }
}

#if defined(__x86_64__)
#define SITEWAVE_VARIANTS(isa, suffix)                                                             \
    [[gnu::target(isa), gnu::flatten]] void stages_##suffix(                                       \
        std::size_t n, double* re, double* im, const double* r2r, const double* r2i,               \
        const stage_twiddles* st, std::size_t stages) {                                            \
        stages_body(n, re, im, r2r, r2i, st, stages);                                              \
    }                                                                                              \
    [[gnu::target(isa), gnu::flatten]] std::pair<double, double> peaks_##suffix(                   \
        std::size_t n, const double* re, const double* im, const double* window) {                 \
        return peaks_body(n, re, im, window);                                                      \
    }                                                                                              \
    [[gnu::target(isa), gnu::flatten]] void fill_##suffix(                                         \
        std::size_t n, double* re, double* im, const double* ar, const double* ai,                 \
        const double* br, const double* bi, const double* qr, const double* qi) {                  \
        fill_body(n, re, im, ar, ai, br, bi, qr, qi);                                              \
    }
SITEWAVE_VARIANTS("avx2", avx2)
SITEWAVE_VARIANTS("avx512f", avx512)
#undef SITEWAVE_VARIANTS
#endif

} // namespace

struct inverse_pairs::twiddles {
    std::vector<std::size_t> reversed; // the bit-reversed place of each sample
    std::vector<double> r2r, r2i;      // the first radix-2 stage, when there is one
    std::vector<stage_twiddles> stages;
};

namespace {

std::shared_ptr<const inverse_pairs::twiddles> make_twiddles(std::size_t nf) {
    auto t = std::make_shared<inverse_pairs::twiddles>();
    unsigned bits = 0;
    while ((std::size_t{1} << bits) < nf) {
        ++bits;
    }
    t->reversed.resize(nf);
    for (std::size_t j = 0; j < nf; ++j) {
        std::size_t r = 0;
        for (unsigned b = 0; b < bits; ++b) {
            r |= ((j >> b) & 1u) << (bits - 1 - b);
        }
        t->reversed[j] = r;
    }
    const auto w = [](std::size_t j, std::size_t len) {
        const double angle =
            2.0 * std::numbers::pi * static_cast<double>(j) / static_cast<double>(len);
        return std::pair{std::cos(angle), std::sin(angle)};
    };
    std::size_t block = nf;
    if (nf > 2 && bits % 2 == 1) {
        for (std::size_t j = 0; j < nf / 2; ++j) {
            const auto [c, s] = w(j, nf);
            t->r2r.push_back(c);
            t->r2i.push_back(s);
        }
        block = nf / 2;
    }
    for (; nf > 2 && block >= 4; block /= 4) {
        stage_twiddles st;
        st.q = block / 4;
        for (std::size_t j = 0; j < st.q; ++j) {
            const auto [c1, s1] = w(j, block);
            const auto [c2, s2] = w(2 * j, block);
            const auto [c3, s3] = w(3 * j, block);
            st.r1.push_back(c1);
            st.i1.push_back(s1);
            st.r2.push_back(c2);
            st.i2.push_back(s2);
            st.r3.push_back(c3);
            st.i3.push_back(s3);
        }
        t->stages.push_back(std::move(st));
    }
    return t;
}

// The tables of the lengths last used, shared by every transform of those lengths (the runs of a
// batch mostly share one or two).
std::shared_ptr<const inverse_pairs::twiddles> shared_twiddles(std::size_t nf) {
    static std::mutex mutex;
    static std::vector<std::shared_ptr<const inverse_pairs::twiddles>> kept;
    const std::lock_guard lock(mutex);
    for (const auto& t : kept) {
        if (t->reversed.size() == nf) {
            return t;
        }
    }
    auto t = make_twiddles(nf);
    if (kept.size() == 4) {
        kept.erase(kept.begin());
    }
    kept.push_back(t);
    return t;
}

} // namespace

inverse_pairs::inverse_pairs(std::size_t nf) : n_(nf), twiddles_(shared_twiddles(nf)) {
    work_.assign(nf);
}

void inverse_pairs::run(const split_complex& s1, const split_complex* s2) {
    run_times(s1, s2, nullptr);
}

void inverse_pairs::run_times(const split_complex& s1, const split_complex* s2,
                              const split_complex* q) {
    const std::size_t n = n_;
    double* re = work_.re.data();
    double* im = work_.im.data();
    const double* br = s2 != nullptr ? s2->re.data() : nullptr;
    const double* bi = s2 != nullptr ? s2->im.data() : nullptr;
    const double* qr = q != nullptr ? q->re.data() : nullptr;
    const double* qi = q != nullptr ? q->im.data() : nullptr;
    const auto& t = *twiddles_;
    const double* r2r = t.r2r.empty() ? nullptr : t.r2r.data();
    const double* r2i = t.r2i.empty() ? nullptr : t.r2i.data();
#if defined(__x86_64__)
    switch (arith::vector_level()) {
    case arith::vectors::avx512:
        fill_avx512(n, re, im, s1.re.data(), s1.im.data(), br, bi, qr, qi);
        stages_avx512(n, re, im, r2r, r2i, t.stages.data(), t.stages.size());
        return;
    case arith::vectors::avx2:
        fill_avx2(n, re, im, s1.re.data(), s1.im.data(), br, bi, qr, qi);
        stages_avx2(n, re, im, r2r, r2i, t.stages.data(), t.stages.size());
        return;
    case arith::vectors::baseline:
        break;
    }
#endif
    fill_body(n, re, im, s1.re.data(), s1.im.data(), br, bi, qr, qi);
    stages_body(n, re, im, r2r, r2i, t.stages.data(), t.stages.size());
}

std::pair<double, double> inverse_pairs::peaks(std::size_t nt, double dt) {
    if (window_.size() != n_ || window_nt_ != nt) {
        window_.resize(n_);
        for (std::size_t p = 0; p < n_; ++p) {
            window_[p] = twiddles_->reversed[p] < nt ? 1.0 : 0.0;
        }
        window_nt_ = nt;
    }
    const double* re = work_.re.data();
    const double* im = work_.im.data();
    std::pair<double, double> p;
#if defined(__x86_64__)
    switch (arith::vector_level()) {
    case arith::vectors::avx512:
        p = peaks_avx512(n_, re, im, window_.data());
        break;
    case arith::vectors::avx2:
        p = peaks_avx2(n_, re, im, window_.data());
        break;
    case arith::vectors::baseline:
        p = peaks_body(n_, re, im, window_.data());
        break;
    }
#else
    p = peaks_body(n_, re, im, window_.data());
#endif
    const double scale = 1.0 / (static_cast<double>(n_) * dt);
    return {p.first * scale, p.second * scale};
}

void inverse_pairs::histories(double dt, std::vector<double>& x1, std::vector<double>& x2) const {
    const double scale = 1.0 / (static_cast<double>(n_) * dt);
    x1.resize(n_);
    x2.resize(n_);
    for (std::size_t p = 0; p < n_; ++p) {
        x1[twiddles_->reversed[p]] = work_.re[p] * scale;
        x2[twiddles_->reversed[p]] = work_.im[p] * scale;
    }
}

} // namespace sitewave::eql::detail
