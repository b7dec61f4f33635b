// The layer recursion in double: from the free surface (A_1 = B_1 = 1) down to the half-space,
// then every amplitude divided by the incident A_n.
#include "sitewave/propagation.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>

namespace sitewave::propagation {

namespace {

error argument(const std::string& what) {
    return argument_error("propagation::column::solve", what);
}

bool finite_positive(double x) { return std::isfinite(x) && x > 0.0; }

// Amplitudes beyond this are scaled down with everything above them (the surface's share then
// underflows towards 0, as it physically is).
constexpr double rescale_above = 1e100;
// The largest exponent of a layer's e^{ikh} taken as it is.
constexpr double rescale_exponent = 300.0;

// a·e^{w}, also where e^{w} alone would overflow and a is small enough to bring it back.
complex times_exp(complex a, complex w) {
    if (a == complex(0.0)) {
        return 0.0;
    }
    if (std::fabs(w.real()) <= rescale_exponent) {
        return a * std::exp(w);
    }
    return std::exp(w + std::log(a));
}

} // namespace

complex complex_velocity(double vs, double damping, convention c) {
    const double d = damping;
    switch (c) {
    case convention::kramer:
        return vs * complex(1.0, d);
    case convention::unit_modulus:
        return vs * std::sqrt(complex(1.0 - 2.0 * d * d, 2.0 * d * std::sqrt(1.0 - d * d)));
    case convention::simple:
        return vs * std::sqrt(complex(1.0, 2.0 * d));
    }
    return vs;
}

complex vertical_slowness(complex v, double slowness2) {
    if (slowness2 == 0.0) {
        return 1.0 / v;
    }
    return std::sqrt(1.0 / (v * v) - slowness2);
}

complex impedance(double density, complex v, complex c, bool oblique) {
    return oblique ? density * v * (v * c) : density * v;
}

result<column> column::solve(std::vector<medium> media, double omega, convention c,
                             double slowness2, bool oblique) {
    if (media.empty()) {
        return argument("no medium");
    }
    if (!std::isfinite(omega) || omega < 0.0) {
        return argument("omega " + number_text(omega) + " is negative or not finite");
    }
    if (!std::isfinite(slowness2) || slowness2 < 0.0) {
        return argument("squared slowness " + number_text(slowness2) +
                        " is negative or not finite");
    }
    for (std::size_t i = 0; i < media.size(); ++i) {
        const auto& m = media[i];
        const std::string which = "medium " + std::to_string(i + 1) + ": ";
        if (!finite_positive(m.vs)) {
            return argument(which + "vs " + number_text(m.vs) + " is not positive");
        }
        if (!finite_positive(m.density)) {
            return argument(which + "density " + number_text(m.density) + " is not positive");
        }
        if (!(m.damping >= 0.0 && m.damping < 1.0)) {
            return argument(which + "damping " + number_text(m.damping) + " is outside [0, 1)");
        }
        if (i + 1 < media.size() && !finite_positive(m.thickness)) {
            return argument(which + "thickness " + number_text(m.thickness) + " is not positive");
        }
    }
    try {
        column col;
        const std::size_t n = media.size();
        col.omega_ = omega;
        col.top_.assign(n, 0.0);
        col.a_.assign(n, complex(1.0, 0.0));
        col.b_.assign(n, complex(1.0, 0.0));
        col.v_.resize(n);
        col.k_.resize(n);
        std::vector<complex> slow(n);
        for (std::size_t i = 0; i < n; ++i) {
            col.v_[i] = complex_velocity(media[i].vs, media[i].damping, c);
            slow[i] = vertical_slowness(col.v_[i], slowness2);
            col.k_[i] = omega * slow[i];
            if (i > 0) {
                col.top_[i] = col.top_[i - 1] + media[i - 1].thickness;
            }
        }
        const complex i1(0.0, 1.0);
        for (std::size_t m = 0; m + 1 < n; ++m) {
            // α: the impedance ratio ρ_m V*_m / (ρ_{m+1} V*_{m+1}).
            const complex alpha =
                impedance(media[m].density, col.v_[m], slow[m], oblique) /
                impedance(media[m + 1].density, col.v_[m + 1], slow[m + 1], oblique);
            // e^{ikh} = e^{x} e^{i Re(k) h} with x = −Im(k) h. A layer whose x alone could leave
            // the range of double is crossed with everything scaled by e^{−x}: the amplitudes
            // above it then shrink (towards 0, as their share physically does).
            const complex ikh = i1 * col.k_[m] * media[m].thickness;
            complex up, down;
            if (std::fabs(ikh.real()) <= rescale_exponent) {
                const complex e = std::exp(ikh);
                up = col.a_[m] * e;
                down = col.b_[m] / e;
            } else {
                const double x = ikh.real();
                const complex turn = std::polar(1.0, ikh.imag());
                const double shrink = std::exp(-std::fabs(x));
                up = col.a_[m] * turn * (x > 0 ? 1.0 : shrink * shrink);
                down = col.b_[m] / turn * (x > 0 ? shrink * shrink : 1.0);
                for (std::size_t j = 0; j <= m; ++j) {
                    col.a_[j] *= shrink;
                    col.b_[j] *= shrink;
                }
            }
            col.a_[m + 1] = 0.5 * (up * (1.0 + alpha) + down * (1.0 - alpha));
            col.b_[m + 1] = 0.5 * (up * (1.0 - alpha) + down * (1.0 + alpha));
            const double size = std::max(std::abs(col.a_[m + 1]), std::abs(col.b_[m + 1]));
            if (size > rescale_above) {
                for (std::size_t j = 0; j <= m + 1; ++j) {
                    col.a_[j] /= size;
                    col.b_[j] /= size;
                }
            }
        }
        const complex incident = col.a_[n - 1];
        for (std::size_t i = 0; i < n; ++i) {
            col.a_[i] /= incident;
            col.b_[i] /= incident;
        }
        col.media_ = std::move(media);
        return col;
    } catch (const std::bad_alloc&) {
        error e;
        e.what = error::kind::system;
        e.message = "propagation::column::solve: out of memory";
        return e;
    }
}

std::size_t column::at_depth(double depth) const {
    const auto it = std::upper_bound(top_.begin(), top_.end(), depth);
    return it == top_.begin() ? 0 : static_cast<std::size_t>(it - top_.begin()) - 1;
}

complex column::motion(double depth, wave w) const {
    const std::size_t i = at_depth(depth);
    const double z = std::max(0.0, depth - top_[i]);
    const complex ikz = complex(0.0, 1.0) * k_[i] * z;
    switch (w) {
    case wave::within:
        return times_exp(a_[i], ikz) + times_exp(b_[i], -ikz);
    case wave::outcrop:
        return 2.0 * times_exp(a_[i], ikz);
    case wave::incident:
        return times_exp(a_[i], ikz);
    }
    return {};
}

complex column::transfer(double from, wave from_wave, double to, wave to_wave) const {
    return motion(to, to_wave) / motion(from, from_wave);
}

complex column::strain(std::size_t i, double z) const {
    const complex ikz = complex(0.0, 1.0) * k_[i] * z;
    return complex(0.0, 1.0) * k_[i] * (times_exp(a_[i], ikz) - times_exp(b_[i], -ikz));
}

complex column::strain_transfer(std::size_t i, double input_depth, wave input_wave) const {
    return strain(i, media_[i].thickness / 2.0) / motion(input_depth, input_wave);
}

} // namespace sitewave::propagation
