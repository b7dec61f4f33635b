// SH and vertical transfer functions of a layered profile over an elastic half-space.
//
// Both use the same 2x2 propagation of up- and down-going plane waves: with E_k and F_k the
// up- and down-going amplitudes at the top of layer k (displacement E e^(i nu z) + F e^(-i nu z),
// time factor e^(i omega t)), the layer matrix B(k) carries (E_k, F_k) to (E_k+1, F_k+1) through
// the layer and across the interface below it. The free surface gives E_1 = F_1 = 1 (surface
// motion 2), so with A = B(nl-1)...B(1), E_nl = a11 + a12 and F_nl = a21 + a22.
//
// The two functions differ only in the velocity of a layer: the damped S-wave velocity for SH,
// the damped effective velocity Vs*sqrt(3/(1 - Vs^2/Vp^2)) for the vertical motion.
#include "layered/transfer.hpp"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstddef>

namespace sitewave::layered {

namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }

// The terms of one interface: the impedance ratio of the upper to the lower layer and i*wn*h,
// wn the vertical wavenumber in the upper layer of thickness h.
struct interface_terms {
    cplx am;
    cplx wnd;
};

// v1, v2: complex velocities of the upper and lower layer; om in rad/s; cinv2 = p^2.
inline interface_terms terms(float dns1, float dns2, cplx v1, cplx v2, float h, float om,
                             float cinv2) {
    const cplx one{1.0f, 0.0f};
    // Impedance ratio of the upper to the lower layer: density times complex velocity, no
    // obliquity factor, also at oblique incidence.
    const cplx am = (dns1 * v1) / (dns2 * v2);
    // Vertical wavenumber in the upper layer, principal root (real part never negative), also
    // beyond the critical angle, where the radicand's real part is negative and the wave in the
    // layer is evanescent.
    const cplx wn = om * csqrt(one / (v1 * v1) - cplx{cinv2, 0.0f});
    return {am, cplx{-wn.im * h, wn.re * h}}; // i * wn * h
}

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

inline bool is_finite(const matrix& a) {
    return is_finite(a.a11) && is_finite(a.a12) && is_finite(a.a21) && is_finite(a.a22);
}

// The largest binary exponent among the parts of A (0 when all are zero).
int exponent_of(const matrix& a) {
    int e = INT_MIN;
    for (const cplx z : {a.a11, a.a12, a.a21, a.a22}) {
        for (const float x : {z.re, z.im}) {
            if (x != 0.0f) {
                e = std::max(e, std::ilogb(x));
            }
        }
    }
    return e == INT_MIN ? 0 : e;
}

// Fills rows 0..nom-1 of both columns. `velocity(k, freq)` is the complex velocity of layer k at
// freq Hz; cinv2 is the squared horizontal slowness p^2 (Snell's law, fixed by the half-space).
//
// A row is first carried through in float. When any stored intermediate of that recursion is
// not finite (a thick or strongly damped profile at high frequency, where e^(omega h/2QV) leaves
// the float range), the row is carried through again without overflow: the exponentials of each
// layer formed in double and scaled by a power of two before rounding, and the running product
// rescaled by a power of two after each layer (exact), the exponents summed. The ratio, possibly
// subnormal or 0, is scaled back once at the end.
template <class Velocity>
void propagate(float fom, float dom, int nom, const layer_table& lt, float cinv2, Velocity velocity,
               amp_table& amp) {
    const int nl = lt.nl();
    assert(nl >= 1);
    assert(nom <= 0 || (amp.col[0].size() >= at(nom) && amp.col[1].size() >= at(nom)));

    // At zero frequency the profile moves as a rigid block: surface motion twice the incident
    // amplitude and equal to the motion at the top of the half-space. Set, not evaluated.
    int ifom = 0;
    if (fom == 0.0f) {
        if (nom >= 1) {
            amp.col[0][0] = {2.0f, 0.0f};
            amp.col[1][0] = {1.0f, 0.0f};
        }
        ifom = 1;
    }

    const cplx two{2.0f, 0.0f};
    for (int io = ifom; io < nom; ++io) {
        const float om = fom + static_cast<float>(io) * dom;
        const float freq = om / two_pi;

        // Walks the interfaces from the deepest up; the upper layer of one interface is the lower
        // layer of the next one up, so each velocity is evaluated once per frequency.
        const auto walk = [&](auto&& step) {
            if (nl < 2) {
                return;
            }
            cplx v2 = velocity(nl - 1, freq);
            for (int il = nl - 2; il >= 0; --il) {
                const cplx v1 = velocity(il, freq);
                step(terms(lt.dns[at(il)], lt.dns[at(il + 1)], v1, v2, lt.thk[at(il)], om, cinv2));
                v2 = v1;
            }
        };

        matrix a;
        bool finite = true;
        walk([&](const interface_terms& t) {
            const cplx ex1 = cexp(t.wnd);
            const cplx ex2 = cexp(-t.wnd);
            finite =
                finite && is_finite(t.am) && is_finite(t.wnd) && is_finite(ex1) && is_finite(ex2);
            a = times_layer(a, t.am, ex1, ex2);
            finite = finite && is_finite(a);
        });
        // Surface motion 2 over the incident amplitude E_nl, and over the total motion
        // E_nl + F_nl at the top of the half-space.
        const cplx c0 = two / (a.a11 + a.a12);
        const cplx c1 = two / (((a.a11 + a.a12) + a.a21) + a.a22);
        if (finite) {
            amp.col[0][at(io)] = c0;
            amp.col[1][at(io)] = c1;
            continue;
        }

        matrix b;
        int scale = 0; // the true product is b * 2^scale
        walk([&](const interface_terms& t) {
            const scaled_exp_pair ex = cexp_pair_scaled(t.wnd);
            b = times_layer(b, t.am, ex.up, ex.down);
            const int e = exponent_of(b);
            b = {scale2(b.a11, -e), scale2(b.a12, -e), scale2(b.a21, -e), scale2(b.a22, -e)};
            scale += ex.s + e;
        });
        amp.col[0][at(io)] = scaled_quotient(two, b.a11 + b.a12, scale);
        amp.col[1][at(io)] = scaled_quotient(two, ((b.a11 + b.a12) + b.a21) + b.a22, scale);
    }
}

} // namespace

cplx damped_velocity(float v, float q0, float n, float freq) {
    float q = q0 * pow_d(freq, n);
    if (q < q0) {
        q = q0; // Q never falls below its base value: with n > 0 the floor holds below 1 Hz
    }
    return {v, v * (0.5f / q)};
}

void sbshml(float fom, float dom, int nom, const layer_table& lt, float theta, amp_table& amp) {
    const int nl = lt.nl();
    assert(nl >= 1);
    // Horizontal slowness from the undamped S-wave velocity of the half-space.
    const float vsn2 = lt.vs[at(nl - 1)] * lt.vs[at(nl - 1)];
    const float tsin = sin_d(theta);
    const float cinv2 = tsin * tsin / vsn2;

    const auto shear = [&lt](int k, float freq) {
        return damped_velocity(lt.vs[at(k)], lt.qs[at(k)], lt.fs[at(k)], freq);
    };
    propagate(fom, dom, nom, lt, cinv2, shear, amp);
}

void sbudml(float fom, float dom, int nom, const layer_table& lt, float theta, amp_table& amp) {
    const int nl = lt.nl();
    assert(nl >= 1);
    // Horizontal slowness from the undamped effective velocity of the half-space; its square
    // is formed directly, without a square root: vsn2 = Vs^2 * 3/(1 - Vs^2/Vp^2).
    const float vsh = lt.vs[at(nl - 1)];
    const float vph = lt.vp[at(nl - 1)];
    const float aa = 3.0f / (1.0f - (vsh * vsh) / (vph * vph));
    const float vsn2 = (vsh * vsh) * aa;
    const float tsin = sin_d(theta);
    const float cinv2 = tsin * tsin / vsn2;

    // Damped effective velocity of layer k: Vs* * sqrt(3/(1 - Vs*^2/Vp*^2)), both velocities
    // damped by their own quality factors. With Vp = 2 Vs it equals Vp.
    const auto effective = [&lt](int k, float freq) {
        const cplx vs1 = damped_velocity(lt.vs[at(k)], lt.qs[at(k)], lt.fs[at(k)], freq);
        const cplx vp1 = damped_velocity(lt.vp[at(k)], lt.qp[at(k)], lt.fp[at(k)], freq);
        const cplx ratio = (vs1 * vs1) / (vp1 * vp1);
        const cplx aa1 = csqrt(cplx{3.0f, 0.0f} / (cplx{1.0f, 0.0f} - ratio));
        return vs1 * aa1;
    };
    propagate(fom, dom, nom, lt, cinv2, effective, amp);
}

} // namespace sitewave::layered
