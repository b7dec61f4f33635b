// Vectors of W rows for the table kernels (W = 2: the instructions every x86-64 has; W = 4:
// AVX2): the compiler's vector types, on which + - * / and the conversions act element by
// element exactly as on single values, and a few helpers on them.
//
// The kernels are always inlined into the block function of their width, so no call passes a
// vector between functions compiled for different instruction sets (hence -Wpsabi, about such
// calls, is silenced).
#pragma once

#include <cstddef>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#pragma GCC diagnostic ignored "-Wpsabi"

namespace sitewave {

template <std::size_t W> struct lanes_of;
template <> struct lanes_of<2> {
    typedef double vd __attribute__((vector_size(16)));
    typedef float vf __attribute__((vector_size(8)));
    typedef long vi __attribute__((vector_size(16)));
};
template <> struct lanes_of<4> {
    typedef double vd __attribute__((vector_size(32)));
    typedef float vf __attribute__((vector_size(16)));
    typedef long vi __attribute__((vector_size(32)));
};
template <std::size_t W> using vd_t = typename lanes_of<W>::vd;
template <std::size_t W> using vf_t = typename lanes_of<W>::vf;
// 64-bit integers, and the masks of comparisons of doubles.
template <std::size_t W> using vi_t = typename lanes_of<W>::vi;

#define SITEWAVE_LANE_INLINE [[gnu::always_inline]] inline

// The bits of a vector as another vector type of the same size.
template <typename To, typename From> SITEWAVE_LANE_INLINE To same_bits(const From& v) {
    static_assert(sizeof(To) == sizeof(From));
    To t;
    std::memcpy(&t, &v, sizeof t);
    return t;
}

template <std::size_t W> SITEWAVE_LANE_INLINE vf_t<W> load(const float* p) {
    vf_t<W> v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <std::size_t W> SITEWAVE_LANE_INLINE vd_t<W> load_d(const double* p) {
    vd_t<W> v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <std::size_t W> SITEWAVE_LANE_INLINE void store(float* p, vf_t<W> v) {
    std::memcpy(p, &v, sizeof v);
}
template <std::size_t W> SITEWAVE_LANE_INLINE void store_d(double* p, const vd_t<W>& v) {
    std::memcpy(p, &v, sizeof v);
}
template <std::size_t W> SITEWAVE_LANE_INLINE vd_t<W> wide(vf_t<W> x) {
#if defined(__x86_64__) && !defined(__clang__)
    if constexpr (W == 4) {
        // One instruction (the AVX2 kernels, where W = 4, may use it): GCC makes the general
        // conversion of two halves put together, one of them through memory.
        return __builtin_ia32_cvtps2pd256(x);
    }
#endif
    return __builtin_convertvector(x, vd_t<W>);
}
template <std::size_t W> SITEWAVE_LANE_INLINE vf_t<W> narrow(const vd_t<W>& x) {
    return __builtin_convertvector(x, vf_t<W>);
}
template <std::size_t W> SITEWAVE_LANE_INLINE vd_t<W> splat_d(double x) {
    vd_t<W> v;
    for (std::size_t i = 0; i < W; ++i) {
        v[i] = x;
    }
    return v;
}
template <std::size_t W> SITEWAVE_LANE_INLINE vi_t<W> splat_i(long x) {
    vi_t<W> v;
    for (std::size_t i = 0; i < W; ++i) {
        v[i] = x;
    }
    return v;
}
template <std::size_t W> SITEWAVE_LANE_INLINE vf_t<W> splat_f(float x) {
    vf_t<W> v;
    for (std::size_t i = 0; i < W; ++i) {
        v[i] = x;
    }
    return v;
}

// Whether every lane of a mask (lanes all ones or all zeros) is set.
template <std::size_t W> SITEWAVE_LANE_INLINE bool all_set(const vi_t<W>& m) {
#if defined(__x86_64__) && !defined(__clang__)
    // The lanes' sign bits gathered in one instruction (the AVX2 kernels where W = 4).
    if constexpr (W == 4) {
        return __builtin_ia32_movmskpd256(same_bits<vd_t<4>>(m)) == 0xF;
    } else {
        static_assert(W == 2);
        return _mm_movemask_pd(same_bits<vd_t<2>>(m)) == 0x3;
    }
#else
    if constexpr (W == 4) {
        return all_set<2>(__builtin_shufflevector(m, m, 0, 1) &
                          __builtin_shufflevector(m, m, 2, 3));
    } else {
        static_assert(W == 2);
        return (m[0] & m[1]) != 0;
    }
#endif
}

// Correctly rounded square roots, two at a time, the halves of a wider vector taken apart and
// put together in registers (a round trip through memory would stall on the reload).
template <std::size_t W> SITEWAVE_LANE_INLINE vd_t<W> sqrt_v(const vd_t<W>& x) {
#if defined(__SSE2__)
    if constexpr (W == 2) {
        return _mm_sqrt_pd(x);
    } else {
        static_assert(W == 4);
        const vd_t<2> lo = __builtin_shufflevector(x, x, 0, 1);
        const vd_t<2> hi = __builtin_shufflevector(x, x, 2, 3);
        return __builtin_shufflevector(sqrt_v<2>(lo), sqrt_v<2>(hi), 0, 1, 2, 3);
    }
#else
    vd_t<W> r = x;
    for (std::size_t i = 0; i < W; ++i) {
        r[i] = __builtin_sqrt(x[i]);
    }
    return r;
#endif
}

} // namespace sitewave
