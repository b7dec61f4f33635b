// The pieces of the layer recursion shared by the dialogue's tables and the tables with the
// obliquity factor: the 2x2 product, its overflow-free form, the effective velocity of the
// vertical motion and the horizontal slownesses.
#pragma once

#include "arith/real.hpp"
#include "layered/profile.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

namespace sitewave::layered {

struct matrix {
    cplx a11{1.0f, 0.0f}, a12{}, a21{}, a22{1.0f, 0.0f};
};

// A * B(k), B(k) = [[(1+am) ex1, (1-am) ex2], [(1-am) ex1, (1+am) ex2]] / 2: each entry of B
// formed in that order, each product rounded, then the sums.
inline matrix times_layer(const matrix& sa, cplx am, cplx ex1, cplx ex2) {
    const cplx one{1.0f, 0.0f};
    const cplx sb11 = ((one + am) * ex1) / 2.0f;
    const cplx sb12 = ((one - am) * ex2) / 2.0f;
    const cplx sb21 = ((one - am) * ex1) / 2.0f;
    const cplx sb22 = ((one + am) * ex2) / 2.0f;
    return {sa.a11 * sb11 + sa.a12 * sb21, sa.a11 * sb12 + sa.a12 * sb22,
            sa.a21 * sb11 + sa.a22 * sb21, sa.a21 * sb12 + sa.a22 * sb22};
}

// The largest binary exponent among the finite, non-zero parts of A (0 when there is none); a
// row with an infinite or NaN part stays so, and its exponents sum stays in range.
inline int exponent_of(const matrix& a) {
    int e = INT_MIN;
    for (const cplx z : {a.a11, a.a12, a.a21, a.a22}) {
        for (const float x : {z.re, z.im}) {
            if (x != 0.0f && std::isfinite(x)) {
                e = std::max(e, std::ilogb(x));
            }
        }
    }
    return e == INT_MIN ? 0 : e;
}

// The recursion without overflow: the product b, and the power of two it stands for.
struct rescaled_product {
    matrix b;
    long scale = 0; // the true product is b * 2^scale

    // One layer: the exponentials of i*nu*h formed in double and scaled by a power of two
    // before rounding, then the product rescaled by a power of two (exact).
    void layer(cplx am, cplx wnd) {
        const scaled_exp_pair ex = cexp_pair_scaled(wnd);
        b = times_layer(b, am, ex.up, ex.down);
        const int e = exponent_of(b);
        b = {scale2(b.a11, -e), scale2(b.a12, -e), scale2(b.a21, -e), scale2(b.a22, -e)};
        scale += ex.s + e;
    }

    // Surface motion 2 over the incident amplitude E_nl = a11 + a12, and over the total motion
    // E_nl + F_nl, scaled back once (possibly subnormal or 0).
    void ratios(cplx& c0, cplx& c1) const {
        const cplx two{2.0f, 0.0f};
        const int e = static_cast<int>(std::clamp(scale, -100000L, 100000L));
        c0 = scaled_quotient(two, b.a11 + b.a12, e);
        c1 = scaled_quotient(two, ((b.a11 + b.a12) + b.a21) + b.a22, e);
    }
};

// Effective velocity of the vertical motion from the damped S and P velocities:
// Vs* sqrt(3/(1 - Vs*^2/Vp*^2)).
inline cplx effective_velocity(cplx vs1, cplx vp1) {
    const cplx ratio = (vs1 * vs1) / (vp1 * vp1);
    const cplx aa1 = csqrt(cplx{3.0f, 0.0f} / (cplx{1.0f, 0.0f} - ratio));
    return vs1 * aa1;
}

// sqrt(1/V^2 - p^2), the vertical slowness (principal root, real part never negative).
inline cplx slowness_root(cplx v, float cinv2) {
    const cplx one{1.0f, 0.0f};
    return csqrt(one / (v * v) - cplx{cinv2, 0.0f});
}

// Squared horizontal slownesses p^2 (Snell's law) of the SH and the vertical table, from the
// undamped velocities of the half-space; the effective velocity's square is formed directly,
// without a square root: Vs^2 * 3/(1 - Vs^2/Vp^2).
struct slownesses {
    float sh = 0.0f, ud = 0.0f;
};
inline slownesses squared_slownesses(const layer_table& lt, float theta) {
    const auto h = static_cast<std::size_t>(lt.nl() - 1);
    const float tsin = sin_d(theta);
    const float vsh = lt.vs[h];
    const float vph = lt.vp[h];
    const float aa = 3.0f / (1.0f - (vsh * vsh) / (vph * vph));
    return {tsin * tsin / (vsh * vsh), tsin * tsin / ((vsh * vsh) * aa)};
}

} // namespace sitewave::layered
