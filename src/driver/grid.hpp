// Transform length and frequency grid of a record (public types and functions).
#pragma once

#include "sitewave/grid.hpp"

#include <string>

namespace sitewave::driver {

using sitewave::choose_length;
using sitewave::grid;
using sitewave::make_grid;
using sitewave::transform_length;

// Why nt samples at time step dt give no grid on nf points that the run can use: the reason,
// worded for the refusal that follows the record's name, or empty when they do, with the grid
// then in `g`.
std::string grid_fault(int nt, float dt, int nf, grid& g);

} // namespace sitewave::driver
