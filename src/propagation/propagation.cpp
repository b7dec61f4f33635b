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
    error e;
    e.what = error::kind::argument;
    e.message = "propagation::column::solve: " + what;
    return e;
}

std::string number_text(double x) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", x);
    return buffer;
}

bool finite_positive(double x) { return std::isfinite(x) && x > 0.0; }

// Amplitudes beyond this are scaled down with everything above them (the surface's share then
// underflows towards 0, as it physically is).
constexpr double rescale_above = 1e100;

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

result<column> column::solve(std::vector<medium> media, double omega, convention c) {
    if (media.empty()) {
        return argument("no medium");
    }
    if (!std::isfinite(omega) || omega < 0.0) {
        return argument("omega " + number_text(omega) + " is negative or not finite");
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
        for (std::size_t i = 0; i < n; ++i) {
            col.v_[i] = complex_velocity(media[i].vs, media[i].damping, c);
            col.k_[i] = omega / col.v_[i];
            if (i > 0) {
                col.top_[i] = col.top_[i - 1] + media[i - 1].thickness;
            }
        }
        const complex i1(0.0, 1.0);
        for (std::size_t m = 0; m + 1 < n; ++m) {
            // α: the impedance ratio ρ_m V*_m / (ρ_{m+1} V*_{m+1}).
            const complex alpha =
                (media[m].density * col.v_[m]) / (media[m + 1].density * col.v_[m + 1]);
            const complex e = std::exp(i1 * col.k_[m] * media[m].thickness);
            const complex up = col.a_[m] * e;
            const complex down = col.b_[m] / e;
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
    const complex phase = std::exp(complex(0.0, 1.0) * k_[i] * z);
    switch (w) {
    case wave::within:
        return a_[i] * phase + b_[i] / phase;
    case wave::outcrop:
        return 2.0 * a_[i] * phase;
    case wave::incident:
        return a_[i] * phase;
    }
    return {};
}

complex column::transfer(double from, wave from_wave, double to, wave to_wave) const {
    return motion(to, to_wave) / motion(from, from_wave);
}

complex column::strain(std::size_t i, double z) const {
    const complex phase = std::exp(complex(0.0, 1.0) * k_[i] * z);
    return complex(0.0, 1.0) * k_[i] * (a_[i] * phase - b_[i] / phase);
}

complex column::strain_transfer(std::size_t i, double input_depth, wave input_wave) const {
    return strain(i, media_[i].thickness / 2.0) / motion(input_depth, input_wave);
}

} // namespace sitewave::propagation
