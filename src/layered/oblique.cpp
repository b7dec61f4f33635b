// Both tables with the obliquity factor in the impedance ratio: rho1 V1 cos j1 / (rho2 V2 cos j2),
// cos j = V nu / omega with nu the vertical wavenumber (principal root) of each layer. The
// dialogue's ratio has no such factor and overstates oblique amplification; this one is the
// plane-wave ratio. Every row is carried through with the layer exponentials scaled by powers
// of two (the form that cannot overflow), in the same 2x2 recursion as the dialogue's tables.
#include "layered/oblique.hpp"

#include "layered/recursion.hpp"
#include "layered/transfer.hpp"

namespace sitewave::layered {

namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }

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
        rescaled_product product;
        if (nl >= 2) {
            cplx v2 = velocity(nl - 1, freq);
            cplx nu2 = om * slowness_root(v2, cinv2);
            for (int il = nl - 2; il >= 0; --il) {
                const cplx v1 = velocity(il, freq);
                const cplx nu1 = om * slowness_root(v1, cinv2);
                const cplx cos1 = (v1 * nu1) / om, cos2 = (v2 * nu2) / om;
                const cplx am = ((lt.dns[at(il)] * v1) * cos1) / ((lt.dns[at(il + 1)] * v2) * cos2);
                const float h = lt.thk[at(il)];
                product.layer(am, {-nu1.im * h, nu1.re * h}); // i * nu * h
                v2 = v1;
                nu2 = nu1;
            }
        }
        product.ratios(amp.col[0][at(io)], amp.col[1][at(io)]);
    }
}

} // namespace

void oblique_tables(float dom, int nom, const layer_table& lt, float theta, amp_table& sh,
                    amp_table& ud) {
    // Horizontal slownesses as in the dialogue's tables.
    const slownesses cinv2 = squared_slownesses(lt, theta);
    const auto shear = [&lt](int k, float freq) {
        return damped_velocity(lt.vs[at(k)], lt.qs[at(k)], lt.fs[at(k)], freq);
    };
    const auto effective = [&lt](int k, float freq) {
        return effective_velocity(damped_velocity(lt.vs[at(k)], lt.qs[at(k)], lt.fs[at(k)], freq),
                                  damped_velocity(lt.vp[at(k)], lt.qp[at(k)], lt.fp[at(k)], freq));
    };
    oblique_table(dom, nom, lt, cinv2.sh, shear, sh);
    oblique_table(dom, nom, lt, cinv2.ud, effective, ud);
}

} // namespace sitewave::layered
