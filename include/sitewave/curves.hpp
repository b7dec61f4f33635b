// Modulus-reduction and damping curves: G/Gmax and the damping ratio of a soil as functions of the
// shear strain, from the Darendeli (2001) and Menq (2003) models, a user's table, the published
// tables shipped with the library, or a constant damping. Strains are in percent, damping is a
// ratio (the tables' damping columns are in percent and are converted on entry).
#pragma once

#include "sitewave/error.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace sitewave::curves {

enum class model { darendeli, menq, table, published, linear };

// The value of a curve at one strain; `clamped` when the strain lay outside a table's strains and
// the end value was taken.
struct reading {
    double modulus = 1.0; // G/Gmax
    double damping = 0.0; // ratio
    bool clamped = false;
};

// One tabulated curve: strictly increasing positive strains (%) and the values at them.
struct tabulated {
    std::vector<double> strain;
    std::vector<double> value;
};

// A modulus-reduction and damping curve set.
struct curve_set {
    model kind = model::linear;
    std::string name; // e.g. "darendeli", or the published names "modulus | damping"

    // darendeli and menq: G/Gmax = 1/(1 + (γ/γr)^a), D = b (G/Gmax)^0.1 D_Masing + D_min.
    double gamma_r = 1.0;     // reference strain, %
    double a = 1.0;           // curvature
    double b = 1.0;           // Masing scaling
    double d_min_percent = 0; // small-strain damping of the model, %

    // table and published: G/Gmax and damping (ratio) against strain.
    tabulated modulus;
    tabulated damping;

    // linear: the constant damping ratio.
    double constant_damping = 0.0;

    // Added to every damping value (ratio): damping_min minus the curve's own small-strain
    // damping when damping_min was given, 0 otherwise.
    double damping_shift = 0.0;

    // G/Gmax and damping at `strain_percent`. A strain at or below zero reads the small-strain
    // end (the tables' first entries, the models' limits). Damping never falls below zero.
    reading at(double strain_percent) const;
    // The damping ratio at the smallest strain of the curve (the models' limit at zero strain,
    // a table's first entry, the constant), shift included.
    double small_strain_damping() const;
};

// Darendeli (2001): plasticity index (%), overconsolidation ratio, mean effective stress (atm),
// loading frequency (Hz) and number of cycles. Refused (kind `argument`) unless pi >= 0,
// ocr > 0, sigma_m_atm > 0, frequency > 0 and cycles > 0, all finite.
result<curve_set> darendeli(double pi, double ocr, double sigma_m_atm, double frequency = 1.0,
                            double cycles = 10.0);

// Menq (2003): coefficient of uniformity, median grain size (mm), mean effective stress (atm),
// number of cycles. Refused (kind `argument`) unless each is positive and finite.
result<curve_set> menq(double cu, double d50_mm, double sigma_m_atm, double cycles = 10.0);

// Darendeli's standard deviations: of G/Gmax at a value of G/Gmax, and of the damping (%) at a
// damping (%).
double darendeli_sigma_modulus(double modulus_ratio);
double darendeli_sigma_damping_percent(double damping_percent);

// A user's table: strains (%), G/Gmax and damping (%), the damping on its own strains when
// `damping_strain` is not empty. Linear interpolation in ln γ, clamped at the ends. Refused (kind
// `argument`, naming the list and the entry) unless each list has one entry or more, the strains
// are positive, finite and strictly increasing, each list matches its strains in length, G/Gmax
// lies in (0, 1] and the damping in [0, 100) %.
result<curve_set> table(const std::vector<double>& strain, const std::vector<double>& modulus,
                        const std::vector<double>& damping_percent,
                        const std::vector<double>& damping_strain = {});

// The published curves shipped with the library, by the names of data/curves/published.csv: the
// modulus reduction of one set and the damping of another (or the same). Refused (kind
// `refused`) for a name that is not there or has no curve of that quantity, listing the closest
// names.
result<curve_set> published(const std::string& modulus_name, const std::string& damping_name);
result<curve_set> published(const std::string& name);
// Every published name, in the file's order.
std::vector<std::string> published_names();
// The names of `names` closest to `name` (edit distance, letter case ignored), at most `count`.
std::vector<std::string> closest_names(std::string_view name, const std::vector<std::string>& names,
                                       std::size_t count = 3);

// G/Gmax 1 and a constant damping ratio in [0, 1). Refused (kind `argument`) otherwise.
result<curve_set> linear(double damping);

// The set with its small-strain damping replaced by `damping_min` (ratio, in [0, 1)): the whole
// damping curve shifted by the difference. Refused (kind `argument`) otherwise.
result<curve_set> with_damping_min(curve_set set, double damping_min);

} // namespace sitewave::curves
