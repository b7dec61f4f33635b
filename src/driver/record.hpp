// Reading the three-component ground-motion record (public type sitewave::record).
#pragma once

#include "sitewave/record.hpp"
#include "textio/fatal.hpp"

#include <string>

namespace sitewave::driver {

using sitewave::max_samples;
using sitewave::record;

// Reads the record file `name` (unit 11; opened at `path` when given) into a record, keeping at
// most `keep` samples. Failures raise the fatal report of the text layer.
record read_record(const std::string& name, textio::io_state& state, const std::string& path = {},
                   int keep = max_samples);

} // namespace sitewave::driver
