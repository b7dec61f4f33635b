// Transform length and frequency grid of a record.
#pragma once

#include "sitewave/error.hpp"

namespace sitewave {

// The longest transform the library's steps take: 2^20 points.
inline constexpr int max_transform_if1 = 20;
inline constexpr int max_transform_length = 1 << max_transform_if1;

// nf = 2^if1, the smallest power of two from 4 up not smaller than nt.
struct transform_length {
    int nf = 0;
    int if1 = 0;
};
// The dialogue's choice: up to 2^max_if1 points (32768 by default). Checks: nt >= 0 and
// 2 <= max_if1 <= max_transform_if1, else an error of kind `argument`. A record of more than
// 2^max_if1 samples is refused (kind `refused`, naming the count and the limit).
result<transform_length> choose_length(int nt, int max_if1 = 15);

// The grid of a transform of nf points at time step dt: dur = nf*dt (s), dom = 2pi/dur (rad/s),
// nom = nf/2 + 1 rows from 0 to the Nyquist frequency, eom = nom*dom, one step above it.
struct grid {
    float dur = 0.0f;
    float dom = 0.0f;
    int iom = 1;
    int nom = 0;
    float eom = 0.0f;
};
// Checks: nf a power of two from 4 to max_transform_length, dt positive and finite, and dur,
// dom and eom finite (dom then positive), else an error of kind `argument`.
result<grid> make_grid(int nf, float dt);

} // namespace sitewave
