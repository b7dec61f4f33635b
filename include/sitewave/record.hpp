// The three-component ground-motion record.
#pragma once

#include "sitewave/error.hpp"

#include <string>
#include <vector>

namespace sitewave {

// The longest record the dialogue transforms (2^15 samples).
inline constexpr int max_samples = 32768;

struct record {
    // Column titles, 10 characters each (cut or padded with blanks); blank when not given.
    std::string head1 = std::string(10, ' ');
    std::string head2 = std::string(10, ' ');
    std::string head3 = std::string(10, ' ');
    std::string head4 = std::string(10, ' ');
    // Samples: time (s, or the record's unit) and the components H1, H2, V1 (any unit); at
    // most the sample limit given to the reader is kept, a longer record only counted.
    std::vector<float> time, xr1, yr1, zr1;
    int nt = 0;      // number of complete sample lines
    float dt = 0.0f; // time(2) - time(1)
};

// Reads a record file: a line of four column titles, then one line per sample `time,H1,H2,V1`
// in free format (a line with fewer than four values takes the rest from the next line; a
// sample cut short by the end of the file is not counted, though its times still give dt).
// Keeps at most `keep` samples (a longer record is counted to the end). Errors: the fatal report
// of a failed open, a malformed value or an early end, naming unit 11 and `path`; an error of
// kind `argument` when keep is negative.
result<record> read_record(const std::string& path, int keep = max_samples);

} // namespace sitewave
