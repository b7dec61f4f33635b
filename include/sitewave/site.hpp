// The site file (TOML): soil types with their curves, layers over a bedrock half-space, the water
// table and the angle of incidence, for the equivalent-linear analysis; and the linear run's
// layer table of such a site. SI units: m, m/s, kN/m³, kPa; damping as a ratio.
#pragma once

#include "sitewave/curves.hpp"
#include "sitewave/error.hpp"
#include "sitewave/types.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sitewave::site {

inline constexpr double unit_weight_water = 9.81; // kN/m³
inline constexpr double gravity = 9.80665;        // m/s²
inline constexpr double atmosphere = 101.325;     // kPa

struct layer {
    std::string soil;       // the soil type's name
    double thickness = 0;   // m
    double vs = 0;          // m/s
    double vp = 0;          // m/s (given, or from Poisson's ratio)
    double unit_weight = 0; // kN/m³, the soil type's
    double top = 0;         // depth of the top, m
    double sigma_v = 0;     // vertical effective stress at mid-depth, kPa
    double sigma_m = 0;     // mean effective stress at mid-depth, atm
    curves::curve_set curves;
    // The linear run's quality factors, Q = q f^e, when the file gives them.
    std::optional<double> qs, fs, qp, fp;
};

struct bedrock {
    double vs = 0;
    double vp = 0;
    double unit_weight = 0;
    double damping = 0; // ratio
};

struct site_model {
    std::string title;
    double angle = 0.0;                // degrees from the vertical
    std::optional<double> water_table; // m below the surface
    std::vector<layer> layers;         // top first
    bedrock rock;
};

// Reads and checks a site file. Refusals (kind `refused`) read "<file>:<line>:<column>: <key>:
// <what>" ("<file>: cannot be read" for a file that cannot be read): TOML syntax (key "(syntax)"),
// unknown keys, missing required keys, wrong types, a soil type no layer uses, a layer naming an
// unknown soil, a thickness, Vs or unit weight not positive, Vp not above Vs, curves not increasing
// in strain, G/Gmax outside (0, 1], damping outside [0, 100) %, an unknown published name (with the
// closest names), a mean effective stress that is not positive.
result<site_model> read_site(const std::string& path);
// The same for text in memory; `name` stands for the file in messages.
result<site_model> parse_site(std::string_view text, const std::string& name);

// The linear run's layer table: density = unit weight / g, Qs and Qp from the file's qs, fs, qp,
// fp or 1/(2D) with D the curve's small-strain damping (exponent 0), the bedrock last with
// Q = 1/(2 damping). Refused (kind `argument`) for a site without layers or a zero damping
// without quality factors.
result<layer_table> to_layer_table(const site_model& site);

} // namespace sitewave::site
