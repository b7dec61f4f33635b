// Transform length and frequency grid of a record.
#pragma once

#include <optional>

namespace sitewave {

// nf = 2^if1, the smallest power of two from 4 up not smaller than nt.
struct transform_length {
    int nf = 0;
    int if1 = 0;
};
// The dialogue's choice: up to 32768 points; none when nt exceeds it. `max_if1` raises the
// limit (2^max_if1 points).
std::optional<transform_length> choose_length(int nt, int max_if1 = 15);

// The grid of a transform of nf points at time step dt: dur = nf*dt (s), dom = 2pi/dur (rad/s),
// nom = nf/2 + 1 rows from 0 to the Nyquist frequency, eom = nom*dom, one step above it.
struct grid {
    float dur = 0.0f;
    float dom = 0.0f;
    int iom = 1;
    int nom = 0;
    float eom = 0.0f;
};
grid make_grid(int nf, float dt);

} // namespace sitewave
