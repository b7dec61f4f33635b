// The arithmetic model of the whole program, written once.
//
// Every stored real is an IEEE 32-bit float and every complex value a pair of them. Real
// + - * / of floats are single-precision operations. Complex products and quotients are formed
// in double from their float operands and rounded to float once, when stored; complex sums and
// differences are done part by part in float. Quotients use the scaled (Smith) method in double.
// Elementary functions are evaluated in double from float arguments and rounded to float.
//
// Nothing else in the program includes <complex> or calls <cmath> on a float: std::complex<float>
// multiplies in float, and std::sin(float) is the float function, which differs from the rounded
// double result for a few percent of arguments. Float literals carry an `f`.
#pragma once

#include "sitewave/types.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

namespace sitewave {

constexpr cplx operator+(cplx a, cplx b) { return {a.re + b.re, a.im + b.im}; }
constexpr cplx operator-(cplx a, cplx b) { return {a.re - b.re, a.im - b.im}; }
constexpr cplx operator-(cplx a) { return {-a.re, -a.im}; }
constexpr bool operator==(cplx a, cplx b) { return a.re == b.re && a.im == b.im; }

// Product formed in double, rounded once. The partial products of two floats are exact in
// double, so only the sum and the final narrowing round.
constexpr cplx operator*(cplx a, cplx b) {
    const double ar = static_cast<double>(a.re), ai = static_cast<double>(a.im),
                 br = static_cast<double>(b.re), bi = static_cast<double>(b.im);
    return {static_cast<float>(ar * br - ai * bi), static_cast<float>(ar * bi + ai * br)};
}

// Real times complex: each part is one exact double product rounded once, which is the same
// as the float product.
constexpr cplx operator*(float s, cplx a) { return {s * a.re, s * a.im}; }
constexpr cplx operator*(cplx a, float s) { return {a.re * s, a.im * s}; }

// A complex value in double, before its rounding to float.
struct cplx_d {
    double re = 0.0;
    double im = 0.0;
};

// Quotient by the scaled (Smith) method in double: scale by the part of the divisor that is
// larger in magnitude (by Im d when |Re d| <= |Im d|).
constexpr cplx_d smith_quotient(cplx n, cplx d) {
    const double nr = static_cast<double>(n.re), ni = static_cast<double>(n.im),
                 dr = static_cast<double>(d.re), di = static_cast<double>(d.im);
    if ((dr < 0 ? -dr : dr) <= (di < 0 ? -di : di)) {
        const double r = dr / di;
        const double den = dr * r + di;
        return {(nr * r + ni) / den, (ni * r - nr) / den};
    }
    const double r = di / dr;
    const double den = dr + di * r;
    return {(nr + ni * r) / den, (ni - nr * r) / den};
}

// The quotient rounded once.
constexpr cplx operator/(cplx n, cplx d) {
    const cplx_d q = smith_quotient(n, d);
    return {static_cast<float>(q.re), static_cast<float>(q.im)};
}

// n / (d * 2^e): the quotient in double, scaled by 2^-e, then rounded once (to a subnormal or
// to 0 when it is that small).
inline cplx scaled_quotient(cplx n, cplx d, int e) {
    const cplx_d q = smith_quotient(n, d);
    return {static_cast<float>(std::ldexp(q.re, -e)), static_cast<float>(std::ldexp(q.im, -e))};
}

// z * 2^e, exact unless the result leaves the range of normal floats.
inline cplx scale2(cplx z, int e) {
    return {static_cast<float>(std::ldexp(static_cast<double>(z.re), e)),
            static_cast<float>(std::ldexp(static_cast<double>(z.im), e))};
}

inline bool is_finite(float x) { return std::isfinite(x); }
inline bool is_finite(cplx z) { return std::isfinite(z.re) && std::isfinite(z.im); }

constexpr cplx operator/(cplx n, float s) { return {n.re / s, n.im / s}; }

// Elementary functions: widen, evaluate in double, narrow.
inline float sin_d(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }
inline float cos_d(float x) { return static_cast<float>(std::cos(static_cast<double>(x))); }
inline float atan_d(float x) { return static_cast<float>(std::atan(static_cast<double>(x))); }
inline float sqrt_d(float x) { return static_cast<float>(std::sqrt(static_cast<double>(x))); }
inline float pow_d(float x, float y) {
    return static_cast<float>(std::pow(static_cast<double>(x), static_cast<double>(y)));
}

// Whether a double x, within 2^-48 of a value computed otherwise, rounds to the float that value
// rounds to: x lies in the range of normal floats, and its 29 bits below a float's precision
// put it more than 2^13 units in its last place from a midpoint between two floats, so every
// double within 2^-40 of x rounds as x does. 0, infinities and NaN are never settled.
inline bool settled(double x) {
    const double ax = std::fabs(x);
    const auto bits = std::bit_cast<std::int64_t>(x);
    const std::int64_t from_mid = (bits & 0x1FFFFFFF) - 0x10000000;
    return (from_mid > 0x2000 || from_mid < -0x2000) && ax >= 0x1p-126 && ax < 0x1p127;
}

// Modulus in double without intermediate overflow (hypot), rounded to float. sqrt(x^2 + y^2)
// in double is within 2 units in the last place of it (the squares of floats are exact and
// cannot overflow), so where that root is settled its float is the answer and the library call
// is not needed.
inline float cabs(cplx z) {
    const double x = static_cast<double>(z.re), y = static_cast<double>(z.im);
    const double m = std::sqrt(x * x + y * y);
    return static_cast<float>(settled(m) ? m : std::hypot(x, y));
}

// Principal square root: the real part is never negative. For x > 0 the real part is
// t = sqrt((|z| + x)/2) and the imaginary part y/(2t); otherwise the imaginary part is
// t = sqrt((|z| - x)/2), negated when y < 0, and the real part y over twice that signed
// imaginary part. |z| and t in double, the result rounded once.
inline cplx csqrt(cplx z) {
    const double x = static_cast<double>(z.re), y = static_cast<double>(z.im);
    const double r = std::hypot(x, y);
    if (r == 0.0) {
        return {0.0f, 0.0f};
    }
    if (x > 0.0) {
        const double t = std::sqrt(0.5 * (r + x));
        return {static_cast<float>(t), static_cast<float>(y / (2.0 * t))};
    }
    double t = std::sqrt(0.5 * (r - x));
    if (y < 0.0) {
        t = -t;
    }
    return {static_cast<float>(y / (2.0 * t)), static_cast<float>(t)};
}

// e^(x+iy) = e^x (cos y + i sin y), in double, rounded once.
inline cplx cexp(cplx z) {
    const double e = std::exp(static_cast<double>(z.re));
    const double y = static_cast<double>(z.im);
    return {static_cast<float>(e * std::cos(y)), static_cast<float>(e * std::sin(y))};
}

// e^(z) and e^(-z), both scaled by 2^-s so that the larger has a modulus below 2: for exponents
// whose e^(|x|) leaves the range of a float, or even of a double. The exponentials are formed
// in double and rounded once; the smaller one may come out subnormal or 0.
struct scaled_exp_pair {
    cplx up;   // e^(z) * 2^-s
    cplx down; // e^(-z) * 2^-s
    int s = 0;
};
inline scaled_exp_pair cexp_pair_scaled(cplx z) {
    const double x = static_cast<double>(z.re), y = static_cast<double>(z.im);
    const double ax = std::fabs(x);
    double big = std::exp(ax);
    int s = 0;
    // Beyond 2^4096 the ratio of the row is 0 whatever follows: the scale is held there (and
    // the larger exponential taken as 1), which keeps the summed exponents far from overflow.
    constexpr int max_scale = 4096;
    constexpr double ln2 = 0.69314718055994530942;
    if (std::isfinite(big)) {
        s = std::ilogb(big);
        big = std::ldexp(big, -s);
    } else if (ax < max_scale * ln2) {
        s = static_cast<int>(std::floor(ax / ln2));
        big = std::exp(ax - static_cast<double>(s) * ln2);
    } else {
        s = max_scale; // also for an infinite or NaN exponent, whose row stays NaN below
        big = std::isnan(ax) ? ax : 1.0;
    }
    // e^(-|x|) * 2^-s, formed from e^(-|x|) when that is a normal double, else from the exponent.
    const double small = std::ldexp(std::exp(-ax), -s);
    const double c = std::cos(y), sn = std::sin(y);
    const double eu = x >= 0.0 ? big : small;
    const double ed = x >= 0.0 ? small : big;
    return {{static_cast<float>(eu * c), static_cast<float>(eu * sn)},
            {static_cast<float>(ed * c), static_cast<float>(-(ed * sn))},
            s};
}

// 2*pi as the nearest float (bit pattern 40C90FDB).
inline constexpr float two_pi = 6.2831855f;

} // namespace sitewave
