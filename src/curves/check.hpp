// The checks of a tabulated curve, shared with the site file's reader, and the embedded text of
// the published curves.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sitewave::curves {

// What is wrong with a list of strains (%): empty when nothing is. The text names the entry (1
// first), e.g. "not increasing at entry 3".
std::string strain_problem(const std::vector<double>& strain);
// What is wrong with a list of values against its strains: the length, then each value in
// [low, high] (the low end excluded when `open_low`, the high end excluded when `open_high`).
std::string value_problem(const std::vector<double>& value, std::size_t strains, double low,
                          double high, bool open_low, bool open_high);

// The text of data/curves/published.csv, built into the library.
std::string_view published_csv();

} // namespace sitewave::curves
