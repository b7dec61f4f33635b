// The values the steps of a run pass to each other: complex numbers, the layer table of a
// profile and the two-column amplification tables.
#pragma once

#include <array>
#include <vector>

namespace sitewave {

// A complex value as a pair of 32-bit reals, real part first. The arithmetic on it belongs to
// the library (rounded in a fixed order); a caller only reads and stores the parts.
struct cplx {
    float re = 0.0f;
    float im = 0.0f;
};

// One row per layer, row 0 at the free surface, the last row the bedrock half-space (whose
// thickness is never used). Velocities in m/s, thickness in m, density in any unit (only ratios
// between layers enter). qp/qs are base quality factors Q0, fp/fs their frequency exponents:
// Q(f) = Q0 f^n, held at Q0 below 1 Hz when n > 0.
struct layer_table {
    std::vector<float> dns, vp, qp, fp, vs, qs, fs, thk;

    int nl() const { return static_cast<int>(dns.size()); }
    // n rows of zeros in every column (none when n is not positive).
    void resize(int n) {
        for (auto* v : {&dns, &vp, &qp, &fp, &vs, &qs, &fs, &thk}) {
            v->assign(static_cast<std::size_t>(n > 0 ? n : 0), 0.0f);
        }
    }
};

// col[0]: surface motion over the incident (up-going) amplitude in the half-space (2 at 0 Hz);
// col[1]: surface motion over the total motion at the top of the half-space (1 at 0 Hz).
// Selected by the input wave type as col[nin - 1]. Row i belongs to the angular frequency
// i * dom of the grid.
struct amp_table {
    std::array<std::vector<cplx>, 2> col;
};

} // namespace sitewave
