// Reading the three-component ground-motion record (public type sitewave::record).
#pragma once

#include "sitewave/grid.hpp"
#include "sitewave/record.hpp"
#include "textio/fatal.hpp"

#include <optional>
#include <string>

namespace sitewave::steps {

using sitewave::max_samples;
using sitewave::record;

// The times of the kept samples as written (the same decimal text rounded once to double), and
// the line each was read on; filled only when asked for.
struct written_times {
    std::vector<double> time;
    std::vector<int> line;
};

// Reads the record file `name` (unit 11; opened at `path` when given) into a record, keeping at
// most `keep` samples. Failures raise the fatal report of the text layer.
record read_record(const std::string& name, textio::io_state& state, const std::string& path = {},
                   int keep = max_samples, written_times* written = nullptr);

// The grid the record file at `path` appears to have, judged without a statement of the text
// layer: a heading line, then one sample of four plain numbers per line, the first two giving
// the time step. Only a guess, to begin work with; none when the file does not look so, or
// when the grid would be refused.
std::optional<grid> likely_grid(const std::string& path);

} // namespace sitewave::steps
