// Response spectra of a record: the peak response of linear damped single-degree-of-freedom
// oscillators to the ground acceleration.
//
// This is a post-processing measure, not part of the run's float model: the record is read as
// floats and everything from there on is computed in double.
#pragma once

#include <span>
#include <vector>

namespace sitewave::response {

// Pseudo-spectral acceleration of one oscillator.
//   accel    ground acceleration a_g, one sample every dt, in any unit (the result has the same
//            unit); linear between samples.
//   dt       sampling step in seconds, > 0.
//   period   natural period T of the oscillator in seconds. T <= 0, and any period below a
//            millionth of dt, stands for a rigid oscillator: the result is max |a_g|.
//   damping  ratio of critical damping zeta, in [0, 1) (0.05 for 5 %).
// Returns omega^2 * max |u| (omega = 2 pi / T), where u is the displacement of the oscillator
// relative to the ground, u'' + 2 zeta omega u' + omega^2 u = -a_g, starting at rest at the first
// sample and sampled at every sample of the record. An empty record gives 0.
double psa_at(std::span<const float> accel, double dt, double period, double damping);

// psa_at for each of the periods (seconds), in the same order: one value per period. The
// oscillators are stepped several at a time, each with the operations of psa_at in its order, so
// every value is psa_at's bit for bit.
std::vector<double> psa(std::span<const float> accel, double dt, std::span<const double> periods,
                        double damping);

// The angles of the rotated responses: 0, 1, ..., 179 degrees.
inline constexpr int rotd_angles = 180;

// The spectra of the two horizontal components of one record (a1, a2 of one length) at the
// periods: psa() of each, and with `rotd` the RotD50 and RotD100 of Boore (2010). The responses
// u1, u2 of the two oscillators of each period are rotated, u(theta) = u1 cos theta + u2 sin
// theta, for the 180 angles; for each angle the peak |u(theta)| over the samples; RotD100 is
// omega^2 times the largest of the 180 peaks, RotD50 omega^2 times the mean of the 90th and 91st
// of them sorted. For a rigid oscillator (as psa_at has it) the ground accelerations themselves
// are rotated. rotd50 and rotd100 stay empty without `rotd`.
struct horizontal_spectra {
    std::vector<double> h1, h2, rotd50, rotd100;
};
horizontal_spectra horizontal(std::span<const float> a1, std::span<const float> a2, double dt,
                              std::span<const double> periods, double damping, bool rotd);

// RotD50 and RotD100 by rotating every sample at every angle: the reference the fast path of
// horizontal() must equal bit for bit (for tests and checks; slow).
void rotd_reference(std::span<const float> a1, std::span<const float> a2, double dt, double period,
                    double damping, double& rotd50, double& rotd100);

namespace detail {
// With `on`, the oscillators and the rotation use the vectors every x86-64 processor has even
// where AVX2 is there: for tests, both give the same bits.
void force_baseline(bool on);
} // namespace detail

// n periods in seconds from tmin to tmax, both included, equally spaced on a logarithmic axis.
// tmin and tmax are > 0 and n >= 1; n = 1 gives {tmin}.
std::vector<double> log_periods(double tmin, double tmax, int n);

} // namespace sitewave::response
