#include "sitewave/grid.hpp"
#include "sitewave/propagation.hpp"
#include "sitewave/steps.hpp"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <vector>

// One uniform layer over a half-space against its closed forms; continuity of displacement and
// stress at every interface of a layered profile; the `kramer` convention against the linear run's
// float SH tables.
namespace {

namespace prop = sitewave::propagation;
using prop::complex;
using prop::wave;

double rel(complex got, complex want) { return std::abs(got - want) / std::abs(want); }

TEST(Propagation, ComplexVelocityConventions) {
    struct row {
        prop::convention c;
        complex modulus_factor; // (V*/V)²
    };
    const double d = 0.07;
    const row rows[] = {
        {prop::convention::kramer, complex(1 - d * d, 2 * d)},
        {prop::convention::unit_modulus, complex(1 - 2 * d * d, 2 * d * std::sqrt(1 - d * d))},
        {prop::convention::simple, complex(1, 2 * d)},
    };
    for (const auto& r : rows) {
        const complex v = prop::complex_velocity(200.0, d, r.c);
        EXPECT_LT(rel(v * v, 200.0 * 200.0 * r.modulus_factor), 1e-14);
        EXPECT_GT(v.imag(), 0.0);
    }
    EXPECT_EQ(prop::complex_velocity(200.0, d), complex(200.0, 200.0 * d));
    EXPECT_NEAR(std::abs(prop::complex_velocity(300.0, 0.2, prop::convention::unit_modulus)), 300.0,
                1e-12);
}

TEST(Propagation, UniformLayerClosedForms) {
    struct row {
        double h, vs, rho, d, vr, rhor, dr, f;
        prop::convention c;
    };
    const row rows[] = {
        {20, 200, 1.8, 0.05, 800, 2.2, 0.01, 0.3, prop::convention::kramer},
        {20, 200, 1.8, 0.05, 800, 2.2, 0.01, 2.5, prop::convention::kramer}, // fundamental
        {35, 150, 1.7, 0.02, 1000, 2.4, 0.0, 7.0, prop::convention::unit_modulus},
        {10, 300, 2.0, 0.10, 600, 2.1, 0.02, 13.0, prop::convention::simple},
        {10, 300, 2.0, 0.0, 600, 2.1, 0.0, 0.0, prop::convention::kramer},
    };
    for (const auto& r : rows) {
        const double w = 2 * M_PI * r.f;
        const auto col =
            prop::column::solve({{r.h, r.vs, r.rho, r.d}, {0, r.vr, r.rhor, r.dr}}, w, r.c);
        ASSERT_TRUE(col.ok()) << col.err().message;
        const complex vs = prop::complex_velocity(r.vs, r.d, r.c);
        const complex vr = prop::complex_velocity(r.vr, r.dr, r.c);
        const complex k = w / vs;
        const complex alpha = r.rho * vs / (r.rhor * vr);
        const complex i1(0, 1);
        const complex kh = k * r.h;
        const complex an = std::cos(kh) + i1 * alpha * std::sin(kh); // incident, A_1 = B_1 = 1
        // Surface over rock within, surface over outcrop, surface over incident.
        EXPECT_LT(rel(col->transfer(r.h, wave::within, 0, wave::within), 1.0 / std::cos(kh)),
                  1e-12);
        EXPECT_LT(rel(col->transfer(r.h, wave::outcrop, 0, wave::within), 1.0 / an), 1e-12);
        EXPECT_LT(rel(col->motion(0), 2.0 / an), 1e-12);
        EXPECT_LT(rel(col->up(1), 1.0), 1e-15);
        // Mid-depth within the layer, and its strain per unit outcrop motion.
        EXPECT_LT(
            rel(col->transfer(r.h, wave::outcrop, r.h / 2, wave::within), std::cos(kh / 2.0) / an),
            1e-12);
        if (r.f > 0) {
            EXPECT_LT(
                rel(col->strain_transfer(0, r.h, wave::outcrop), -k * std::sin(kh / 2.0) / an),
                1e-12);
            EXPECT_LT(rel(col->strain_transfer(0, r.h, wave::incident),
                          -2.0 * k * std::sin(kh / 2.0) / an),
                      1e-12);
        } else {
            EXPECT_EQ(col->strain_transfer(0, r.h, wave::outcrop), complex(0, 0));
        }
    }
}

TEST(Propagation, DisplacementAndStressContinuousAtInterfaces) {
    const std::vector<prop::medium> media = {
        {3, 120, 1.7, 0.04}, {7, 180, 1.8, 0.03}, {12, 260, 1.9, 0.02}, {0, 900, 2.3, 0.01}};
    for (double f : {0.5, 3.0, 11.0, 24.0}) {
        for (auto c :
             {prop::convention::kramer, prop::convention::unit_modulus, prop::convention::simple}) {
            const auto col = prop::column::solve(media, 2 * M_PI * f, c);
            ASSERT_TRUE(col.ok());
            EXPECT_EQ(col->up(0), col->down(0)); // free surface: no stress
            for (std::size_t m = 0; m + 1 < media.size(); ++m) {
                const double h = media[m].thickness;
                const complex i1(0, 1);
                const complex e = std::exp(i1 * col->wavenumber(m) * h);
                const complex u_above = col->up(m) * e + col->down(m) / e;
                const complex u_below = col->up(m + 1) + col->down(m + 1);
                EXPECT_LT(rel(u_above, u_below), 1e-12) << f << " " << m;
                const auto modulus = [&](std::size_t j) {
                    return media[j].density * col->velocity(j) * col->velocity(j);
                };
                const complex tau_above = modulus(m) * col->strain(m, h);
                const complex tau_below = modulus(m + 1) * col->strain(m + 1, 0.0);
                EXPECT_LT(rel(tau_above, tau_below), 1e-11) << f << " " << m;
                EXPECT_LT(rel(col->motion(col->top(m + 1)), u_below), 1e-15);
            }
        }
    }
}

TEST(Propagation, KramerEqualsTheLinearTablesInFloat) {
    // Q = 1/(2D), exponent 0: the linear run's V (1 + i/(2Q)) is V (1 + iD).
    const std::vector<prop::medium> media = {{2.5, 140, 1.75, 0.045},
                                             {6, 190, 1.85, 0.03},
                                             {9, 310, 1.95, 0.02},
                                             {14, 480, 2.05, 0.015},
                                             {0, 1100, 2.4, 0.01}};
    sitewave::layer_table lt;
    lt.resize(static_cast<int>(media.size()));
    for (std::size_t i = 0; i < media.size(); ++i) {
        lt.dns[i] = static_cast<float>(media[i].density);
        lt.vs[i] = static_cast<float>(media[i].vs);
        lt.vp[i] = static_cast<float>(media[i].vs * 3);
        lt.qs[i] = static_cast<float>(1.0 / (2.0 * media[i].damping));
        lt.qp[i] = lt.qs[i];
        lt.thk[i] = static_cast<float>(media[i].thickness);
    }
    const auto g = sitewave::make_grid(1024, 0.01f);
    ASSERT_TRUE(g.ok());
    const auto t = sitewave::compute_tables(lt, 0.0f, *g);
    ASSERT_TRUE(t.ok()) << t.err().message;
    double worst = 0.0;
    for (int i = 0; i < g->nom; ++i) {
        // The double profile from the float values the table was computed from.
        std::vector<prop::medium> m = media;
        for (std::size_t j = 0; j < m.size(); ++j) {
            m[j].vs = lt.vs[j];
            m[j].density = lt.dns[j];
            m[j].thickness = lt.thk[j];
            m[j].damping = 0.5 / static_cast<double>(lt.qs[j]);
        }
        const double w = static_cast<double>(static_cast<float>(i) * g->dom);
        const auto col = prop::column::solve(m, w);
        ASSERT_TRUE(col.ok());
        const double rock = col->top(m.size() - 1);
        const complex incident = col->motion(0, wave::within);
        const complex within = col->transfer(rock, wave::within, 0, wave::within);
        const auto& c0 = t->samp.col[0][static_cast<std::size_t>(i)];
        const auto& c1 = t->samp.col[1][static_cast<std::size_t>(i)];
        const double e0 = rel(complex(c0.re, c0.im), incident);
        const double e1 = rel(complex(c1.re, c1.im), within);
        EXPECT_LT(e0, 2e-5) << "row " << i;
        EXPECT_LT(e1, 2e-5) << "row " << i;
        worst = std::max({worst, e0, e1});
    }
    RecordProperty("worst_relative", std::to_string(worst));
}

TEST(Propagation, RefusedArguments) {
    struct row {
        std::vector<prop::medium> media;
        double omega;
        const char* message;
    };
    const row rows[] = {
        {{}, 1.0, "propagation::column::solve: no medium"},
        {{{0, 500, 2, 0}}, -1.0, "propagation::column::solve: omega -1 is negative or not finite"},
        {{{1, 0, 2, 0}, {0, 500, 2, 0}},
         1.0,
         "propagation::column::solve: medium 1: vs 0 is not positive"},
        {{{1, 100, 0, 0}, {0, 500, 2, 0}},
         1.0,
         "propagation::column::solve: medium 1: density 0 is not positive"},
        {{{1, 100, 2, 1.0}, {0, 500, 2, 0}},
         1.0,
         "propagation::column::solve: medium 1: damping 1 is outside [0, 1)"},
        {{{0, 100, 2, 0}, {0, 500, 2, 0}},
         1.0,
         "propagation::column::solve: medium 1: thickness 0 is not positive"},
    };
    for (const auto& r : rows) {
        const auto got = prop::column::solve(r.media, r.omega);
        ASSERT_FALSE(got.ok());
        EXPECT_EQ(got.err().what, sitewave::error::kind::argument);
        EXPECT_EQ(got.err().message, r.message);
    }
}

TEST(Propagation, DeepDampedProfileStaysFinite) {
    // Many wavelengths of damped soil: the surface's share underflows, nothing overflows.
    std::vector<prop::medium> media(60, {50, 100, 1.8, 0.2});
    media.push_back({0, 2000, 2.5, 0.01});
    const auto col = prop::column::solve(media, 2 * M_PI * 50.0);
    ASSERT_TRUE(col.ok());
    EXPECT_TRUE(std::isfinite(std::abs(col->motion(0))));
    EXPECT_EQ(col->up(media.size() - 1), complex(1, 0));
}

} // namespace
