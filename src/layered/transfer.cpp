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

#include <cassert>
#include <cstddef>

namespace sitewave::layered {

namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }

// Fills rows 0..nom-1 of both columns. `velocity(k, freq)` is the complex velocity of layer k at
// freq Hz; cinv2 is the squared horizontal slowness p^2 (Snell's law, fixed by the half-space).
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

    const cplx one{1.0f, 0.0f};
    for (int io = ifom; io < nom; ++io) {
        const float om = fom + static_cast<float>(io) * dom;
        const float freq = om / two_pi;

        cplx a11 = one, a12{}, a21{}, a22 = one;
        if (nl >= 2) {
            // The upper layer of one interface is the lower layer of the next one up: its
            // velocity is evaluated once per frequency and handed on.
            cplx v2 = velocity(nl - 1, freq);
            for (int il = nl - 2; il >= 0; --il) {
                const cplx sa11 = a11, sa12 = a12, sa21 = a21, sa22 = a22;
                const cplx v1 = velocity(il, freq);

                // Impedance ratio of the upper to the lower layer: density times complex velocity,
                // no obliquity factor, also at oblique incidence.
                const cplx am = (lt.dns[at(il)] * v1) / (lt.dns[at(il + 1)] * v2);

                // Vertical wavenumber in the upper layer, principal root (real part never
                // negative), also beyond the critical angle, where the radicand's real part is
                // negative and the wave in the layer is evanescent.
                const cplx wn = om * csqrt(one / (v1 * v1) - cplx{cinv2, 0.0f});
                const float h = lt.thk[at(il)];
                const cplx wnd{-wn.im * h, wn.re * h}; // i * wn * h
                const cplx ex1 = cexp(wnd);
                const cplx ex2 = cexp(-wnd);

                const cplx sb11 = ((one + am) * ex1) / 2.0f;
                const cplx sb12 = ((one - am) * ex2) / 2.0f;
                const cplx sb21 = ((one - am) * ex1) / 2.0f;
                const cplx sb22 = ((one + am) * ex2) / 2.0f;

                // A = SA * B: the layer matrix on the right, each product rounded, then the sum.
                a11 = sa11 * sb11 + sa12 * sb21;
                a12 = sa11 * sb12 + sa12 * sb22;
                a21 = sa21 * sb11 + sa22 * sb21;
                a22 = sa21 * sb12 + sa22 * sb22;

                v2 = v1;
            }
        }

        // Surface motion 2 over the incident amplitude E_nl, and over the total motion
        // E_nl + F_nl at the top of the half-space.
        const cplx two{2.0f, 0.0f};
        amp.col[0][at(io)] = two / (a11 + a12);
        amp.col[1][at(io)] = two / (((a11 + a12) + a21) + a22);
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
