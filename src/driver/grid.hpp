// Transform length and frequency grid of a record.
#pragma once

#include <optional>

namespace sitewave::driver {

// nf = 2^if1, the smallest power of two from 4 to 32768 not smaller than nt; none when nt
// exceeds 32768.
struct transform_length {
    int nf = 0;
    int if1 = 0;
};
std::optional<transform_length> choose_length(int nt);

// The grid of a transform of nf points at time step dt (float arithmetic, in this order):
// dur = nf*dt, dom = 2pi/dur, nom = nf/2 + 1 rows from 0 to the Nyquist frequency, and
// eom = nom*dom, one step above the angular Nyquist frequency.
struct grid {
    float dur = 0.0f;
    float dom = 0.0f;
    int iom = 1;
    int nom = 0;
    float eom = 0.0f;
};
grid make_grid(int nf, float dt);

} // namespace sitewave::driver
