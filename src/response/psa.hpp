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

// psa_at for each of the periods (seconds), in the same order: one value per period.
std::vector<double> psa(std::span<const float> accel, double dt, std::span<const double> periods,
                        double damping);

// n periods in seconds from tmin to tmax, both included, equally spaced on a logarithmic axis.
// tmin and tmax are > 0 and n >= 1; n = 1 gives {tmin}.
std::vector<double> log_periods(double tmin, double tmax, int n);

} // namespace sitewave::response
