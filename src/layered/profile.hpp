// The layer table of a soil profile and the two-column amplification table.
#pragma once

#include "common/real.hpp"

#include <array>
#include <vector>

namespace sitewave::layered {

// One row per layer, row 0 at the free surface, the last row the bedrock half-space (whose
// thickness is never used). Velocities in m/s, thickness in m, density in any unit (only ratios
// between layers enter). qp/qs are base quality factors Q0, fp/fs their frequency exponents.
struct layer_table {
    std::vector<float> dns, vp, qp, fp, vs, qs, fs, thk;

    int nl() const { return static_cast<int>(dns.size()); }
    void resize(int n) {
        for (auto* v : {&dns, &vp, &qp, &fp, &vs, &qs, &fs, &thk}) {
            v->assign(static_cast<std::size_t>(n), 0.0f);
        }
    }
};

// col[0]: surface motion over the incident (up-going) amplitude in the half-space (2 at 0 Hz);
// col[1]: surface motion over the total motion at the top of the half-space (1 at 0 Hz).
// Selected by the input wave type as col[nin - 1].
struct amp_table {
    std::array<std::vector<cplx>, 2> col;
};

} // namespace sitewave::layered
