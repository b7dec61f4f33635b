// summary.csv: one row per run in the plan's order.
#pragma once

#include "sitewave/batch.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace sitewave::batch {

// The whole text of summary.csv.
std::string summary_csv(const batch_options& o, const std::vector<run_summary>& rows);

// Writes DIR/summary.csv (a temporary file renamed into place); the error of a failed write.
result<void> write_summary(const batch_options& o, const std::vector<run_summary>& rows);

} // namespace sitewave::batch
