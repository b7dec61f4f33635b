// The three-component ground-motion record: a line of four column titles, then one line per
// sample with the time, H1, H2 and V1.
#pragma once

#include <string>
#include <vector>

namespace sitewave::driver {

// The longest record the transform takes (2^15 samples).
inline constexpr int max_samples = 32768;

struct record {
    // Column titles, 10 characters each (cut or padded with blanks); blank when not given.
    std::string head1 = std::string(10, ' ');
    std::string head2 = std::string(10, ' ');
    std::string head3 = std::string(10, ' ');
    std::string head4 = std::string(10, ' ');
    // Samples; at most max_samples are kept (a longer record is only counted).
    std::vector<float> time, xr1, yr1, zr1;
    int nt = 0;      // number of complete sample lines
    float dt = 0.0f; // time(2) - time(1)
};

// Reads the record file `name` (unit 11). A data line with fewer than four values takes the
// missing ones from the next line; a sample cut short by the end of the file is not counted,
// though its values stay stored for the time step. Failures are fatal reports of the text layer.
record read_record(const std::string& name);

} // namespace sitewave::driver
