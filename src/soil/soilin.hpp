// Reading the soil profile file soil_dat.csv, with its echo on the console.
#pragma once

#include "layered/profile.hpp"
#include "textio/unit.hpp"

#include <string>

namespace sitewave::soil {

inline constexpr const char* soil_file = "soil_dat.csv";

struct soil_profile {
    layered::layer_table layers; // nl rows, as they stand in the file
    float theta = 0.0f;          // incidence angle in the half-space, radians from the vertical
    int nl = 0;                  // number of rows as declared on line 5 (0 or less: no row)
    int nin = 0;                 // input wave type: 1 incident motion, 2 borehole motion
    int nin_line = 3;            // the lines of the file on which nin and nl were read
    int nl_line = 5;
};

// Reads soil_dat.csv from the working directory line by line (title; angle in degrees; wave
// type; text; number of rows; column headings; one row per layer with its number, density, Vp,
// Qp, Fp, Vs, Qs, Fs, thickness) and echoes each value on `console` as it is read. Nothing is
// validated here. A missing file, a malformed number or an early end of the file is the fatal
// report of the text layer.
soil_profile soilin(textio::output_unit& console);

// The refusal text for a profile the transfer functions cannot use (empty when it is sound):
// a wave type other than 1 or 2 first, then the layer table row by row.
std::string check_profile(const soil_profile& p);

} // namespace sitewave::soil
