#include "driver/grid.hpp"

#include "common/real.hpp"

namespace sitewave {

std::optional<transform_length> choose_length(int nt, int max_if1) {
    int nf = 2;
    for (int k = 2; k <= max_if1; ++k) {
        nf *= 2;
        if (nf >= nt) {
            return transform_length{nf, k};
        }
    }
    return std::nullopt;
}

grid make_grid(int nf, float dt) {
    grid g;
    g.dur = static_cast<float>(nf) * dt;
    g.dom = two_pi / g.dur;
    g.iom = 1;
    g.nom = nf / 2 + 1;
    g.eom = static_cast<float>(g.nom) * g.dom;
    return g;
}

} // namespace sitewave
