// Transform length and frequency grid of a record (public types and functions).
#pragma once

#include "sitewave/grid.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace sitewave::steps {

using sitewave::choose_length;
using sitewave::grid;
using sitewave::make_grid;
using sitewave::transform_length;

// choose_length without its checks, for the dialogue (2 <= max_if1 <= 30 and nt >= 0 are the
// caller's): none when nt exceeds 2^max_if1.
std::optional<transform_length> shortest_length(int nt, int max_if1 = 15);

// make_grid without its checks: the grid's values as computed, whatever nf and dt are.
grid make_grid_unchecked(int nf, float dt);

// Raises an error of kind `argument` ("<function>: <what>") unless n is the length of a
// transform the steps take: a power of two from 4 to max_transform_length. `name` names it.
void check_transform_length(std::string_view function, std::string_view name, long long n);

// Raises an error of kind `argument` unless the grid has 1 to max_transform_length/2 + 1 rows
// and a positive finite frequency step: what every step that takes a grid reads of it.
void check_grid(std::string_view function, const grid& g);

// Why nt samples at time step dt give no grid on nf points that the run can use: the reason,
// worded for the refusal that follows the record's name, or empty when they do, with the grid
// then in `g`.
std::string grid_fault(int nt, float dt, int nf, grid& g);

} // namespace sitewave::steps
