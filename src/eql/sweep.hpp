// One solve of the loop: the column on every row of the grid, each sublayer's mid-depth strain
// and each top's motion per unit of the input motion.
//
// The layers are swept one after the other over all rows at once (the rows are independent),
// the phases e^{iωc h/2} of a layer formed by blocks: exactly at the first row of a block, then
// times the powers of the row step. Amplitudes are not rescaled, so a profile whose waves could
// grow past the range of double (more than e^600 from the surface to the half-space, through
// damping at the highest row and impedance contrasts) is solved row by row by the propagation's
// column instead, which rescales.
#pragma once

#include "eql/fourier.hpp"
#include "sitewave/error.hpp"
#include "sitewave/propagation.hpp"

#include <cstddef>
#include <vector>

namespace sitewave::eql::detail {

struct sweep_setup {
    propagation::convention convention = propagation::convention::kramer;
    double slowness2 = 0;                                 // squared horizontal slowness, (s/m)²
    bool oblique = false;                                 // impedances with the obliquity factor
    double dom = 0;                                       // rad/s between rows
    std::size_t nom = 0;                                  // rows
    propagation::wave input = propagation::wave::outcrop; // where the input motion is taken
};

class sweep {
  public:
    // Solves the column (sublayers, then the half-space) on every row. Errors as the
    // propagation's column refuses the media.
    result<void> solve(const std::vector<propagation::medium>& media, const sweep_setup& s);

    // Each times `inverse` is per unit of the input motion. Per sublayer: c·(A e^{iωch/2} −
    // B e^{−iωch/2}), with c the vertical slowness (the mid-depth strain is this times iω times
    // the input displacement); per sublayer and then the half-space: the motion at the top
    // (top[0]·inverse is the surface's transfer function).
    std::vector<split_complex> strain;
    std::vector<split_complex> top;
    split_complex inverse;

    bool used_fallback() const { return fallback_; }

  private:
    void solve_fast(const std::vector<propagation::medium>& media, const sweep_setup& s);
    result<void> solve_rows(const std::vector<propagation::medium>& media, const sweep_setup& s);
    split_complex a_, b_;
    bool fallback_ = false;
};

} // namespace sitewave::eql::detail
