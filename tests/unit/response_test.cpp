#include "response/psa.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <vector>

// The references here are independent of the step recurrence: closed-form steady states, a
// fine Runge-Kutta integration of the oscillator, and the rigid and very flexible limits.
namespace {

using sitewave::response::horizontal;
using sitewave::response::log_periods;
using sitewave::response::psa;
using sitewave::response::psa_at;
using sitewave::response::rotd_reference;

constexpr double pi = std::numbers::pi;

// A sine of circular frequency w, brought up over a half-cosine ramp of `ramp` seconds so that
// the oscillator is left with almost no free vibration, then held for `hold` seconds.
std::vector<float> ramped_sine(double w, double dt, double ramp, double hold) {
    const auto n = static_cast<std::size_t>((ramp + hold) / dt) + 1;
    std::vector<float> a(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) * dt;
        const double env = t < ramp ? 0.5 * (1.0 - std::cos(pi * t / ramp)) : 1.0;
        a[i] = static_cast<float>(env * std::sin(w * t));
    }
    return a;
}

// A few incommensurate sines plus noise, like a short strong-motion record.
std::vector<float> rough_record(std::size_t n, double dt) {
    std::mt19937 gen(20240611u);
    std::normal_distribution<double> noise(0.0, 0.2);
    std::vector<float> a(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) * dt;
        const double env = t * std::exp(1.0 - t); // builds up, peaks at 1 s, dies away
        a[i] = static_cast<float>(env * (std::sin(7.3 * t) + 0.6 * std::sin(23.1 * t + 1.0) +
                                         0.3 * std::sin(61.0 * t + 2.0) + noise(gen)));
    }
    return a;
}

// Peak |u| at the samples, by classical Runge-Kutta with `sub` steps per sample, the
// excitation interpolated linearly between samples.
double rk4_peak(const std::vector<float>& a, double dt, double period, double zeta, int sub) {
    const double w = 2.0 * pi / period;
    const double h = dt / sub;
    auto accel = [&](std::size_t i, double frac) {
        return (1.0 - frac) * static_cast<double>(a[i]) + frac * static_cast<double>(a[i + 1]);
    };
    auto rhs = [&](double u, double v, double ag) { return -ag - 2.0 * zeta * w * v - w * w * u; };
    double u = 0.0;
    double v = 0.0;
    double peak = 0.0;
    for (std::size_t i = 0; i + 1 < a.size(); ++i) {
        for (int j = 0; j < sub; ++j) {
            const double f0 = static_cast<double>(j) / sub;
            const double fm = (j + 0.5) / sub;
            const double f1 = static_cast<double>(j + 1) / sub;
            const double k1u = v;
            const double k1v = rhs(u, v, accel(i, f0));
            const double k2u = v + 0.5 * h * k1v;
            const double k2v = rhs(u + 0.5 * h * k1u, k2u, accel(i, fm));
            const double k3u = v + 0.5 * h * k2v;
            const double k3v = rhs(u + 0.5 * h * k2u, k3u, accel(i, fm));
            const double k4u = v + h * k3v;
            const double k4v = rhs(u + h * k3u, k4u, accel(i, f1));
            u += h / 6.0 * (k1u + 2.0 * k2u + 2.0 * k3u + k4u);
            v += h / 6.0 * (k1v + 2.0 * k2v + 2.0 * k3v + k4v);
        }
        peak = std::max(peak, std::abs(u));
    }
    return peak;
}

TEST(psa, steady_state_under_a_long_sine) {
    // Unit sine at r times the natural frequency: PSA = |H(r)| = 1 / sqrt((1-r^2)^2 + (2 zeta
    // r)^2).
    const struct {
        double r, zeta;
    } cases[] = {{0.5, 0.05}, {1.0, 0.05}, {2.0, 0.05}, {1.0, 0.02}, {0.8, 0.10}};
    const double period = 1.0;
    const double dt = 0.005;
    for (const auto& c : cases) {
        const double w = c.r * 2.0 * pi / period;
        const auto a = ramped_sine(w, dt, 30.0, 60.0);
        const double mag = 1.0 / std::sqrt((1.0 - c.r * c.r) * (1.0 - c.r * c.r) +
                                           4.0 * c.zeta * c.zeta * c.r * c.r);
        EXPECT_NEAR(psa_at(a, dt, period, c.zeta) / mag, 1.0, 0.01)
            << "r " << c.r << " zeta " << c.zeta;
    }
}

TEST(psa, matches_fine_step_integration) {
    const double dt = 0.01;
    const auto a = rough_record(800, dt);
    const struct {
        double period, zeta;
    } cases[] = {{0.03, 0.05}, {0.1, 0.05}, {0.5, 0.0}, {0.5, 0.05}, {1.0, 0.2}, {4.0, 0.05}};
    for (const auto& c : cases) {
        const double w = 2.0 * pi / c.period;
        const double want = w * w * rk4_peak(a, dt, c.period, c.zeta, 100);
        EXPECT_NEAR(psa_at(a, dt, c.period, c.zeta), want, 1e-6 * want)
            << "T " << c.period << " zeta " << c.zeta;
    }
}

TEST(psa, rigid_oscillator_follows_the_ground) {
    const double dt = 0.01;
    const auto a = rough_record(800, dt);
    double peak = 0.0;
    for (const float x : a) {
        peak = std::max(peak, std::abs(static_cast<double>(x)));
    }
    const double periods[] = {0.0, -1.0, 1e-4};
    const auto got = psa(a, dt, periods, 0.05);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], peak);
    EXPECT_EQ(got[1], peak);
    EXPECT_NEAR(got[2], peak, 1e-3 * peak);
}

TEST(psa, flexible_oscillator_gives_ground_displacement) {
    // One full sine cycle of acceleration, then rest: the ground ends displaced, at rest. A
    // 100 s oscillator barely moves in absolute terms, so max |u| is the peak ground
    // displacement, here from the exact double integral of the piecewise-linear samples.
    const double dt = 0.01;
    const double tp = 0.5;
    std::vector<float> a(61, 0.0f);
    for (std::size_t i = 0; i <= 50; ++i) {
        a[i] = static_cast<float>(std::sin(2.0 * pi * static_cast<double>(i) * dt / tp));
    }
    double vel = 0.0;
    double disp = 0.0;
    double peak = 0.0;
    for (std::size_t i = 0; i + 1 < a.size(); ++i) {
        const double a0 = static_cast<double>(a[i]);
        const double a1 = static_cast<double>(a[i + 1]);
        disp += dt * vel + dt * dt * (2.0 * a0 + a1) / 6.0;
        vel += dt * (a0 + a1) / 2.0;
        peak = std::max(peak, std::abs(disp));
    }
    EXPECT_NEAR(peak, tp * tp / (2.0 * pi), 2e-3 * peak); // the sampled pulse is close to the sine
    for (const double period : {100.0, 1000.0}) {
        const double w = 2.0 * pi / period;
        EXPECT_NEAR(psa_at(a, dt, period, 0.05) / (w * w * peak), 1.0, 1e-2) << period;
    }
}

TEST(psa, empty_and_single_sample_records) {
    EXPECT_EQ(psa_at({}, 0.01, 1.0, 0.05), 0.0);
    const std::vector<float> one{-2.5f};
    EXPECT_EQ(psa_at(one, 0.01, 0.0, 0.05), 2.5);
    EXPECT_EQ(psa_at(one, 0.01, 1.0, 0.05), 0.0);
}

TEST(log_periods, ends_included_and_constant_ratio) {
    const auto p = log_periods(0.01, 10.0, 4);
    ASSERT_EQ(p.size(), 4u);
    const double want[] = {0.01, 0.1, 1.0, 10.0};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(p[i], want[i], 1e-12 * want[i]) << i;
    }
    EXPECT_EQ(p.front(), 0.01);
    EXPECT_EQ(p.back(), 10.0);
    EXPECT_EQ(log_periods(0.5, 3.0, 1), std::vector<double>{0.5});
}

// The oscillators stepped several at a time give psa_at's values bit for bit, whatever the
// number of periods (groups that are full, short, or only rigid periods) and their order.
TEST(psa, many_at_once_equal_one_at_a_time) {
    const double dt = 0.01;
    const auto a = rough_record(700, dt);
    const struct {
        std::vector<double> periods;
        double zeta;
    } cases[] = {
        {log_periods(0.01, 10.0, 37), 0.05},
        {{1.0}, 0.0},
        {{0.0, 0.5, 1e-9, 0.05, 3.0, 0.0}, 0.02},
        {log_periods(0.02, 5.0, 16), 0.3},
        {{5.0, 0.1, 5.0, 0.1, 2.0, 0.7, 0.03, 0.3, 0.2}, 0.05},
    };
    for (const auto& c : cases) {
        const auto got = psa(a, dt, c.periods, c.zeta);
        ASSERT_EQ(got.size(), c.periods.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i], psa_at(a, dt, c.periods[i], c.zeta)) << c.periods[i];
        }
    }
}

// Records of two horizontals for the rotated spectra.
struct pair_case {
    const char* name;
    std::vector<float> a1, a2;
};

std::vector<pair_case> horizontal_pairs() {
    const double dt = 0.01;
    const auto x = rough_record(600, dt);
    auto y = rough_record(900, dt);
    y.erase(y.begin(), y.begin() + 300);
    std::vector<float> zero(x.size(), 0.0f), neg(x.size()), tiny(x.size()), big(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        neg[i] = -x[i];
        tiny[i] = x[i] * 1e-38f; // below the normal floats: the squares underflow
        big[i] = x[i] * 1e30f;
    }
    return {{"independent", x, y},    {"identical", x, x},      {"opposite", x, neg},
            {"second zero", x, zero}, {"first zero", zero, y},  {"tiny", tiny, tiny},
            {"huge", big, x},         {"both zero", zero, zero}};
}

// The fast rotation (samples that cannot raise a peak passed over) gives the values of rotating
// every sample at every angle, bit for bit; H1 and H2 are psa()'s.
TEST(rotd, equals_rotating_every_sample) {
    const double dt = 0.01;
    std::vector<double> periods = log_periods(0.02, 8.0, 11);
    periods.insert(periods.begin(), 0.0);
    for (const auto& c : horizontal_pairs()) {
        for (const double zeta : {0.05, 0.0}) {
            const auto h = horizontal(c.a1, c.a2, dt, periods, zeta, true);
            EXPECT_EQ(h.h1, psa(c.a1, dt, periods, zeta)) << c.name;
            EXPECT_EQ(h.h2, psa(c.a2, dt, periods, zeta)) << c.name;
            for (std::size_t i = 0; i < periods.size(); ++i) {
                double r50 = -1.0;
                double r100 = -1.0;
                rotd_reference(c.a1, c.a2, dt, periods[i], zeta, r50, r100);
                EXPECT_EQ(h.rotd50[i], r50) << c.name << " T " << periods[i];
                EXPECT_EQ(h.rotd100[i], r100) << c.name << " T " << periods[i];
            }
            const auto plain = horizontal(c.a1, c.a2, dt, periods, zeta, false);
            EXPECT_EQ(plain.h1, h.h1);
            EXPECT_TRUE(plain.rotd50.empty() && plain.rotd100.empty());
        }
    }
}

// The vectors of every x86-64 processor and AVX2 (where the processor has it) give the same
// bits.
TEST(rotd, same_bits_with_either_vector_width) {
    const double dt = 0.01;
    std::vector<double> periods = log_periods(0.02, 8.0, 21);
    periods.insert(periods.begin(), 0.0);
    for (const auto& c : horizontal_pairs()) {
        const auto wide = horizontal(c.a1, c.a2, dt, periods, 0.05, true);
        sitewave::response::detail::force_baseline(true);
        const auto narrow = horizontal(c.a1, c.a2, dt, periods, 0.05, true);
        const auto single = psa(c.a1, dt, periods, 0.05);
        sitewave::response::detail::force_baseline(false);
        EXPECT_EQ(narrow.h1, wide.h1) << c.name;
        EXPECT_EQ(narrow.h2, wide.h2) << c.name;
        EXPECT_EQ(narrow.rotd50, wide.rotd50) << c.name;
        EXPECT_EQ(narrow.rotd100, wide.rotd100) << c.name;
        EXPECT_EQ(single, wide.h1) << c.name;
    }
}

// Closed forms of the rotated peaks: with two identical horizontals u(theta) = u sqrt(2)
// sin(theta + 45 deg), so RotD100 = sqrt(2) PSA (reached at 45 degrees) and RotD50 = PSA (the
// median of |sin| over a half turn, sin 45 deg, within the 1 degree step); with H2 = 0, u(theta)
// = u cos theta: RotD100 = PSA exactly and RotD50 = PSA cos 45 deg within the step.
TEST(rotd, closed_forms) {
    const double dt = 0.01;
    const auto x = rough_record(800, dt);
    const std::vector<float> zero(x.size(), 0.0f);
    std::vector<double> periods = log_periods(0.02, 10.0, 25);
    periods.insert(periods.begin(), 0.0);
    const double step = std::sin(pi / 180.0); // the change of |sin| over one degree, at most
    const auto same = horizontal(x, x, dt, periods, 0.05, true);
    const auto alone = horizontal(x, zero, dt, periods, 0.05, true);
    for (std::size_t i = 0; i < periods.size(); ++i) {
        const double p = same.h1[i];
        EXPECT_NEAR(same.rotd100[i], std::sqrt(2.0) * p, 1e-12 * p) << periods[i];
        EXPECT_NEAR(same.rotd50[i], p, std::sqrt(2.0) * step * p) << periods[i];
        EXPECT_EQ(alone.rotd100[i], alone.h1[i]) << periods[i];
        EXPECT_NEAR(alone.rotd50[i], alone.h1[i] / std::sqrt(2.0), step * alone.h1[i])
            << periods[i];
        EXPECT_LE(alone.rotd50[i], alone.rotd100[i]);
    }
}

// The rotated spectra do not depend on how the sensors were turned: records turned by a whole
// number of degrees give the same RotD50 and RotD100 (the 180 angles are the same set).
TEST(rotd, independent_of_the_sensors_azimuth) {
    const double dt = 0.01;
    const auto x = rough_record(700, dt);
    auto y = rough_record(1000, dt);
    y.erase(y.begin(), y.begin() + 300);
    std::vector<double> periods = log_periods(0.05, 5.0, 9);
    const auto base = horizontal(x, y, dt, periods, 0.05, true);
    for (const int deg : {30, 90, 137}) {
        const double al = deg * pi / 180.0;
        std::vector<float> x2(x.size()), y2(x.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double a = x[i], b = y[i];
            x2[i] = static_cast<float>(a * std::cos(al) + b * std::sin(al));
            y2[i] = static_cast<float>(-a * std::sin(al) + b * std::cos(al));
        }
        const auto turned = horizontal(x2, y2, dt, periods, 0.05, true);
        for (std::size_t i = 0; i < periods.size(); ++i) {
            EXPECT_NEAR(turned.rotd100[i], base.rotd100[i], 1e-5 * base.rotd100[i]) << deg;
            EXPECT_NEAR(turned.rotd50[i], base.rotd50[i], 1e-5 * base.rotd50[i]) << deg;
        }
    }
}

} // namespace
