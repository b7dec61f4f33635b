#include "response/psa.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace sitewave::response {

namespace {

// One step of the oscillator over dt with the excitation linear between its end values:
//   [u1]   [a11 a12] [u0]   [b11 b12] [a0]
//   [v1] = [a21 a22] [v0] + [b21 b22] [a1]
// exact for u'' + 2 zeta omega u' + omega^2 u = -a(t) (the recurrence of Nigam and Jennings).
//
// With h(t) = e^(-zeta omega t) sin(omega_d t) / omega_d the unit impulse response, every b
// follows from I0 = int_0^dt h and I1 = int_0^dt t h, since the load a time t before the end of
// the step is a0 t/dt + a1 (1 - t/dt):
//   b11 = -I1/dt, b12 = -(I0 - I1/dt), b21 = -(h(dt) - I0/dt), b22 = -I0/dt.
// Written this way the coefficients keep their precision at long periods, where the usual
// expanded form subtracts terms of order 1/(omega^3 dt) to leave one of order dt^2.
struct step {
    double a11, a12, a21, a22;
    double b11, b12, b21, b22;
};

step make_step(double period, double damping, double dt) {
    const double omega = 2.0 * std::numbers::pi / period;
    const double sigma = damping * omega;
    const double omega_d = omega * std::sqrt(1.0 - damping * damping);
    const double x = omega * dt;

    const double e = std::exp(-sigma * dt);
    const double s = std::sin(omega_d * dt);
    const double c = std::cos(omega_d * dt);
    const double h = e * s / omega_d;                // h(dt)
    const double hp = e * (c - sigma / omega_d * s); // h'(dt)

    double i0 = 0.0;
    double i1 = 0.0;
    if (x < 1.0) {
        // Power series of h in t: with e_k = c_k dt^(k-1) for h = sum c_k t^k, e_1 = 1 and
        // (k+2)(k+1) e_(k+2) = -(2 zeta x (k+1) e_(k+1) + x^2 e_k). The terms fall like x^k/k!.
        double e_prev = 0.0; // e_(k-1)
        double e_k = 1.0;    // e_k, from k = 1
        double s0 = 0.0;
        double s1 = 0.0;
        for (int k = 1; k < 40; ++k) {
            const double kd = k;
            s0 += e_k / (kd + 1.0);
            s1 += e_k / (kd + 2.0);
            const double e_next =
                -(2.0 * damping * x * kd * e_k + x * x * e_prev) / ((kd + 1.0) * kd);
            e_prev = e_k;
            e_k = e_next;
            if (std::abs(e_k) + std::abs(e_prev) < 1e-18 * std::abs(s1)) {
                break;
            }
        }
        i0 = dt * dt * s0;
        i1 = dt * dt * dt * s1;
    } else {
        // I0 is the static response to a unit step; I1 follows from the equation of motion
        // integrated by parts against t.
        const double w2 = omega * omega;
        i0 = (1.0 - e * (c + sigma / omega_d * s)) / w2;
        i1 = (h - dt * hp - 2.0 * sigma * dt * h + 2.0 * sigma * i0) / w2;
    }

    step st{};
    st.a11 = e * (c + sigma / omega_d * s);
    st.a12 = h;
    st.a21 = -omega * omega * h;
    st.a22 = hp;
    st.b11 = -i1 / dt;
    st.b12 = -(i0 - i1 / dt);
    st.b21 = -(h - i0 / dt);
    st.b22 = -i0 / dt;
    return st;
}

double peak_abs(std::span<const float> accel) {
    double peak = 0.0;
    for (const float a : accel) {
        peak = std::max(peak, std::abs(static_cast<double>(a)));
    }
    return peak;
}

} // namespace

double psa_at(std::span<const float> accel, double dt, double period, double damping) {
    assert(dt > 0.0);
    assert(damping >= 0.0 && damping < 1.0);
    // Below a millionth of the step the oscillator follows the ground to within 1e-6 (the lag
    // of a damped oscillator is about 2 zeta / (omega dt) of the change over one step).
    if (period <= 1e-6 * dt) {
        return peak_abs(accel);
    }
    if (accel.empty()) {
        return 0.0;
    }
    const step st = make_step(period, damping, dt);
    double u = 0.0;
    double v = 0.0;
    double peak = 0.0;
    double a0 = static_cast<double>(accel[0]);
    for (std::size_t i = 1; i < accel.size(); ++i) {
        const double a1 = static_cast<double>(accel[i]);
        const double u1 = st.a11 * u + st.a12 * v + st.b11 * a0 + st.b12 * a1;
        const double v1 = st.a21 * u + st.a22 * v + st.b21 * a0 + st.b22 * a1;
        u = u1;
        v = v1;
        a0 = a1;
        peak = std::max(peak, std::abs(u));
    }
    const double omega = 2.0 * std::numbers::pi / period;
    return omega * omega * peak;
}

std::vector<double> psa(std::span<const float> accel, double dt, std::span<const double> periods,
                        double damping) {
    std::vector<double> out;
    out.reserve(periods.size());
    for (const double t : periods) {
        out.push_back(psa_at(accel, dt, t, damping));
    }
    return out;
}

std::vector<double> log_periods(double tmin, double tmax, int n) {
    assert(tmin > 0.0 && tmax > 0.0);
    assert(n >= 1);
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(n));
    if (n == 1) {
        out.push_back(tmin);
        return out;
    }
    const double span = std::log(tmax / tmin);
    for (int i = 0; i < n - 1; ++i) {
        out.push_back(tmin * std::exp(span * i / (n - 1)));
    }
    out.push_back(tmax);
    return out;
}

} // namespace sitewave::response
