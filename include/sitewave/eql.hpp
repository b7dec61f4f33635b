// The equivalent-linear run of one horizontal component: the soil's shear modulus and damping
// iterated to agree with the effective shear strain the motion causes in each (sub)layer, after
// Schnabel, Lysmer and Seed (1972). In double; errors are values.
#pragma once

#include "sitewave/error.hpp"
#include "sitewave/propagation.hpp"
#include "sitewave/rvt.hpp"
#include "sitewave/site.hpp"

#include <complex>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sitewave::eql {

using complex = std::complex<double>;

// What the input spectrum is: the incident wave in the half-space, the motion of a rock outcrop,
// or the motion within the half-space at its top.
enum class input_kind { incident, outcrop, within };

struct options {
    double strain_ratio = 0.65; // effective strain / peak strain
    double tolerance = 1.0;     // %, largest change of G and D between passes
    int max_iterations = 15;    // passes at most
    propagation::convention convention = propagation::convention::kramer;
    double sublayer_fraction = 0.2; // a layer thicker than fraction·Vs/fmax is split
    double sublayer_fmax = 20.0;    // Hz; 0 keeps the layers whole
    // A wave arriving at `angle` degrees from the vertical in the half-space (Snell's law with
    // its undamped Vs); `oblique`: impedances with the obliquity factor (propagation::column).
    double angle = 0.0;
    bool oblique = false;
    // Peaks by random vibration theory instead of time histories: the input's spectrum is then a
    // Fourier amplitude spectrum (its phase unused, nt not used), and the peak of a sublayer's
    // strain (likewise of a top's acceleration and displacement) is PF·√(m0/T_gm) of its
    // amplitude spectrum, with the setting's peak factor and duration (no oscillator).
    std::optional<rvt::peak_setting> rvt;
};

// The strain ratio of an earthquake of magnitude m: (m − 1)/10.
double strain_ratio_of_magnitude(double m);

// The input: the one-sided acceleration spectrum (m/s²·s, as the forward transform scaled by dt
// gives it) on rows k = 0..nom-1 at angular frequency k·dom, of a transform of
// nf = 2·(nom − 1) points at time step dt, of which the record's own are the first nt.
struct input {
    std::vector<complex> spectrum;
    double dom = 0;
    double dt = 0;
    std::size_t nt = 0;
};

// One sublayer at the end of the run.
struct sublayer {
    double top = 0, bottom = 0; // m
    std::string soil;
    std::size_t layer = 0;    // the site's layer it belongs to (from 0)
    double vs_initial = 0;    // m/s
    double vs_final = 0;      // m/s, Vs·√(G/Gmax)
    double modulus_ratio = 1; // G/Gmax
    double damping = 0;       // ratio
    double strain_eff = 0;    // %
    double strain_max = 0;    // %
    double stress_max = 0;    // kPa, G·γmax
    double sigma_v = 0;       // vertical effective stress at mid-depth, kPa
    double stress_ratio = 0;  // stress_max / sigma_v
    bool clamped = false;     // the strain lay outside the curve's table
    double accel_top = 0;     // m/s², peak acceleration at the top (within the profile)
    double displacement = 0;  // m, peak displacement of the top relative to the half-space's top
    double density = 0;       // t/m³
    double unit_weight = 0;   // kN/m³
};

// The error of one pass: the largest change of G/Gmax and of damping (%) and the sublayers
// (from 0) where each was.
struct pass_error {
    int pass = 0;
    double modulus = 0, damping = 0;
    std::size_t modulus_at = 0, damping_at = 0;
};

struct run_result {
    std::vector<sublayer> layers;
    std::vector<pass_error> passes;
    bool converged = false;
    // The final profile (sublayers, then the half-space) and the surface motion per unit of the
    // input on the input's rows.
    std::vector<propagation::medium> media;
    std::vector<complex> transfer;
    input_kind kind = input_kind::outcrop;
    propagation::convention convention = propagation::convention::kramer;
    double slowness2 = 0.0; // the wave's squared horizontal slowness, (s/m)²
    bool oblique = false;
};

// The most sublayers a site is split into.
inline constexpr std::size_t max_sublayers = 2000;

// The site's layers split as options say (sublayers of equal thickness), the bedrock last,
// with the stresses at each mid-depth; damping and modulus at the start (10⁻⁴ %).
result<std::vector<sublayer>> split(const site::site_model& site, const options& o);

// The loop. Peaks (of strain, acceleration, displacement) are taken over the record's own nt
// samples. Refused (kind `argument`) for options out of range (strain ratio in (0, 1],
// tolerance ≥ 0, max_iterations ≥ 1, fraction > 0, fmax ≥ 0, a finite angle not at 90° to the
// vertical), more than
// max_sublayers, an empty or non-finite input, or a site the propagation refuses.
result<run_result> run(const site::site_model& site, const input& in, input_kind kind,
                       const options& o);

// The motion at `depth` (m) as `w` (within or outcrop) per unit of the input, on the input's
// rows, for the run's final profile.
result<std::vector<complex>> transfer_at(const run_result& r, double depth, propagation::wave w,
                                         double dom, std::size_t nom);

// The real history of nf = 2·(spectrum.size() − 1) points whose one-sided transform scaled by dt
// is `spectrum` (nf a power of two, else empty).
std::vector<double> to_time(const std::vector<complex>& spectrum, double dt);

} // namespace sitewave::eql
