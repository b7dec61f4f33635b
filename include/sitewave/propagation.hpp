// SH waves (vertically propagating, or arriving at an angle) in a layered profile over a
// half-space, in double precision, with complex moduli: the up- and down-going amplitudes of each
// layer at one angular frequency, the motion and the transfer between any two depths (within the
// profile, as an outcrop, or the incident wave), and the shear strain at a depth of a layer.
//
// Displacement in layer m, z measured down from its top: u = A_m e^{i k*_m z} + B_m e^{-i k*_m z}
// (time factor e^{iωt}), k*_m = ω / V*_m; A is the up-going wave. The free surface has A_1 = B_1;
// the amplitudes are scaled so that the incident wave in the half-space is A_n = 1.
#pragma once

#include "sitewave/error.hpp"

#include <complex>
#include <cstddef>
#include <vector>

namespace sitewave::propagation {

using complex = std::complex<double>;

// How a damping ratio D enters the complex modulus G*:
//   kramer        G (1 − D² + 2iD), V* = V (1 + iD): the linear run's V (1 + i/(2Q)) with Q =
//   1/(2D) unit_modulus  G (1 − 2D² + 2iD √(1 − D²)), |G*| = G simple        G (1 + 2iD)
enum class convention { kramer, unit_modulus, simple };

// The complex velocity V* = V √(G*/G) of a velocity and damping ratio under a convention.
complex complex_velocity(double vs, double damping, convention c = convention::kramer);

// The vertical slowness √(1/V*² − p²) (the principal root) of a complex velocity under the
// squared horizontal slowness p² (s²/m²): the vertical wavenumber over ω. 1/V* when p² = 0.
complex vertical_slowness(complex v, double slowness2);

// The impedance of a medium across horizontal planes: ρV*, or with the obliquity factor
// ρV*·cos j, cos j = V*·c (c its vertical slowness).
complex impedance(double density, complex v, complex c, bool oblique);

// One layer, or the half-space as the last entry (its thickness is not used).
struct medium {
    double thickness = 0; // m
    double vs = 0;        // m/s
    double density = 1;   // any unit, the same for every layer
    double damping = 0;   // ratio
};

// Where a motion is taken: the total motion in the profile (A e^{ikz} + B e^{-ikz}), the motion of
// an outcrop of the material at that depth (2 A e^{ikz}), or the up-going wave alone (A e^{ikz}).
enum class wave { within, outcrop, incident };

// The wave field of a profile at one angular frequency.
class column {
  public:
    // For a wave arriving at an angle, `slowness2` is the squared horizontal slowness
    // sin²θ/Vs² of the half-space (undamped); the wavenumbers are then vertical ones, ω·c, and
    // with `oblique` the impedances carry the obliquity factor (without it they are ρV*, as the
    // linear run has them). Refused (kind `argument`) unless there are one or more media, each
    // with a positive finite velocity and density, a damping in [0, 1) and (above the
    // half-space) a positive finite thickness, omega is finite and not negative, and slowness2
    // is finite and not negative.
    static result<column> solve(std::vector<medium> media, double omega,
                                convention c = convention::kramer, double slowness2 = 0.0,
                                bool oblique = false);

    std::size_t size() const { return media_.size(); } // layers and the half-space
    double omega() const { return omega_; }
    const medium& layer(std::size_t i) const { return media_[i]; }
    double top(std::size_t i) const { return top_[i]; } // depth of the top of medium i, m
    complex up(std::size_t i) const { return a_[i]; }   // A_i at the top of medium i
    complex down(std::size_t i) const { return b_[i]; } // B_i
    complex wavenumber(std::size_t i) const { return k_[i]; }
    complex velocity(std::size_t i) const { return v_[i]; }

    // The index of the medium holding `depth` (the deeper one at an interface; the half-space
    // below the last layer).
    std::size_t at_depth(double depth) const;
    // The motion at a depth (m, from the surface; negative depths read the surface).
    complex motion(double depth, wave w = wave::within) const;
    // motion(to, to_wave) / motion(from, from_wave).
    complex transfer(double from, wave from_wave, double to, wave to_wave) const;
    // The shear strain i k* (A e^{ik*z} − B e^{−ik*z}) at z m below the top of medium i (per unit
    // of the amplitudes above; a ratio, not percent).
    complex strain(std::size_t i, double z) const;
    // The strain at mid-depth of layer i per unit of the input motion (input_depth, input_wave):
    // multiplied by the input's displacement spectrum it gives the layer's strain spectrum.
    complex strain_transfer(std::size_t i, double input_depth, wave input_wave) const;

  private:
    std::vector<medium> media_;
    std::vector<double> top_;
    std::vector<complex> a_, b_, k_, v_;
    double omega_ = 0;
};

} // namespace sitewave::propagation
