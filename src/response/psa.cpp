#include "response/psa.hpp"

#include <algorithm>
#include <array>
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

bool is_rigid(double period, double dt) { return period <= 1e-6 * dt; }

double omega_squared(double period) {
    const double omega = 2.0 * std::numbers::pi / period;
    return omega * omega;
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
    if (is_rigid(period, dt)) {
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
    return omega_squared(period) * peak;
}

namespace {

// Oscillators stepped together: one period per lane. The steps of different lanes do not wait
// for each other, and each lane does psa_at's operations in psa_at's order.
constexpr std::size_t lanes = 8;

struct lane_steps {
    std::array<double, lanes> a11{}, a12{}, a21{}, a22{}, b11{}, b12{}, b21{}, b22{};
    void set(std::size_t l, const step& st) {
        a11[l] = st.a11;
        a12[l] = st.a12;
        a21[l] = st.a21;
        a22[l] = st.a22;
        b11[l] = st.b11;
        b12[l] = st.b12;
        b21[l] = st.b21;
        b22[l] = st.b22;
    }
};

template <std::size_t C> using lane_values = std::array<std::array<double, lanes>, C>;

// The oscillators of `st` under each of the C components (of one length), from rest at sample
// 0: the peak |u| of each component and lane into `peak`; `each(u)` after every step, with the
// responses at that sample.
template <std::size_t C, class Each>
void step_lanes(const std::array<std::span<const float>, C>& acc, const lane_steps& st,
                lane_values<C>& peak, Each&& each) {
    lane_values<C> u{};
    lane_values<C> v{};
    std::array<double, C> a0{};
    const std::size_t n = acc[0].size();
    if (n == 0) {
        return;
    }
    for (std::size_t c = 0; c < C; ++c) {
        a0[c] = static_cast<double>(acc[c][0]);
    }
    for (std::size_t i = 1; i < n; ++i) {
        for (std::size_t c = 0; c < C; ++c) {
            const double g0 = a0[c];
            const double g1 = static_cast<double>(acc[c][i]);
            auto& uc = u[c];
            auto& vc = v[c];
            auto& pc = peak[c];
            for (std::size_t l = 0; l < lanes; ++l) {
                const double u1 =
                    st.a11[l] * uc[l] + st.a12[l] * vc[l] + st.b11[l] * g0 + st.b12[l] * g1;
                const double v1 =
                    st.a21[l] * uc[l] + st.a22[l] * vc[l] + st.b21[l] * g0 + st.b22[l] * g1;
                uc[l] = u1;
                vc[l] = v1;
                pc[l] = std::max(pc[l], std::abs(u1));
            }
            a0[c] = g1;
        }
        each(u);
    }
}

// The periods that are not rigid, in groups of at most `lanes` (indices into periods).
std::vector<std::vector<std::size_t>> lane_groups(std::span<const double> periods, double dt) {
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < periods.size(); ++i) {
        if (is_rigid(periods[i], dt)) {
            continue;
        }
        if (groups.empty() || groups.back().size() == lanes) {
            groups.emplace_back();
        }
        groups.back().push_back(i);
    }
    return groups;
}

// The steps of a group; lanes past its end repeat its first period (their results unused).
lane_steps group_steps(const std::vector<std::size_t>& group, std::span<const double> periods,
                       double damping, double dt) {
    lane_steps st;
    for (std::size_t l = 0; l < lanes; ++l) {
        const std::size_t i = group[l < group.size() ? l : 0];
        st.set(l, make_step(periods[i], damping, dt));
    }
    return st;
}

// cos and sin of 0, 1, ..., 179 degrees.
struct angle_table {
    std::array<double, rotd_angles> c{}, s{};
    angle_table() {
        for (int k = 0; k < rotd_angles; ++k) {
            const double th = static_cast<double>(k) * std::numbers::pi / 180.0;
            c[static_cast<std::size_t>(k)] = std::cos(th);
            s[static_cast<std::size_t>(k)] = std::sin(th);
        }
    }
};

const angle_table& angles() {
    static const angle_table t;
    return t;
}

// The peak |x cos theta + y sin theta| at each angle of the responses seen so far.
struct rotated_peaks {
    std::array<double, rotd_angles> p{};
    double least = 0.0; // the smallest of p

    void take(double x, double y) {
        const auto& t = angles();
        for (std::size_t k = 0; k < p.size(); ++k) {
            p[k] = std::max(p[k], std::abs(x * t.c[k] + y * t.s[k]));
        }
    }
    void update_least() { least = *std::min_element(p.begin(), p.end()); }

    // Takes the samples x[j], y[j] that can raise a peak. A sample whose bound b >= |x cos + y
    // sin| (as computed) is at most the smallest peak raises none and is passed over: the peaks
    // are those of taking every sample, bit for bit. The samples of the larger half of the
    // bounds go first, so that the smallest peak rises early and most others are passed over.
    void take_all(std::span<const double> x, std::span<const double> y,
                  std::vector<double>& bound) {
        bound.resize(x.size());
        double top = 0.0;
        for (std::size_t j = 0; j < x.size(); ++j) {
            // |x c + y s| <= sqrt(x^2 + y^2) (c^2 + s^2 = 1 within a few ulps, every rounding
            // within one): the margin covers them. Where the squares could underflow, |x| + |y|
            // bounds it exactly (|x c| <= |x| after rounding too, and the rounded sum is
            // monotone).
            const double ax = std::abs(x[j]);
            const double ay = std::abs(y[j]);
            const double sum = ax + ay;
            bound[j] = sum < 1e-150 ? sum : std::sqrt(x[j] * x[j] + y[j] * y[j]) * (1.0 + 1e-12);
            top = std::max(top, bound[j]);
        }
        if (!(top > least)) {
            return;
        }
        const double first = std::max(least, 0.5 * top);
        for (std::size_t j = 0; j < x.size(); ++j) {
            if (bound[j] >= first) {
                take(x[j], y[j]);
            }
        }
        update_least();
        for (std::size_t j = 0; j < x.size(); ++j) {
            if (bound[j] < first && bound[j] > least) {
                take(x[j], y[j]);
            }
        }
        update_least();
    }

    // RotD50 and RotD100 of these peaks, times `scale`.
    void finish(double scale, double& rotd50, double& rotd100) const {
        auto sorted = p;
        std::sort(sorted.begin(), sorted.end());
        rotd100 = scale * sorted[rotd_angles - 1];
        rotd50 = scale * (0.5 * (sorted[rotd_angles / 2 - 1] + sorted[rotd_angles / 2]));
    }
};

} // namespace

std::vector<double> psa(std::span<const float> accel, double dt, std::span<const double> periods,
                        double damping) {
    assert(dt > 0.0);
    assert(damping >= 0.0 && damping < 1.0);
    std::vector<double> out(periods.size(), 0.0);
    const double rigid = peak_abs(accel);
    for (std::size_t i = 0; i < periods.size(); ++i) {
        if (is_rigid(periods[i], dt)) {
            out[i] = rigid;
        }
    }
    for (const auto& group : lane_groups(periods, dt)) {
        lane_values<1> peak{};
        step_lanes<1>({accel}, group_steps(group, periods, damping, dt), peak,
                      [](const lane_values<1>&) {});
        for (std::size_t l = 0; l < group.size(); ++l) {
            out[group[l]] = omega_squared(periods[group[l]]) * peak[0][l];
        }
    }
    return out;
}

horizontal_spectra horizontal(std::span<const float> a1, std::span<const float> a2, double dt,
                              std::span<const double> periods, double damping, bool rotd) {
    assert(dt > 0.0);
    assert(damping >= 0.0 && damping < 1.0);
    assert(a1.size() == a2.size());
    const std::size_t np = periods.size();
    horizontal_spectra out;
    out.h1.assign(np, 0.0);
    out.h2.assign(np, 0.0);
    if (rotd) {
        out.rotd50.assign(np, 0.0);
        out.rotd100.assign(np, 0.0);
    }
    // Rigid oscillators: the ground itself.
    {
        const double r1 = peak_abs(a1);
        const double r2 = peak_abs(a2);
        rotated_peaks ground;
        bool ground_done = false;
        for (std::size_t i = 0; i < np; ++i) {
            if (!is_rigid(periods[i], dt)) {
                continue;
            }
            out.h1[i] = r1;
            out.h2[i] = r2;
            if (rotd) {
                if (!ground_done) {
                    std::vector<double> x(a1.begin(), a1.end());
                    std::vector<double> y(a2.begin(), a2.end());
                    std::vector<double> bound;
                    ground.take_all(x, y, bound);
                    ground_done = true;
                }
                ground.finish(1.0, out.rotd50[i], out.rotd100[i]);
            }
        }
    }
    // The responses of a group are rotated a block of samples at a time.
    constexpr std::size_t block = 1024;
    std::vector<double> xs, ys, x(block), y(block), bound;
    if (rotd) {
        xs.resize(block * lanes);
        ys.resize(block * lanes);
    }
    for (const auto& group : lane_groups(periods, dt)) {
        lane_values<2> peak{};
        std::array<rotated_peaks, lanes> rotated{};
        std::size_t filled = 0;
        const auto flush = [&] {
            for (std::size_t l = 0; l < group.size(); ++l) {
                for (std::size_t j = 0; j < filled; ++j) {
                    x[j] = xs[j * lanes + l];
                    y[j] = ys[j * lanes + l];
                }
                rotated[l].take_all(std::span<const double>(x.data(), filled),
                                    std::span<const double>(y.data(), filled), bound);
            }
            filled = 0;
        };
        const lane_steps st = group_steps(group, periods, damping, dt);
        if (rotd) {
            step_lanes<2>({a1, a2}, st, peak, [&](const lane_values<2>& u) {
                std::copy(u[0].begin(), u[0].end(), xs.begin() + static_cast<long>(filled * lanes));
                std::copy(u[1].begin(), u[1].end(), ys.begin() + static_cast<long>(filled * lanes));
                if (++filled == block) {
                    flush();
                }
            });
            flush();
        } else {
            step_lanes<2>({a1, a2}, st, peak, [](const lane_values<2>&) {});
        }
        for (std::size_t l = 0; l < group.size(); ++l) {
            const std::size_t i = group[l];
            const double w2 = omega_squared(periods[i]);
            out.h1[i] = w2 * peak[0][l];
            out.h2[i] = w2 * peak[1][l];
            if (rotd) {
                rotated[l].finish(w2, out.rotd50[i], out.rotd100[i]);
            }
        }
    }
    return out;
}

void rotd_reference(std::span<const float> a1, std::span<const float> a2, double dt, double period,
                    double damping, double& rotd50, double& rotd100) {
    assert(a1.size() == a2.size());
    std::vector<double> x, y;
    double scale = 1.0;
    if (is_rigid(period, dt)) {
        x.assign(a1.begin(), a1.end());
        y.assign(a2.begin(), a2.end());
    } else if (!a1.empty()) {
        const step st = make_step(period, damping, dt);
        const std::span<const float> acc[2] = {a1, a2};
        std::vector<double>* out[2] = {&x, &y};
        for (std::size_t c = 0; c < 2; ++c) {
            double u = 0.0;
            double v = 0.0;
            double a0 = static_cast<double>(acc[c][0]);
            for (std::size_t i = 1; i < acc[c].size(); ++i) {
                const double g1 = static_cast<double>(acc[c][i]);
                const double u1 = st.a11 * u + st.a12 * v + st.b11 * a0 + st.b12 * g1;
                const double v1 = st.a21 * u + st.a22 * v + st.b21 * a0 + st.b22 * g1;
                u = u1;
                v = v1;
                a0 = g1;
                out[c]->push_back(u);
            }
        }
        scale = omega_squared(period);
    }
    rotated_peaks r;
    for (std::size_t j = 0; j < x.size(); ++j) {
        r.take(x[j], y[j]);
    }
    r.finish(scale, rotd50, rotd100);
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
