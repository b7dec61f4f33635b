#include "steps/grid.hpp"

#include "arith/real.hpp"
#include "textio/fatal.hpp"
#include "textio/fields.hpp"

#include <cmath>

namespace sitewave::steps {

std::optional<transform_length> shortest_length(int nt, int max_if1) {
    int nf = 2;
    for (int k = 2; k <= max_if1; ++k) {
        nf *= 2;
        if (nf >= nt) {
            return transform_length{nf, k};
        }
    }
    return std::nullopt;
}

grid make_grid_unchecked(int nf, float dt) {
    grid g;
    g.dur = static_cast<float>(nf) * dt;
    g.dom = two_pi / g.dur;
    g.iom = 1;
    g.nom = nf / 2 + 1;
    g.eom = static_cast<float>(g.nom) * g.dom;
    return g;
}

void check_transform_length(std::string_view function, std::string_view name, long long n) {
    if (n < 4 || n > max_transform_length || (n & (n - 1)) != 0) {
        textio::invalid_argument(function, std::string(name) + " = " + std::to_string(n) +
                                               " is not a power of two from 4 to " +
                                               std::to_string(max_transform_length));
    }
}

void check_grid(std::string_view function, const grid& g) {
    constexpr int most_rows = max_transform_length / 2 + 1;
    if (g.nom < 1 || g.nom > most_rows) {
        textio::invalid_argument(function, "the grid's nom = " + std::to_string(g.nom) +
                                               " is not from 1 to " + std::to_string(most_rows));
    }
    if (!(g.dom > 0.0f) || !std::isfinite(g.dom)) {
        textio::invalid_argument(function, "the grid's dom = " + textio::shortest(g.dom) +
                                               " is not a positive finite number");
    }
}

std::string grid_fault(int nt, float dt, int nf, grid& g) {
    if (nt < 2) {
        return std::to_string(nt) + " sample(s); at least two are needed for the time step";
    }
    if (!(dt > 0.0f) || !std::isfinite(dt)) {
        return "the time step (second time minus first time) is not a positive number";
    }
    g = make_grid_unchecked(nf, dt);
    if (!std::isfinite(g.dur)) {
        return "the duration " + std::to_string(nf) + " x time step is not a finite number";
    }
    if (!std::isfinite(g.dom) || !(g.dom > 0.0f) || !std::isfinite(g.eom)) {
        return "the frequency step 2 pi / duration is not a finite number";
    }
    return {};
}

} // namespace sitewave::steps

namespace sitewave {

result<transform_length> choose_length(int nt, int max_if1) {
    return textio::capture([&] {
        if (max_if1 < 2 || max_if1 > max_transform_if1) {
            textio::invalid_argument("choose_length", "max_if1 = " + std::to_string(max_if1) +
                                                          " is not from 2 to " +
                                                          std::to_string(max_transform_if1));
        }
        if (nt < 0) {
            textio::invalid_argument("choose_length",
                                     "nt = " + std::to_string(nt) + " is negative");
        }
        const auto length = steps::shortest_length(nt, max_if1);
        if (!length) {
            textio::refuse(std::to_string(nt) + " samples, more than the " +
                           std::to_string(1 << max_if1) + " points of the longest transform");
        }
        return *length;
    });
}

result<grid> make_grid(int nf, float dt) {
    return textio::capture([&] {
        steps::check_transform_length("make_grid", "nf", nf);
        if (!(dt > 0.0f) || !std::isfinite(dt)) {
            textio::invalid_argument("make_grid", "the time step dt = " + textio::shortest(dt) +
                                                      " is not a positive finite number");
        }
        const grid g = steps::make_grid_unchecked(nf, dt);
        if (!std::isfinite(g.dur)) {
            textio::invalid_argument("make_grid", "the duration nf*dt is not finite");
        }
        if (!std::isfinite(g.dom) || !std::isfinite(g.eom)) {
            textio::invalid_argument("make_grid",
                                     "the frequency step 2 pi / (nf*dt) is not finite");
        }
        return g;
    });
}

} // namespace sitewave
