// Pseudo-random layered profiles for the tests of the transfer tables: the same profiles from
// the same seed on every standard library.
#pragma once

#include "layered/profile.hpp"

#include <cstddef>
#include <random>

namespace test_profiles {

// Uniform in [lo, hi) from the raw generator output.
inline float uniform(std::mt19937& g, float lo, float hi) {
    const double u = static_cast<double>(g()) / 4294967296.0;
    return static_cast<float>(static_cast<double>(lo) + u * static_cast<double>(hi - lo));
}

enum class kind { ordinary, thick, exponents, fast_layers, repeated };

// Ordinary: random layers, exponents on half of them. Thick: hundreds of metres and Q down to
// 2 (rows overflow at high frequency and are rescaled). Exponents: every layer with nonzero
// exponents from a small set (shared powers). Fast layers: layers faster than the half-space,
// so that oblique incidence passes the critical angle in them. Repeated: the same layer many
// times (frequency-independent layers, identical impedances).
inline sitewave::layered::layer_table random_profile(std::mt19937& g, kind k, int nl) {
    sitewave::layered::layer_table lt;
    lt.resize(nl);
    const float set[] = {0.1f, 0.3f, 0.5f, 0.8f};
    for (std::size_t i = 0; i < static_cast<std::size_t>(nl); ++i) {
        const bool thick = k == kind::thick;
        lt.vs[i] = uniform(g, 80.0f, 2500.0f);
        lt.vp[i] = lt.vs[i] * uniform(g, 1.5f, 4.0f);
        lt.dns[i] = uniform(g, 1.4f, 2.8f);
        lt.qs[i] = uniform(g, thick ? 2.0f : 5.0f, 100.0f);
        lt.qp[i] = uniform(g, thick ? 2.0f : 5.0f, 150.0f);
        lt.fs[i] = g() % 2 == 0 ? 0.0f : uniform(g, 0.0f, 1.0f);
        lt.fp[i] = g() % 2 == 0 ? 0.0f : uniform(g, 0.0f, 1.0f);
        lt.thk[i] = thick ? uniform(g, 100.0f, 2000.0f) : uniform(g, 0.5f, 40.0f);
        if (k == kind::exponents) {
            lt.fs[i] = set[g() % 4];
            lt.fp[i] = set[g() % 4];
        }
        if (k == kind::repeated && i > 0) {
            for (auto* col : {&lt.vs, &lt.vp, &lt.dns, &lt.qs, &lt.qp, &lt.fs, &lt.fp, &lt.thk}) {
                (*col)[i] = (*col)[0];
            }
        }
    }
    if (k == kind::fast_layers && nl >= 2) {
        lt.vs[static_cast<std::size_t>(nl - 1)] = 300.0f;
        lt.vp[static_cast<std::size_t>(nl - 1)] = 700.0f;
        for (std::size_t i = 0; i + 1 < static_cast<std::size_t>(nl); i += 2) {
            lt.vs[i] = uniform(g, 600.0f, 3000.0f);
            lt.vp[i] = 2.0f * lt.vs[i];
        }
    }
    return lt;
}

} // namespace test_profiles
