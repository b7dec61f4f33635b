// Random vibration theory: peak responses from a Fourier amplitude spectrum and a duration,
// without time histories. Spectral moments, the peak factors of Cartwright and Longuet-Higgins
// (1956), Vanmarcke (1975), Boore and Joyner (1984) and Boore and Thompson (2012, 2015), the
// Brune point source of Boore (2003) with its duration, the response spectrum of an oscillator
// and the spectrum that gives a target response spectrum. In double; errors are values (kind
// `argument` for calls outside the contract stated with each function).
//
// Units: frequency in Hz, a Fourier amplitude spectrum in g·s (or any unit·s, which the peaks
// then carry without the ·s), durations in s, distances in km, magnitudes as moment magnitude.
#pragma once

#include "sitewave/error.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sitewave::rvt {

enum class region { wna, cena };
enum class peak_method { clh, vanmarcke, bj84, bt12, bt15 };

// A Fourier amplitude spectrum: increasing positive frequencies and amplitudes ≥ 0, at least two.
struct spectrum {
    std::vector<double> freq, amp;
};

// y at t, interpolated linearly in log-log between the points (x increasing and positive, one y
// each): y's own value at a point, 0 between two points where either is 0; beyond the ends the
// end values, or 0 with zero_outside.
double loglog(const std::vector<double>& x, const std::vector<double>& y, double t,
              bool zero_outside = false);

// The spectral moments m_k = 2∫(2πf)^k·|A(f)|² df over the spectrum's range (trapezoid in ln f).
struct moments {
    double m0 = 0, m1 = 0, m2 = 0, m4 = 0;
};
result<moments> spectral_moments(const spectrum& s);

// The spectrum on n ≥ 2 log-spaced frequencies from fmin to fmax (0 < fmin < fmax), its
// amplitude interpolated linearly in log-log (0 where the spectrum is 0 on either side) and held
// at its end values beyond its range.
result<spectrum> resample(const spectrum& s, double fmin, double fmax, std::size_t n = 2048);

// The integration band of the moments: 0.05 to 100 Hz, or the part of it the input covers.
inline constexpr double band_min = 0.05, band_max = 100.0;
inline constexpr std::size_t band_points = 2048;

// Peak factors (peak / rms), each from its defining integral computed by adaptive Gauss–Kronrod
// quadrature to 10⁻⁸ relative. Refused for moments that are not positive and finite or a duration
// that is not.
//   clh:       √2·∫₀^∞ [1 − (1 − ξ e^{−z²})^{Ne}] dz, ξ = m2/√(m0 m4), Ne = max(2, √(m4/m2)·T/π)
//   vanmarcke: ∫₀^∞ [1 − F(x)] dx, F(x) = (1 − e^{−x²/2})·exp[−Nz e^{−x²/2}(1 − e^{−√(π/2) δe x})
//              /(1 − e^{−x²/2})], δe = (1 − m1²/(m0 m2))^0.6, Nz = max(1.33, T·√(m2/m0)/π)
result<double> peak_factor_clh(const moments& m, double t_gm);
result<double> peak_factor_vanmarcke(const moments& m, double t_gm);
// The same integrals for given parameters: CLH of (Ne, ξ), Vanmarcke of (Nz, δe).
result<double> clh_integral(double ne, double xi);
result<double> vanmarcke_integral(double nz, double delta_e);

// The coefficients c1–c7 of the rms-duration ratio of Boore and Thompson: a table of magnitudes ×
// distances (as in their .pars files: a title line, "nm, nr:", the two counts, a header line, then
// rows of M, R, c1–c7 and further columns, magnitude varying fastest).
class bt_table {
  public:
    // Refused (kind `refused`, naming `name` and the line) for a text that is not such a table.
    static result<bt_table> parse(std::string_view text, const std::string& name);
    // The shipped tables.
    static const bt_table& builtin(region r, peak_method m); // m: bt12 or bt15
    // c1–c7 at (M, R): bilinear in M and ln R, M and R clipped to the table's range.
    std::vector<double> coefficients(double magnitude, double distance) const;
    // T_rms/T_gm at an oscillator of frequency f_osc and damping ζ (ratio): [c1 + c2 (1 − η^c3)
    // /(1 + η^c3)]·[1 + c4/(2πζ)·(η/(1 + c5 η^c6))^c7], η = 1/(f_osc T_gm).
    double ratio(double magnitude, double distance, double t_gm, double f_osc,
                 double damping) const;

  private:
    std::vector<double> m_, r_;          // magnitudes and ln distances, increasing
    std::vector<std::vector<double>> c_; // [im + nm·ir] → c1..c7
};

// The rms duration of an oscillator (Boore and Joyner 1984): T_gm + T_o γ³/(γ³ + 1/3),
// T_o = 1/(2πζ f_osc), γ = T_gm f_osc.
double trms_bj84(double t_gm, double f_osc, double damping);

// A Brune ω² point source (Boore 2003) and its path.
struct source {
    double magnitude = 6.0;
    double distance = 20.0; // km
    region where = region::wna;
    double stress_drop = 100;         // bar
    double kappa = 0.04;              // s
    double q0 = 180, q_eta = 0.45;    // Q = q0·f^q_eta
    double beta = 3.5, density = 2.8; // km/s, g/cm³
    // Optional crustal amplification: frequencies (Hz) and factors, log-log interpolated.
    std::vector<double> amp_freq, amp_factor;
};
// The region's defaults: WNA Δσ 100 bar, Q 180 f^0.45, κ0 0.04 s; CENA 150 bar, 680 f^0.36, 0.006
// s.
source default_source(region r, double magnitude, double distance);
double seismic_moment(double magnitude); // dyne·cm, 10^{1.5(M + 10.7)}
double corner_frequency(const source& s);
// The ground-motion duration 1/f_c + T_path(R).
double duration(const source& s);
// The Fourier amplitude of the ground acceleration at f (g·s).
double source_fas(const source& s, double f);
// Refused for a magnitude outside [2, 9.5], a distance outside (0, 2000] km, or parameters that are
// not positive and finite.
result<spectrum> source_spectrum(const source& s);

// What the peak factor needs beyond the moments: the method, the ground-motion duration, and M
// and R for the Boore–Thompson methods (refused without them).
struct peak_setting {
    peak_method method = peak_method::vanmarcke;
    double t_gm = 0;
    std::optional<double> magnitude, distance;
    region where = region::wna;
};

// The peak of the motion whose spectrum is given (PGA for an acceleration spectrum in g·s).
result<double> peak(const spectrum& s, const peak_setting& p);

// Pseudo-spectral accelerations (in the spectrum's unit without ·s) at the periods (s), for a
// damping ratio in (0, 1): the oscillator's spectrum |H|·|A| with H = f_n²/(f_n² − f² + 2iζ f_n f),
// its moments on the integration band, its rms over T_rms (T_gm for clh and vanmarcke, the
// method's own otherwise) times the peak factor.
result<std::vector<double>> psa(const spectrum& s, const std::vector<double>& periods,
                                double damping, const peak_setting& p);

// The spectrum whose response spectrum is a target (periods increasing or not, PSA > 0): values
// at f = 1/T, started from PF 2.5 and the narrow-band estimate A = Sa/PF·√(2ζ T_gm/(π f)), then
// A ← A·Sa_target/Sa until the RMS relative misfit is below 0.5 % or after 30 passes.
struct inversion {
    spectrum fas;
    double misfit = 0; // %, RMS of Sa/Sa_target − 1 over the periods
    int passes = 0;
};
result<inversion> invert(const std::vector<double>& periods, const std::vector<double>& target,
                         double damping, const peak_setting& p);

} // namespace sitewave::rvt
