// In-place radix-2 decimation-in-time transform: a bit-reversal reordering, then log2(n) passes of
// butterflies whose span doubles from pass to pass. Where the processor has vectors the
// butterflies go two at a time and two passes at a sweep over the data, every result bit the
// same as with one butterfly at a time.
#include "fft/wvfast.hpp"

#include "arith/elementary.hpp"
#include "arith/lanes.hpp"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <utility>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace sitewave::fft {

// pai is 3.1415925f, one unit in the last place below the float nearest to pi (3.1415927f).
// The twiddle angles, and so every result bit, depend on it.
constexpr float pai = 3.1415925f;

// Pass of half-span kmax, position k in a group: the angle is (k*ind) in integers, then times
// pai, then over kmax, each a float operation. Only the last pass's factors are kept (kmax =
// n/2): for kmax = (n/2)/s, s a power of two, the angle of (k, kmax) is that of (k*s, n/2) bit
// for bit, since scaling by a power of two is exact and commutes with each rounding.
twiddles::twiddles(std::size_t n, int ind) : n_(n), ind_(ind), w_(n > 1 ? n / 2 : 1) {
    assert(n == 0 || is_pow2(n));
    assert(ind == -1 || ind == 1);
    constexpr std::size_t chunk = 64;
    float angle[chunk], c[chunk], s[chunk];
    const std::size_t kmax = n / 2;
    for (std::size_t k0 = 0; k0 < kmax; k0 += chunk) {
        const std::size_t m = std::min(chunk, kmax - k0);
        for (std::size_t k = k0; k < k0 + m; ++k) {
            angle[k - k0] =
                static_cast<float>(static_cast<int>(k) * ind) * pai / static_cast<float>(kmax);
        }
        cos_sin_floats(angle, m, c, s);
        for (std::size_t j = 0; j < m; ++j) {
            w_[k0 + j] = cplx{c[j], s[j]};
        }
    }
}

twiddles twiddles::opposite() const {
    std::vector<cplx> w(w_.size());
    for (std::size_t k = 1; k < w.size(); ++k) {
        w[k] = cplx{w_[k].re, -w_[k].im};
    }
    w[0] = w_[0];
    return twiddles(n_, -ind_, std::move(w));
}

namespace {

// One pass of butterflies at a time, one butterfly at a time: kmax is the half-span of the pass.
// The butterflies of a pass are independent of each other, so they go group by group, k running
// inside the group.
void scalar_passes(cplx* const data, const std::size_t n, const cplx* const w) {
    for (std::size_t kmax = 1; kmax < n; kmax *= 2) {
        const std::size_t stride = n / 2 / kmax;
        for (std::size_t i = 0; i < n; i += 2 * kmax) {
            cplx* const lo = data + i;
            cplx* const hi = lo + kmax;
            for (std::size_t k = 0; k < kmax; ++k) {
                const cplx temp = hi[k] * w[k * stride];
                hi[k] = lo[k] - temp; // both from the old lo[k]
                lo[k] = lo[k] + temp;
            }
        }
    }
}

#if defined(__x86_64__)

// The same passes with vectors, two butterflies at a time: their two hi values (four floats)
// are widened to one vector of W = 4 doubles (AVX2) or to two of W = 2 (the registers of every
// x86-64 processor), multiplied by their factors, rounded back to four floats, and added to and
// subtracted from the two lo values. The product hi * w is formed as the scalar operator* forms
// it: the four parts widened to double, the exact partial products combined in double, each part
// rounded to float once; the real part is ar*br + ai*(-bi), which is ar*br - ai*bi exactly. The
// sum and the difference with lo are float operations part by part. So every element goes
// through the same operations, in the same order, as with one butterfly at a time.

// Two complex values as four floats.
using pair = vf_t<4>;

SITEWAVE_LANE_INLINE pair load_pair(const cplx* p) {
    pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
SITEWAVE_LANE_INLINE void store_pair(cplx* p, const pair& v) {
    std::memcpy(static_cast<void*>(p), &v, sizeof v);
}
// One complex value, in the low half.
SITEWAVE_LANE_INLINE pair load_one(const cplx* p) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}
// The first two floats of a and the first two of b; the last two of each.
SITEWAVE_LANE_INLINE pair firsts(const pair& a, const pair& b) {
    return __builtin_shufflevector(a, b, 0, 1, 4, 5);
}
SITEWAVE_LANE_INLINE pair seconds(const pair& a, const pair& b) {
    return __builtin_shufflevector(a, b, 2, 3, 6, 7);
}

// The first W/2 complex values of v in double.
template <std::size_t W> SITEWAVE_LANE_INLINE vd_t<W> widen(const pair& v) {
    if constexpr (W == 2) {
        return _mm_cvtps_pd(v);
    } else {
        return wide<4>(v);
    }
}
// W/2 complex values rounded to float, in the low half of the result.
template <std::size_t W> SITEWAVE_LANE_INLINE pair round_f(const vd_t<W>& x) {
    if constexpr (W == 2) {
        return _mm_cvtpd_ps(x);
    } else {
        return narrow<4>(x);
    }
}

// h * w for W/2 complex values h = (ar, ai, ...) in double, rounded to float: r and i are the
// multipliers of (ar, ai) and of (ai, ar) that the factors make, (br, br, ...) and
// (-bi, bi, ...).
template <std::size_t W>
SITEWAVE_LANE_INLINE pair product(const vd_t<W>& h, const double* r, const double* i) {
    vd_t<W> swapped;
    if constexpr (W == 4) {
        swapped = __builtin_shufflevector(h, h, 1, 0, 3, 2);
    } else {
        swapped = __builtin_shufflevector(h, h, 1, 0);
    }
    return round_f<W>(h * load_d<W>(r) + swapped * load_d<W>(i));
}

// h * w for the two complex values of h, r[0..3] and i[0..3] the multipliers of their factors.
template <std::size_t W>
SITEWAVE_LANE_INLINE pair times(const pair& h, const double* r, const double* i) {
    if constexpr (W == 4) {
        return product<4>(widen<4>(h), r, i);
    } else {
        return firsts(product<2>(widen<2>(h), r, i),
                      product<2>(widen<2>(seconds(h, h)), r + 2, i + 2));
    }
}

// Factors spread out as the multipliers product takes: r[2j] = r[2j+1] = br and
// -i[2j] = i[2j+1] = bi for factor j.
template <std::size_t N> struct spread {
    alignas(32) double r[2 * N];
    alignas(32) double i[2 * N];

    // The m factors w[k * stride], k = k0, k0+1, ...; m is even.
    template <std::size_t W>
    SITEWAVE_LANE_INLINE void fill(const cplx* w, std::size_t k0, std::size_t m,
                                   std::size_t stride) {
        for (std::size_t j = 0; j < m; j += W / 2) {
            pair b;
            if constexpr (W == 4) {
                b = stride == 1 ? load_pair(w + k0 + j)
                                : firsts(load_one(w + (k0 + j) * stride),
                                         load_one(w + (k0 + j + 1) * stride));
            } else {
                b = load_one(w + (k0 + j) * stride);
            }
            const vd_t<W> d = widen<W>(b);
            if constexpr (W == 4) {
                store_d<4>(r + 2 * j, __builtin_shufflevector(d, d, 0, 0, 2, 2));
                store_d<4>(i + 2 * j, __builtin_shufflevector(d, d, 1, 1, 3, 3) *
                                          vd_t<4>{-1.0, 1.0, -1.0, 1.0});
            } else {
                store_d<2>(r + 2 * j, __builtin_shufflevector(d, d, 0, 0));
                store_d<2>(i + 2 * j, __builtin_shufflevector(d, d, 1, 1) * vd_t<2>{-1.0, 1.0});
            }
        }
    }
};

// The pass of half-span 1 (n >= 4): every butterfly has the factor w[0], its lo and hi next to
// each other; the lo and hi values of two butterflies are gathered, then put back.
template <std::size_t W>
SITEWAVE_LANE_INLINE void first_pass(cplx* const data, const std::size_t n, const cplx* const w) {
    spread<2> f;
    f.fill<W>(w, 0, 2, 0);
    for (std::size_t i = 0; i < n; i += 4) {
        const pair u = load_pair(data + i);
        const pair v = load_pair(data + i + 2);
        const pair l = firsts(u, v);
        const pair temp = times<W>(seconds(u, v), f.r, f.i);
        const pair hi = l - temp;
        const pair lo = l + temp;
        store_pair(data + i, firsts(lo, hi));
        store_pair(data + i + 2, seconds(lo, hi));
    }
}

// The number of factors of a pass taken at a time: converted to double and spread once for
// every group of the pass.
constexpr std::size_t factor_block = 128;

// The pass of half-span kmax >= 2, factors w[k * (n/2)/kmax].
template <std::size_t W>
SITEWAVE_LANE_INLINE void one_pass(cplx* const data, const std::size_t n, const std::size_t kmax,
                                   const cplx* const w) {
    spread<factor_block> f;
    for (std::size_t k0 = 0; k0 < kmax; k0 += factor_block) {
        const std::size_t m = std::min(factor_block, kmax - k0);
        f.fill<W>(w, k0, m, n / 2 / kmax);
        for (std::size_t i = 0; i < n; i += 2 * kmax) {
            cplx* const lo = data + i + k0;
            cplx* const hi = lo + kmax;
            for (std::size_t j = 0; j < m; j += 2) {
                const pair temp = times<W>(load_pair(hi + j), f.r + 2 * j, f.i + 2 * j);
                const pair l = load_pair(lo + j);
                store_pair(hi + j, l - temp); // both from the old lo
                store_pair(lo + j, l + temp);
            }
        }
    }
}

// The passes of half-spans kmax >= 2 and 2*kmax < n in one sweep: in a group of 4*kmax, the
// values at k, kmax+k, 2*kmax+k and 3*kmax+k go through their butterflies of the first pass,
// (0, 1) and (2, 3) with factor k, then those of the second, (0, 2) with factor k and (1, 3)
// with factor kmax+k, and are stored once.
template <std::size_t W>
SITEWAVE_LANE_INLINE void two_passes(cplx* const data, const std::size_t n, const std::size_t kmax,
                                     const cplx* const w) {
    const std::size_t stride = n / 2 / kmax; // of the first pass; the second's is half of it
    spread<factor_block> f1, f2, f3;
    for (std::size_t k0 = 0; k0 < kmax; k0 += factor_block) {
        const std::size_t m = std::min(factor_block, kmax - k0);
        f1.fill<W>(w, k0, m, stride);
        f2.fill<W>(w, k0, m, stride / 2);
        f3.fill<W>(w, kmax + k0, m, stride / 2);
        for (std::size_t i = 0; i < n; i += 4 * kmax) {
            cplx* const p0 = data + i + k0;
            cplx* const p1 = p0 + kmax;
            cplx* const p2 = p1 + kmax;
            cplx* const p3 = p2 + kmax;
            for (std::size_t j = 0; j < m; j += 2) {
                const double* const r1 = f1.r + 2 * j;
                const double* const i1 = f1.i + 2 * j;
                pair x0 = load_pair(p0 + j);
                pair temp = times<W>(load_pair(p1 + j), r1, i1);
                const pair x1 = x0 - temp;
                x0 = x0 + temp;
                pair x2 = load_pair(p2 + j);
                temp = times<W>(load_pair(p3 + j), r1, i1);
                const pair x3 = x2 - temp;
                x2 = x2 + temp;
                temp = times<W>(x2, f2.r + 2 * j, f2.i + 2 * j);
                store_pair(p2 + j, x0 - temp);
                store_pair(p0 + j, x0 + temp);
                temp = times<W>(x3, f3.r + 2 * j, f3.i + 2 * j);
                store_pair(p3 + j, x1 - temp);
                store_pair(p1 + j, x1 + temp);
            }
        }
    }
}

// All passes (n >= 4), two a sweep while two remain.
template <std::size_t W>
SITEWAVE_LANE_INLINE void vector_passes(cplx* const data, const std::size_t n,
                                        const cplx* const w) {
    first_pass<W>(data, n, w);
    for (std::size_t kmax = 2; kmax < n; kmax *= 2) {
        if (2 * kmax < n) {
            two_passes<W>(data, n, kmax, w);
            kmax *= 2;
        } else {
            one_pass<W>(data, n, kmax, w);
        }
    }
}

void vector_passes_baseline(cplx* const data, const std::size_t n, const cplx* const w) {
    vector_passes<2>(data, n, w);
}

[[gnu::target("avx2")]] void vector_passes_avx2(cplx* const data, const std::size_t n,
                                                const cplx* const w) {
    vector_passes<4>(data, n, w);
}

#endif

} // namespace

void wvfast(std::span<cplx> a, int ind) { wvfast(a, ind, twiddles(a.size(), ind)); }

void wvfast(std::span<cplx> a, int ind, const twiddles& tw, butterflies kind) {
    const std::size_t n = a.size();
    assert(n == 0 || is_pow2(n));
    assert(tw.size() == n && tw.direction() == ind);
    (void)ind;
    if (n <= 1) {
        return;
    }

    // Reordering: element i trades places with element r(i), i with its log2(n) bits reversed;
    // each pair is exchanged once (when i < j). j runs through r(0), r(1), ... by adding 1 to the
    // reversed number: clear its leading ones from the top bit down, then set the first zero bit.
    // The clearing stops once m has come down to 1; it would only matter after the last element.
    std::size_t j = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i < j) {
            std::swap(a[i], a[j]);
        }
        std::size_t m = n / 2;
        while (j >= m) {
            j -= m;
            m /= 2;
            if (m <= 1) {
                break;
            }
        }
        j += m;
    }

    // Butterflies: log2(n) passes, the half-span doubling from 1 to n/2.
#if defined(__x86_64__)
    if (kind != butterflies::scalar && n >= 4) {
        if (kind == butterflies::widest && __builtin_cpu_supports("avx2")) {
            vector_passes_avx2(a.data(), n, tw.last());
        } else {
            vector_passes_baseline(a.data(), n, tw.last());
        }
        return;
    }
#else
    (void)kind;
#endif
    scalar_passes(a.data(), n, tw.last());
}

} // namespace sitewave::fft
