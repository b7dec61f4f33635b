// The soil profile: layer table, angle of incidence and input wave type.
#pragma once

#include "sitewave/error.hpp"
#include "sitewave/types.hpp"

#include <string>

namespace sitewave {

struct profile {
    layer_table layers; // nl rows, as they stand in the file
    float angle = 0.0f; // incidence angle as read, degrees from the vertical
    float theta = 0.0f; // the same in radians
    int nl = 0;         // number of rows as declared (0 or less: no row)
    int nin = 0;        // input wave type: 1 incident motion, 2 motion observed in the bedrock
    int nin_line = 3;   // the lines of the file on which nin and nl were read
    int nl_line = 5;
};

// Reads a soil file (title; angle in degrees; wave type; text; number of rows; column headings;
// one row per layer: number, density, Vp, Qp, Fp, Vs, Qs, Fs, thickness, the half-space last)
// and checks it. Errors: the fatal report of the text layer (unit 4, named `path`), or a refusal
// naming the file, the line or row and the field (wave type not 1 or 2; no row; density, Vs, Qs
// or Qp not positive; Vp not above Vs; a value not finite; a negative thickness above the
// half-space).
result<profile> read_profile(const std::string& path);

// The refusal for a profile the transfer functions cannot use, its messages naming `file`: the
// rules of read_profile. An error of kind `argument` when the columns of the layer table do not
// each hold nl rows (none for nl <= 0).
result<void> check_profile(const profile& p, const std::string& file);

} // namespace sitewave
