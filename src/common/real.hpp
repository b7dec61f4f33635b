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

#include <cmath>

namespace sitewave {

struct cplx {
    float re = 0.0f;
    float im = 0.0f;
};

constexpr cplx operator+(cplx a, cplx b) { return {a.re + b.re, a.im + b.im}; }
constexpr cplx operator-(cplx a, cplx b) { return {a.re - b.re, a.im - b.im}; }
constexpr cplx operator-(cplx a) { return {-a.re, -a.im}; }
constexpr bool operator==(cplx a, cplx b) { return a.re == b.re && a.im == b.im; }

// Product formed in double, rounded once. The partial products of two floats are exact in
// double, so only the sum and the final narrowing round.
constexpr cplx operator*(cplx a, cplx b) {
    const double ar = a.re, ai = a.im, br = b.re, bi = b.im;
    return {static_cast<float>(ar * br - ai * bi), static_cast<float>(ar * bi + ai * br)};
}

// Real times complex: each part is one exact double product rounded once, which is the same
// as the float product.
constexpr cplx operator*(float s, cplx a) { return {s * a.re, s * a.im}; }
constexpr cplx operator*(cplx a, float s) { return {a.re * s, a.im * s}; }

// Quotient by the scaled (Smith) method in double: scale by the part of the divisor that is
// larger in magnitude (by Im d when |Re d| <= |Im d|).
constexpr cplx operator/(cplx n, cplx d) {
    const double nr = n.re, ni = n.im, dr = d.re, di = d.im;
    if ((dr < 0 ? -dr : dr) <= (di < 0 ? -di : di)) {
        const double r = dr / di;
        const double den = dr * r + di;
        return {static_cast<float>((nr * r + ni) / den), static_cast<float>((ni * r - nr) / den)};
    }
    const double r = di / dr;
    const double den = dr + di * r;
    return {static_cast<float>((nr + ni * r) / den), static_cast<float>((ni - nr * r) / den)};
}

constexpr cplx operator/(cplx n, float s) { return {n.re / s, n.im / s}; }

// Elementary functions: widen, evaluate in double, narrow.
inline float sin_d(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }
inline float cos_d(float x) { return static_cast<float>(std::cos(static_cast<double>(x))); }
inline float atan_d(float x) { return static_cast<float>(std::atan(static_cast<double>(x))); }
inline float sqrt_d(float x) { return static_cast<float>(std::sqrt(static_cast<double>(x))); }
inline float pow_d(float x, float y) {
    return static_cast<float>(std::pow(static_cast<double>(x), static_cast<double>(y)));
}

// Modulus in double without intermediate overflow, rounded to float.
inline float cabs(cplx z) {
    return static_cast<float>(std::hypot(static_cast<double>(z.re), static_cast<double>(z.im)));
}

// Principal square root: the real part is never negative. For x > 0 the real part is
// t = sqrt((|z| + x)/2) and the imaginary part y/(2t); otherwise the imaginary part is
// t = sqrt((|z| - x)/2), negated when y < 0, and the real part y over twice that signed
// imaginary part. |z| and t in double, the result rounded once.
inline cplx csqrt(cplx z) {
    const double x = z.re, y = z.im;
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
    const double y = z.im;
    return {static_cast<float>(e * std::cos(y)), static_cast<float>(e * std::sin(y))};
}

// 2*pi as the nearest float (bit pattern 40C90FDB).
inline constexpr float two_pi = 6.2831855f;

} // namespace sitewave
