// Transform length and frequency grid of a record (public types and functions).
#pragma once

#include "sitewave/grid.hpp"

namespace sitewave::driver {

using sitewave::choose_length;
using sitewave::grid;
using sitewave::make_grid;
using sitewave::transform_length;

} // namespace sitewave::driver
