// Transfer tables with the obliquity factor in the impedance ratio.
#pragma once

#include "layered/profile.hpp"

namespace sitewave::layered {

// Both tables (SH into `sh`, vertical into `ud`, each column at least nom long) on the rows
// i*dom, i = 0..nom-1, for a wave arriving at theta radians, with the impedance ratio
// rho1 V1 cos j1 / (rho2 V2 cos j2) in place of rho1 V1 / (rho2 V2). Row 0 is (2, 1).
void oblique_tables(float dom, int nom, const layer_table& lt, float theta, amp_table& sh,
                    amp_table& ud);

} // namespace sitewave::layered
