// Exponential, sine and cosine of W rows at a time, for values that are rounded to float next.
//
// The tables store e^(x) cos y and the like, the library's double results multiplied in double
// and rounded to float. These vector versions come within 2^-48 of the library's double results
// (the library's own error included); when every double within 2^-40 of such a product rounds
// to the same float, that float is the one the library gives, and `settled` says so. Lanes that
// are not settled, or whose arguments lie outside the ranges below, are evaluated again with the
// library, so every stored bit is the library's.
#pragma once

#include "arith/lanes.hpp"
#include "arith/real.hpp"

namespace sitewave {

// The ranges where the vector versions hold: |x| below 700 for e^x (no overflow or subnormal
// result in double), |y| below 2^20 for sin y and cos y (the reduction below stays exact).
inline constexpr double exp_limit = 700.0;
inline constexpr double trig_limit = 0x1p20;

// 1/n!, n = 0..17.
inline constexpr double inverse_factorial[] = {1.0,
                                               1.0,
                                               1.0 / 2.0,
                                               1.0 / 6.0,
                                               1.0 / 24.0,
                                               1.0 / 120.0,
                                               1.0 / 720.0,
                                               1.0 / 5040.0,
                                               1.0 / 40320.0,
                                               1.0 / 362880.0,
                                               1.0 / 3628800.0,
                                               1.0 / 39916800.0,
                                               1.0 / 479001600.0,
                                               1.0 / 6227020800.0,
                                               1.0 / 87178291200.0,
                                               1.0 / 1307674368000.0,
                                               1.0 / 20922789888000.0,
                                               1.0 / 355687428096000.0};

// 1.5 * 2^52: added to a value below 2^51 in magnitude, it leaves that value rounded to an
// integer in the low bits of the sum.
inline constexpr double round_shift = 0x1.8p52;

template <std::size_t W> SITEWAVE_LANE_INLINE vd_t<W> abs_v(const vd_t<W>& x) {
    const vd_t<W> zero{};
    return x < zero ? -x : x;
}

// e^x and e^-x for |x| < exp_limit, from one reduction: x = k ln2 + r with |r| <= ln2/2 (k ln2
// in two parts, the first exact for any such k), e^(+-x) = 2^(+-k) e^(+-r), and e^(+-r) = E +- O
// from the even and odd terms of the Taylor series to r^12 (the rest below 2^-51 of it; E is
// about cosh r >= 1 and O about sinh r, so neither sum cancels).
template <std::size_t W>
SITEWAVE_LANE_INLINE void exp_pair_v(const vd_t<W>& x, vd_t<W>& up, vd_t<W>& down) {
    const vd_t<W> shift = splat_d<W>(round_shift);
    const vd_t<W> z = x * splat_d<W>(0x1.71547652b82fep0) + shift; // x / ln2
    const vd_t<W> k = z - shift;
    const vd_t<W> r = (x - k * splat_d<W>(0x1.62e42feep-1)) - k * splat_d<W>(0x1.a39ef35793c76p-33);
    const vd_t<W> r2 = r * r;
    vd_t<W> even = splat_d<W>(inverse_factorial[12]);
    vd_t<W> odd = splat_d<W>(inverse_factorial[11]);
    for (int n = 10; n >= 0; n -= 2) {
        even = even * r2 + splat_d<W>(inverse_factorial[n]);
        if (n > 0) {
            odd = odd * r2 + splat_d<W>(inverse_factorial[n - 1]);
        }
    }
    odd = odd * r;
    const vi_t<W> ki = same_bits<vi_t<W>>(z) - same_bits<vi_t<W>>(shift);
    up = (even + odd) * same_bits<vd_t<W>>((ki + 1023) << 52);
    down = (even - odd) * same_bits<vd_t<W>>((1023 - ki) << 52);
}

// sin y and cos y for |y| < trig_limit: y = q pi/2 + r with |r| <= pi/4 (q pi/2 in three parts,
// the first two exact for any such q), and the Taylor series of sin r to r^15 and cos r to r^16.
// `held` is false where r came out so close to 0 that its relative error could matter.
template <std::size_t W>
SITEWAVE_LANE_INLINE void sincos_v(const vd_t<W>& y, vd_t<W>& sn, vd_t<W>& cs, vi_t<W>& held) {
    const vd_t<W> shift = splat_d<W>(round_shift);
    const vd_t<W> z = y * splat_d<W>(0x1.45f306dc9c883p-1) + shift; // y / (pi/2)
    const vd_t<W> q = z - shift;
    const vd_t<W> r = ((y - q * splat_d<W>(0x1.921fb544p0)) - q * splat_d<W>(0x1.0b4611a6p-34)) -
                      q * splat_d<W>(0x1.3198a2e037073p-69);
    const vd_t<W> r2 = r * r;
    vd_t<W> s = splat_d<W>(-inverse_factorial[15]);
    for (int n = 13; n >= 3; n -= 2) {
        s = s * r2 + splat_d<W>((n % 4 == 1 ? 1.0 : -1.0) * inverse_factorial[n]);
    }
    s = r + (r * r2) * s;
    vd_t<W> c = splat_d<W>(inverse_factorial[16]);
    for (int n = 14; n >= 0; n -= 2) {
        c = c * r2 + splat_d<W>((n % 4 == 0 ? 1.0 : -1.0) * inverse_factorial[n]);
    }
    const vi_t<W> qi = same_bits<vi_t<W>>(z) - same_bits<vi_t<W>>(shift);
    const vi_t<W> zero{};
    const vi_t<W> swap = (qi & 1) != zero;
    const vd_t<W> s0 = swap ? c : s;
    const vd_t<W> c0 = swap ? s : c;
    sn = (qi & 2) != zero ? -s0 : s0;
    cs = ((qi + 1) & 2) != zero ? -c0 : c0;
    held = (q == vd_t<W>{}) | (abs_v<W>(r) >= splat_d<W>(0x1p-30));
}

// log m for the mantissa part of each lane of x (a positive normal double): x = 2^k m with m in
// [sqrt(1/2), sqrt(2)), and log m = 2 atanh(s) with s = (m - 1)/(m + 1), |s| < 0.172, from the
// series of atanh to s^23 (the rest below 2^-56 of it). m - 1 is exact, s within 2^-52 of its
// value, so log m comes within 2^-53 of its value. k is returned as a double.
template <std::size_t W> SITEWAVE_LANE_INLINE vd_t<W> log_mantissa_v(const vd_t<W>& x, vd_t<W>& k) {
    const vi_t<W> bits = same_bits<vi_t<W>>(x);
    const vi_t<W> ki = (bits - 0x3fe6a09e667f3bcdL) >> 52; // 0x3fe6a09e667f3bcd: sqrt(1/2)
    const vd_t<W> m = same_bits<vd_t<W>>(bits - (ki << 52));
    const vd_t<W> shift = splat_d<W>(round_shift);
    k = same_bits<vd_t<W>>(same_bits<vi_t<W>>(shift) + ki) - shift;
    const vd_t<W> one = splat_d<W>(1.0);
    const vd_t<W> s = (m - one) / (m + one);
    const vd_t<W> s2 = s * s;
    vd_t<W> t = splat_d<W>(1.0 / 23.0);
    for (int d = 21; d >= 3; d -= 2) {
        t = t * s2 + splat_d<W>(1.0 / d);
    }
    return splat_d<W>(2.0) * (s + (s * s2) * t);
}

// The range where pow_v holds: x in [2^-11, 2^11), |n| <= 1.
inline constexpr double pow_x_low = 0x1p-11;
inline constexpr double pow_x_high = 0x1p11;

// x^n = e^(n log x) for x in [2^-11, 2^11) and |n| <= 1, n a float: with log x = k ln2 + log m,
// n k ln2 is formed exactly from a part of ln2 of 17 bits (n k has at most 28 bits), and the rest
// n (k ln2_lo + log m) within 2^-52 of its value; their sum y (|y| < 8) is rounded once, 2^-51
// at most, so e^y comes within 2^-50 of x^n, and within 2^-49 of the library's pow.
template <std::size_t W> SITEWAVE_LANE_INLINE vd_t<W> pow_v(const vd_t<W>& x, double n) {
    vd_t<W> k;
    const vd_t<W> lm = log_mantissa_v<W>(x, k);
    const vd_t<W> vn = splat_d<W>(n);
    const vd_t<W> hi = (vn * k) * splat_d<W>(0x1.62e4p-1);
    const vd_t<W> lo = vn * (k * splat_d<W>(0x1.7f7d1cf79abcap-20) + lm);
    vd_t<W> up, down;
    exp_pair_v<W>(hi + lo, up, down);
    return up;
}

// settled(double) of arith/real.hpp on W lanes.
template <std::size_t W> SITEWAVE_LANE_INLINE vi_t<W> settled(const vd_t<W>& x) {
    const vi_t<W> bits = same_bits<vi_t<W>>(x);
    const vi_t<W> from_mid = (bits & 0x1FFFFFFF) - 0x10000000;
    const vi_t<W> margin = splat_i<W>(0x2000);
    const vd_t<W> ax = abs_v<W>(x);
    return ((from_mid > margin) | (from_mid < -margin)) & (ax >= splat_d<W>(0x1p-126)) &
           (ax < splat_d<W>(0x1p127));
}

// pow_d(x[i], n) for `count` values (a multiple of W): the vector version where the arguments
// lie in its range and the result is settled, the library elsewhere.
template <std::size_t W>
SITEWAVE_LANE_INLINE void pow_floats(const float* x, std::size_t count, float n, float* out) {
    const auto nd = static_cast<double>(n);
    const bool in_range = std::fabs(nd) <= 1.0;
    for (std::size_t g = 0; g < count; g += W) {
        const vd_t<W> xd = wide<W>(load<W>(x + g));
        vi_t<W> ok = (xd >= splat_d<W>(pow_x_low)) & (xd < splat_d<W>(pow_x_high));
        vd_t<W> v{};
        if (in_range) {
            v = pow_v<W>(xd, nd);
            ok &= settled<W>(v);
        } else {
            ok = vi_t<W>{};
        }
        for (std::size_t l = 0; l < W; ++l) {
            out[g + l] = ok[l] != 0 ? static_cast<float>(v[l]) : pow_d(x[g + l], n);
        }
    }
}

// cos_d and sin_d of n float arguments, two at a time: the vector versions where settled, the
// library elsewhere.
inline void cos_sin_floats(const float* y, std::size_t n, float* c, float* s) {
    for (std::size_t i = 0; i < n; i += 2) {
        const float y1 = i + 1 < n ? y[i + 1] : y[i];
        const vd_t<2> yd{static_cast<double>(y[i]), static_cast<double>(y1)};
        vd_t<2> sn, cs;
        vi_t<2> ok;
        sincos_v<2>(yd, sn, cs, ok);
        ok &= (abs_v<2>(yd) < splat_d<2>(trig_limit)) & settled<2>(sn) & settled<2>(cs);
        for (std::size_t j = i; j < i + 2 && j < n; ++j) {
            const std::size_t l = j - i;
            c[j] = ok[l] != 0 ? static_cast<float>(cs[l]) : cos_d(y[j]);
            s[j] = ok[l] != 0 ? static_cast<float>(sn[l]) : sin_d(y[j]);
        }
    }
}

} // namespace sitewave
