// The layer table of a soil profile and the two-column amplification table (public types).
#pragma once

#include "arith/real.hpp"
#include "sitewave/types.hpp"

namespace sitewave::layered {

using sitewave::amp_table;
using sitewave::layer_table;

} // namespace sitewave::layered
