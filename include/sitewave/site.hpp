// The site file (TOML): soil types with their curves, layers over a bedrock half-space, the water
// table and the angle of incidence, for the equivalent-linear analysis; and the linear run's
// layer table of such a site. SI units: m, m/s, kN/m³, kPa; damping as a ratio.
#pragma once

#include "sitewave/curves.hpp"
#include "sitewave/error.hpp"
#include "sitewave/types.hpp"

#include <cstdint>
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

// A soil type as the file gives it: the model and its parameters, so that the curves can be made
// again at another stress (a realization's layers lie at other depths).
struct soil_type {
    std::string name;
    double unit_weight = 0; // kN/m³
    curves::model model = curves::model::linear;
    double k0 = 0.5;
    double pi = 0, ocr = 1, frequency = 1, cycles = 10; // darendeli
    double cu = 0, d50 = 0;                             // menq (and cycles)
    std::optional<double> damping_min;                  // ratio
    curves::curve_set fixed;                            // table, published, linear
};

// Toro (1995) velocity variation: ln Vs of a layer has standard deviation sigma_ln; adjacent
// layers are correlated by ρ = (1 − ρd)·ρt + ρd, ρt = rho0·exp(−t/delta), ρd =
// rho200·((d + d0)/(200 + d0))^b for d ≤ 200 m and rho200 below (t, d in m).
struct toro_parameters {
    double sigma_ln = 0, rho0 = 0, delta = 1, rho200 = 0, b = 0, d0 = 0;
};
// The table's rows by their names ("USGS C", "GeoMatrix AB", ...), in the table's order.
std::optional<toro_parameters> toro_class(std::string_view name);
std::vector<std::string> toro_class_names();

// The depth to the bedrock of a realization: the site's own (fixed), uniform in [a, b], normal
// or lognormal with mean a and standard deviation b (of the depth, m).
struct depth_law {
    enum class kind { fixed, uniform, normal, lognormal };
    kind law = kind::fixed;
    double a = 0, b = 0;
};

// The [variation] table: how each realization of the site is drawn (see sitewave/variation.hpp).
struct variation_table {
    long realizations = 1;
    std::uint64_t seed = 0;
    bool velocity = false;           // "toro" (true) or "none"
    std::string site_class;          // the Toro row named, empty for explicit parameters
    toro_parameters toro;            // the row's, or the file's
    std::optional<double> truncate;  // of the normal deviates, in standard deviations
    bool layering = false;           // "toro" (true) or "none"
    bool curves = false;             // "darendeli" (true) or "none"
    double curve_correlation = -0.5; // of the G/Gmax and damping deviates
    depth_law bedrock_depth;
    double vs_min = 50, vs_max = 5000; // m/s
};
// The largest number of realizations a site file may ask for.
inline constexpr long max_realizations = 10'000'000;

struct site_model {
    std::string title;
    double angle = 0.0;                // degrees from the vertical
    std::optional<double> water_table; // m below the surface
    std::vector<layer> layers;         // top first
    bedrock rock;
    std::vector<soil_type> soils;             // in the file's order
    std::optional<variation_table> variation; // the [variation] table, when given
};

// Reads and checks a site file. Refusals (kind `refused`) read "<file>:<line>:<column>: <key>:
// <what>" ("<file>: cannot be read" for a file that cannot be read): TOML syntax (key "(syntax)"),
// unknown keys, missing required keys, wrong types, a soil type no layer uses, a layer naming an
// unknown soil, a thickness, Vs or unit weight not positive, Vp not above Vs, curves not increasing
// in strain, G/Gmax outside (0, 1], damping outside [0, 100) %, an unknown published name (with the
// closest names), a mean effective stress that is not positive; in [variation]: an unknown key
// or value, realizations outside [1, max_realizations], a negative seed, a site class that is not
// in the table (with the closest names) or given with explicit parameters, sigma_ln, delta,
// truncate not positive, rho0, rho200 outside [0, 1], b or d0 negative, a correlation outside
// [−1, 1], a depth law with min ≥ max, a mean or sd not positive, vs_min ≥ vs_max.
result<site_model> read_site(const std::string& path);
// The same for text in memory; `name` stands for the file in messages.
result<site_model> parse_site(std::string_view text, const std::string& name);

// Each layer's top, stresses and curves made again from its thickness, its soil type (by name,
// in site.soils) and the water table, as read_site makes them. Refused (kind `argument`) for a
// soil that is not there or a stress that is not positive; the site is then left part done.
result<void> restack(site_model& site);

// The linear run's layer table: density = unit weight / g, Qs and Qp from the file's qs, fs, qp,
// fp or 1/(2D) with D the curve's small-strain damping (exponent 0), the bedrock last with
// Q = 1/(2 damping). Refused (kind `argument`) for a site without layers or a zero damping
// without quality factors.
result<layer_table> to_layer_table(const site_model& site);

} // namespace sitewave::site
