// Reading the soil profile file soil_dat.csv, and its echo on the console.
#pragma once

#include "sitewave/profile.hpp"
#include "textio/unit.hpp"

#include <string>
#include <vector>

namespace sitewave::soil {

inline constexpr const char* soil_file = "soil_dat.csv";

using soil_profile = sitewave::profile;

// How far a read got: 0 nothing, 1 the angle, 2 the wave type, 3 the number of rows; `numbers`
// holds the layer number of each complete row (as written in its first column).
struct progress {
    int stage = 0;
    std::vector<int> numbers;
};

// Reads the soil file `name` (unit 4; opened at `path` when given) line by line (title; angle in
// degrees; wave type; text; number of rows; column headings; one row per layer with its number,
// density, Vp, Qp, Fp, Vs, Qs, Fs, thickness). Nothing is validated here. A missing file, a
// malformed number or an early end of the file raises the fatal report; `p` then holds and
// `prog` tells what had been read.
void soilin(const std::string& name, textio::io_state& state, soil_profile& p, progress& prog,
            const std::string& path = {});

// The console echo of what was read, as the dialogue shows it line by line: the notice, the
// angle, the wave type, the table heading and each complete row.
void echo(textio::output_unit& console, const soil_profile& p, const progress& prog);

// The refusal text for a profile the transfer functions cannot use (empty when it is sound),
// naming `file`: a wave type other than 1 or 2 first, then the layer table row by row. The
// table must hold nl rows.
std::string check_profile(const soil_profile& p, const std::string& file = soil_file);

// The same for rows 0..nl-1 of a layer table (which must hold them), each text beginning with
// `where` and naming the row: a value not finite; density, Vs, Qs or Qp not positive; Vp not
// above Vs; a negative thickness above the half-space (the last row).
std::string check_layers(const layer_table& t, int nl, const std::string& where);

// Why the columns of a layer table do not each hold `rows` rows (rows < 0: all the same number),
// or empty when they do.
std::string layer_shape_fault(const layer_table& t, int rows = -1);

} // namespace sitewave::soil
