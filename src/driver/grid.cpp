#include "driver/grid.hpp"

#include "common/real.hpp"

#include <cmath>

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

namespace sitewave::driver {

std::string grid_fault(int nt, float dt, int nf, grid& g) {
    if (nt < 2) {
        return std::to_string(nt) + " sample(s); at least two are needed for the time step";
    }
    if (!(dt > 0.0f) || !std::isfinite(dt)) {
        return "the time step (second time minus first time) is not a positive number";
    }
    g = make_grid(nf, dt);
    if (!std::isfinite(g.dur)) {
        return "the duration " + std::to_string(nf) + " x time step is not a finite number";
    }
    if (!std::isfinite(g.dom) || !(g.dom > 0.0f) || !std::isfinite(g.eom)) {
        return "the frequency step 2 pi / duration is not a finite number";
    }
    return {};
}

} // namespace sitewave::driver
