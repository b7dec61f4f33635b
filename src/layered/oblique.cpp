// Both tables with the obliquity factor in the impedance ratio: rho1 V1 cos j1 / (rho2 V2 cos j2),
// cos j = V nu / omega with nu the vertical wavenumber (principal root) of each layer. The
// dialogue's ratio has no such factor and overstates oblique amplification; this one is the
// plane-wave ratio. Every row is carried through with the layer exponentials scaled by powers
// of two (the form that cannot overflow), in the same 2x2 recursion as the dialogue's tables.
#include "layered/oblique.hpp"

#include "layered/transfer.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

namespace sitewave::layered {

namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }

struct matrix {
    cplx a11{1.0f, 0.0f}, a12{}, a21{}, a22{1.0f, 0.0f};
};

// The largest binary exponent among the parts of A (0 when all are zero).
int exponent_of(const matrix& a) {
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

template <class Velocity>
void oblique_table(float dom, int nom, const layer_table& lt, float cinv2, Velocity velocity,
                   amp_table& amp) {
    const int nl = lt.nl();
    const cplx one{1.0f, 0.0f}, two{2.0f, 0.0f};
    if (nom >= 1) {
        amp.col[0][0] = two; // a rigid block at zero frequency
        amp.col[1][0] = one;
    }
    for (int io = 1; io < nom; ++io) {
        const float om = static_cast<float>(io) * dom;
        const float freq = om / two_pi;
        matrix b;
        long scale = 0; // the true product is b * 2^scale
        if (nl >= 2) {
            cplx v2 = velocity(nl - 1, freq);
            cplx nu2 = om * csqrt(one / (v2 * v2) - cplx{cinv2, 0.0f});
            for (int il = nl - 2; il >= 0; --il) {
                const cplx v1 = velocity(il, freq);
                const cplx nu1 = om * csqrt(one / (v1 * v1) - cplx{cinv2, 0.0f});
                const cplx cos1 = (v1 * nu1) / om, cos2 = (v2 * nu2) / om;
                const cplx am = ((lt.dns[at(il)] * v1) * cos1) / ((lt.dns[at(il + 1)] * v2) * cos2);
                const float h = lt.thk[at(il)];
                const scaled_exp_pair ex = cexp_pair_scaled({-nu1.im * h, nu1.re * h});
                const cplx sb11 = ((one + am) * ex.up) / 2.0f;
                const cplx sb12 = ((one - am) * ex.down) / 2.0f;
                const cplx sb21 = ((one - am) * ex.up) / 2.0f;
                const cplx sb22 = ((one + am) * ex.down) / 2.0f;
                b = {b.a11 * sb11 + b.a12 * sb21, b.a11 * sb12 + b.a12 * sb22,
                     b.a21 * sb11 + b.a22 * sb21, b.a21 * sb12 + b.a22 * sb22};
                const int e = exponent_of(b);
                b = {scale2(b.a11, -e), scale2(b.a12, -e), scale2(b.a21, -e), scale2(b.a22, -e)};
                scale += ex.s + e;
                v2 = v1;
                nu2 = nu1;
            }
        }
        const int e = static_cast<int>(std::clamp(scale, -100000L, 100000L));
        amp.col[0][at(io)] = scaled_quotient(two, b.a11 + b.a12, e);
        amp.col[1][at(io)] = scaled_quotient(two, ((b.a11 + b.a12) + b.a21) + b.a22, e);
    }
}

} // namespace

void oblique_tables(float dom, int nom, const layer_table& lt, float theta, amp_table& sh,
                    amp_table& ud) {
    const auto h = at(lt.nl() - 1);
    const float tsin = sin_d(theta);
    // Horizontal slownesses as in the dialogue's tables (Snell's law, the half-space's undamped
    // S-wave and effective velocities).
    const float cinv2_s = tsin * tsin / (lt.vs[h] * lt.vs[h]);
    const float aa = 3.0f / (1.0f - (lt.vs[h] * lt.vs[h]) / (lt.vp[h] * lt.vp[h]));
    const float cinv2_p = tsin * tsin / ((lt.vs[h] * lt.vs[h]) * aa);
    const auto shear = [&lt](int k, float freq) {
        return damped_velocity(lt.vs[at(k)], lt.qs[at(k)], lt.fs[at(k)], freq);
    };
    const auto effective = [&lt](int k, float freq) {
        const cplx vs1 = damped_velocity(lt.vs[at(k)], lt.qs[at(k)], lt.fs[at(k)], freq);
        const cplx vp1 = damped_velocity(lt.vp[at(k)], lt.qp[at(k)], lt.fp[at(k)], freq);
        const cplx ratio = (vs1 * vs1) / (vp1 * vp1);
        return vs1 * csqrt(cplx{3.0f, 0.0f} / (cplx{1.0f, 0.0f} - ratio));
    };
    oblique_table(dom, nom, lt, cinv2_s, shear, sh);
    oblique_table(dom, nom, lt, cinv2_p, effective, ud);
}

} // namespace sitewave::layered
