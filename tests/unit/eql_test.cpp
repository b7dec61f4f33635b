#include "arith/vectors.hpp"
#include "eql/fourier.hpp"
#include "sitewave/eql.hpp"
#include "sitewave/grid.hpp"
#include "sitewave/steps.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <gtest/gtest.h>
#include <numbers>
#include <string>
#include <vector>

// The equivalent-linear loop against the linear run (flat curves), the closed forms of one
// uniform layer over a half-space (strain at mid-depth, motion within and at the outcrop), a run
// that cannot converge, and refused options.
namespace {

// A figure for the test's record, in scientific notation.
std::string sci(double x) {
    char b[32];
    std::snprintf(b, sizeof b, "%.3e", x);
    return b;
}

namespace eql = sitewave::eql;
namespace prop = sitewave::propagation;
namespace site = sitewave::site;
using eql::complex;
constexpr double pi = std::numbers::pi;

site::layer make_layer(const char* soil, double top, double h, double vs, double uw,
                       sitewave::curves::curve_set c) {
    site::layer l;
    l.soil = soil;
    l.top = top;
    l.thickness = h;
    l.vs = vs;
    l.vp = 3 * vs;
    l.unit_weight = uw;
    l.sigma_v = (uw - 9.81) * (top + h / 2);
    l.sigma_m = l.sigma_v / site::atmosphere;
    l.curves = std::move(c);
    return l;
}

site::site_model two_layer_site(sitewave::curves::curve_set a, sitewave::curves::curve_set b) {
    site::site_model s;
    s.water_table = 0.0;
    s.layers.push_back(make_layer("a", 0, 8, 180, 18, std::move(a)));
    s.layers.push_back(make_layer("b", 8, 17, 320, 19.5, std::move(b)));
    s.rock = {900, 2000, 22, 0.01};
    return s;
}

// A tapered burst of three sines: nt samples at dt, transformed on nf points (direct sum).
eql::input burst(std::size_t nt, std::size_t nf, double dt, double scale) {
    std::vector<double> x(nt);
    for (std::size_t j = 0; j < nt; ++j) {
        const double t = static_cast<double>(j) * dt;
        const double taper = std::sin(pi * static_cast<double>(j) / static_cast<double>(nt - 1));
        x[j] = scale * taper * taper *
               (std::sin(2 * pi * 1.3 * t) + 0.6 * std::sin(2 * pi * 3.7 * t + 0.4) +
                0.3 * std::sin(2 * pi * 8.1 * t + 1.1));
    }
    eql::input in;
    in.dt = dt;
    in.nt = nt;
    in.dom = 2 * pi / (static_cast<double>(nf) * dt);
    in.spectrum.resize(nf / 2 + 1);
    for (std::size_t k = 0; k < in.spectrum.size(); ++k) {
        complex sum = 0;
        for (std::size_t j = 0; j < nt; ++j) {
            sum += x[j] * std::polar(1.0, -2 * pi * static_cast<double>(k * j % nf) /
                                              static_cast<double>(nf));
        }
        in.spectrum[k] = sum * dt;
    }
    return in;
}

double peak(const std::vector<double>& x, std::size_t n) {
    double m = 0;
    for (std::size_t i = 0; i < n && i < x.size(); ++i) {
        m = std::max(m, std::fabs(x[i]));
    }
    return m;
}

std::vector<complex> times(const std::vector<complex>& a, const std::vector<complex>& b) {
    std::vector<complex> c(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        c[i] = a[i] * b[i];
    }
    return c;
}

TEST(Eql, ToTimeInvertsTheOneSidedTransform) {
    const auto in = burst(200, 256, 0.02, 1.0);
    const auto x = eql::to_time(in.spectrum, in.dt);
    ASSERT_EQ(x.size(), 256u);
    const double t = 0.02 * 57;
    const double taper = std::sin(pi * 57 / 199.0);
    const double want = taper * taper *
                        (std::sin(2 * pi * 1.3 * t) + 0.6 * std::sin(2 * pi * 3.7 * t + 0.4) +
                         0.3 * std::sin(2 * pi * 8.1 * t + 1.1));
    EXPECT_NEAR(x[57], want, 1e-12);
    EXPECT_NEAR(peak(std::vector<double>(x.begin() + 200, x.end()), 56), 0.0, 1e-12);
    EXPECT_TRUE(eql::to_time(std::vector<complex>(6), 0.01).empty()); // 10 points
}

// The loop's transform against the direct sum x_j = Σ_k X_k e^{2πi jk/n} / (n dt) of the
// Hermitian spectrum, for odd and even powers of two, two histories at once, times a factor.
TEST(Eql, PairedTransformAgainstTheDirectSum) {
    for (const std::size_t n : {2u, 4u, 8u, 32u, 64u, 512u, 2048u}) {
        const std::size_t h = n / 2;
        eql::detail::split_complex s1, s2, q;
        s1.assign(h + 1);
        s2.assign(h + 1);
        q.assign(h + 1);
        for (std::size_t k = 0; k <= h; ++k) {
            const double x = static_cast<double>(k);
            s1.re[k] = std::cos(0.7 * x) / (1 + x);
            s1.im[k] = k == 0 || k == h ? 0.0 : std::sin(1.3 * x);
            s2.re[k] = 0.5 - 0.01 * x;
            s2.im[k] = k == 0 || k == h ? 0.0 : std::cos(0.2 * x * x);
            q.re[k] = 1.0 + 0.1 * std::sin(x);
            q.im[k] = k == 0 || k == h ? 0.0 : 0.3 * std::cos(x);
        }
        const double dt = 0.01;
        const auto direct = [&](const eql::detail::split_complex& s, bool times, std::size_t j) {
            double sum = 0;
            for (std::size_t k = 0; k < n; ++k) {
                const std::size_t r = k <= h ? k : n - k;
                complex v(s.re[r], s.im[r]);
                if (times) {
                    v *= complex(q.re[r], q.im[r]);
                }
                if (k > h) {
                    v = std::conj(v);
                }
                sum += (v * std::polar(1.0, 2 * pi * static_cast<double>(j * k % n) /
                                                static_cast<double>(n)))
                           .real();
            }
            return sum / (static_cast<double>(n) * dt);
        };
        eql::detail::inverse_pairs t(n);
        for (const bool times : {false, true}) {
            if (times) {
                t.run_times(s1, &s2, &q);
            } else {
                t.run(s1, &s2);
            }
            std::vector<double> x1, x2;
            t.histories(dt, x1, x2);
            double worst = 0, p1 = 0, p2 = 0;
            for (std::size_t j = 0; j < n; ++j) {
                const double a = direct(s1, times, j), b = direct(s2, times, j);
                worst = std::max({worst, std::fabs(x1[j] - a), std::fabs(x2[j] - b)});
                p1 = std::max(p1, j < n - 1 ? std::fabs(a) : p1);
                p2 = std::max(p2, j < n - 1 ? std::fabs(b) : p2);
            }
            EXPECT_LT(worst, 1e-11) << n << (times ? " times q" : "");
            const auto [g1, g2] = t.peaks(n - 1, dt);
            EXPECT_NEAR(g1, p1, 1e-11) << n;
            EXPECT_NEAR(g2, p2, 1e-11) << n;
        }
    }
}

// Flat curves: one pass changes nothing, and the run is the linear run of the same profile.
TEST(Eql, FlatCurvesEqualTheLinearRun) {
    struct row {
        const char* name;
        sitewave::curves::curve_set a, b;
        eql::input_kind kind;
        int column; // of the linear tables
        double factor;
        double angle = 0; // degrees
        bool oblique = false;
    };
    const auto flat = *sitewave::curves::table({1e-4, 1e-2, 1}, {1, 1, 1}, {3, 3, 3});
    const row rows[] = {
        {"linear outcrop", *sitewave::curves::linear(0.04), *sitewave::curves::linear(0.02),
         eql::input_kind::outcrop, 0, 0.5},
        {"table incident", flat, *sitewave::curves::linear(0.02), eql::input_kind::incident, 0,
         1.0},
        {"table within", flat, flat, eql::input_kind::within, 1, 1.0},
        {"table outcrop at 30 degrees", flat, flat, eql::input_kind::outcrop, 0, 0.5, 30.0},
        {"linear within at 20 degrees, oblique", *sitewave::curves::linear(0.04), flat,
         eql::input_kind::within, 1, 1.0, 20.0, true},
    };
    const std::size_t nt = 1500, nf = 2048;
    const double dt = 0.01;
    const auto in = burst(nt, nf, dt, 2.0);
    for (const auto& r : rows) {
        const auto s = two_layer_site(r.a, r.b);
        eql::options o;
        o.angle = r.angle;
        o.oblique = r.oblique;
        const auto run = eql::run(s, in, r.kind, o);
        ASSERT_TRUE(run.ok()) << r.name << ": " << run.err().message;
        EXPECT_TRUE(run->converged) << r.name;
        EXPECT_GE(run->passes.size(), 1u);
        EXPECT_LE(run->passes.size(), 2u);
        const auto lt = site::to_layer_table(s);
        ASSERT_TRUE(lt.ok()) << lt.err().message;
        const auto g = sitewave::make_grid(static_cast<int>(nf), static_cast<float>(dt));
        ASSERT_TRUE(g.ok());
        const auto t =
            sitewave::compute_tables(*lt, static_cast<float>(r.angle * pi / 180.0), *g, r.oblique);
        ASSERT_TRUE(t.ok());
        std::vector<complex> linear(in.spectrum.size());
        for (std::size_t k = 0; k < linear.size(); ++k) {
            const auto& c = t->samp.col[static_cast<std::size_t>(r.column)][k];
            linear[k] = complex(c.re, c.im) * r.factor;
        }
        const auto a = eql::to_time(times(in.spectrum, run->transfer), dt);
        const auto b = eql::to_time(times(in.spectrum, linear), dt);
        const double p = peak(b, nt);
        double worst = 0;
        for (std::size_t j = 0; j < nt; ++j) {
            worst = std::max(worst, std::fabs(a[j] - b[j]) / p);
        }
        EXPECT_LT(worst, 1e-5) << r.name;
        // The top of the first sublayer is the surface.
        EXPECT_NEAR(run->layers[0].accel_top, peak(a, nt), 1e-9 * peak(a, nt)) << r.name;
        RecordProperty(std::string("worst_relative ") + r.name, sci(worst));
        RecordProperty(std::string("passes ") + r.name, static_cast<int>(run->passes.size()));
    }
}

// One uniform layer (not split) over a half-space, a sine input on a grid frequency: the strain
// history at mid-depth is Re(Γ e^{iωt}) with Γ = −k* sin(k* H/2) U / (cos k*H + iα sin k*H) for an
// outcrop input of displacement amplitude U.
TEST(Eql, UniformLayerStrainAndDepthsAgainstClosedForms) {
    struct row {
        double h, vs, d;
        std::size_t bin;
    };
    const row rows[] = {{20, 200, 0.05, 40}, {30, 150, 0.02, 25}, {12, 300, 0.08, 130}};
    const std::size_t nf = 1024;
    const double dt = 0.01, a0 = 0.3; // m/s²
    for (const auto& r : rows) {
        site::site_model s;
        s.layers.push_back(make_layer("u", 0, r.h, r.vs, 18, *sitewave::curves::linear(r.d)));
        s.rock = {1000, 2200, 22, 0.01};
        eql::input in;
        in.dt = dt;
        in.nt = nf;
        in.dom = 2 * pi / (nf * dt);
        in.spectrum.assign(nf / 2 + 1, complex(0));
        in.spectrum[r.bin] = a0 * static_cast<double>(nf) * dt / 2; // a0 cos(ωt)
        eql::options o;
        o.sublayer_fmax = 0;
        const auto run = eql::run(s, in, eql::input_kind::outcrop, o);
        ASSERT_TRUE(run.ok()) << run.err().message;
        ASSERT_EQ(run->layers.size(), 1u);
        const double w = static_cast<double>(r.bin) * in.dom;
        const complex vs = prop::complex_velocity(r.vs, r.d);
        const complex vr = prop::complex_velocity(1000, 0.01);
        const complex k = w / vs;
        const complex alpha = 18.0 * vs / (22.0 * vr);
        const complex den = std::cos(k * r.h) + complex(0, 1) * alpha * std::sin(k * r.h);
        const complex gamma = -k * std::sin(k * r.h / 2.0) * (-a0 / (w * w)) / den;
        // The peak of Re(x e^{iωt}) over the samples.
        const auto sampled_peak = [&](complex x) {
            double p = 0;
            for (std::size_t j = 0; j < nf; ++j) {
                p = std::max(
                    p, std::fabs((x * std::polar(1.0, w * static_cast<double>(j) * dt)).real()));
            }
            return p;
        };
        const double want = sampled_peak(gamma);
        const double got = run->layers[0].strain_max / 100.0;
        EXPECT_LT(std::fabs(got - want) / want, 1e-9) << "H " << r.h;
        // The surface's acceleration a0/den; its displacement over the rock's top U(1 − cos
        // kH)/den.
        const double accel = sampled_peak(a0 / den);
        const double drift = sampled_peak((-a0 / (w * w)) * (1.0 - std::cos(k * r.h)) / den);
        EXPECT_LT(std::fabs(run->layers[0].accel_top - accel) / accel, 1e-9) << "H " << r.h;
        EXPECT_LT(std::fabs(run->layers[0].displacement - drift) / drift, 1e-9) << "H " << r.h;
        RecordProperty("strain_relative_error", sci(std::fabs(got - want) / want));
        // Within at depth z: the surface times cos k*z; the outcrop of the rock: the input.
        for (const double z : {r.h / 4, r.h / 2, r.h}) {
            const auto t =
                eql::transfer_at(*run, z, prop::wave::within, in.dom, in.spectrum.size());
            ASSERT_TRUE(t.ok());
            const complex expect = run->transfer[r.bin] * std::cos(k * z);
            EXPECT_LT(std::abs((*t)[r.bin] - expect) / std::abs(expect), 1e-10) << z;
            EXPECT_LT(std::abs(run->transfer[r.bin] - 1.0 / den), 1e-10 * std::abs(1.0 / den));
        }
        const auto out = eql::transfer_at(*run, r.h, prop::wave::outcrop, in.dom, nf / 2 + 1);
        ASSERT_TRUE(out.ok());
        for (const auto& v : *out) {
            EXPECT_LT(std::abs(v - 1.0), 1e-12);
        }
    }
}

TEST(Eql, NonConvergenceIsReported) {
    const auto clay = *sitewave::curves::darendeli(30, 1, 0.5);
    const auto sand = *sitewave::curves::darendeli(0, 1, 1.0);
    const auto s = two_layer_site(clay, sand);
    const auto in = burst(1500, 2048, 0.01, 1.0);
    eql::options o;
    o.tolerance = 0;
    o.max_iterations = 3;
    const auto run = eql::run(s, in, eql::input_kind::outcrop, o);
    ASSERT_TRUE(run.ok()) << run.err().message;
    EXPECT_FALSE(run->converged);
    ASSERT_EQ(run->passes.size(), 3u);
    EXPECT_GT(run->passes[0].modulus, run->passes[2].modulus);
    for (const auto& l : run->layers) {
        EXPECT_LT(l.modulus_ratio, 1.0);
        EXPECT_NEAR(l.strain_eff, 0.65 * l.strain_max, 1e-15);
        EXPECT_NEAR(l.vs_final, l.vs_initial * std::sqrt(l.modulus_ratio), 1e-9);
    }
    // The same with room to converge does, and its first passes are the same.
    o.tolerance = 1;
    o.max_iterations = 15;
    const auto more = eql::run(s, in, eql::input_kind::outcrop, o);
    ASSERT_TRUE(more.ok());
    EXPECT_TRUE(more->converged);
    EXPECT_EQ(more->passes[1].modulus, run->passes[1].modulus);
}

// A column so deep and damped that its waves would grow past the range of double at the highest
// rows: solved row by row with rescaling, finite everywhere and the closed form where it is.
TEST(Eql, DeepDampedColumnStaysFinite) {
    site::site_model s;
    s.layers.push_back(make_layer("u", 0, 2000, 100, 18, *sitewave::curves::linear(0.3)));
    s.rock = {1000, 2200, 22, 0.01};
    const std::size_t nt = 800, nf = 1024;
    const double dt = 0.005;
    const auto in = burst(nt, nf, dt, 1.0);
    eql::options o;
    o.sublayer_fmax = 0;
    const auto run = eql::run(s, in, eql::input_kind::outcrop, o);
    ASSERT_TRUE(run.ok()) << run.err().message;
    for (const auto& v : run->transfer) {
        ASSERT_TRUE(std::isfinite(v.real()) && std::isfinite(v.imag()));
    }
    for (const std::size_t bin : {1u, 3u, 10u}) {
        const double w = static_cast<double>(bin) * in.dom;
        const complex vs = prop::complex_velocity(100, 0.3);
        const complex k = w / vs;
        const complex alpha = 18.0 * vs / (22.0 * prop::complex_velocity(1000, 0.01));
        const complex want =
            1.0 / (std::cos(k * 2000.0) + complex(0, 1) * alpha * std::sin(k * 2000.0));
        EXPECT_LT(std::abs(run->transfer[bin] - want), 1e-9 * std::abs(want)) << bin;
    }
    EXPECT_TRUE(std::isfinite(run->layers[0].strain_max));
}

TEST(Eql, SublayersAndStresses) {
    const auto s = two_layer_site(*sitewave::curves::linear(0.02), *sitewave::curves::linear(0.02));
    eql::options o; // 0.2·180/20 = 1.8 m: 8 m in 5; 0.2·320/20 = 3.2 m: 17 m in 6
    const auto l = eql::split(s, o);
    ASSERT_TRUE(l.ok());
    ASSERT_EQ(l->size(), 11u);
    EXPECT_DOUBLE_EQ((*l)[0].bottom, 1.6);
    EXPECT_DOUBLE_EQ((*l)[10].bottom, 25.0);
    EXPECT_NEAR((*l)[0].sigma_v, (18 - 9.81) * 0.8, 1e-12);
    EXPECT_NEAR((*l)[5].sigma_v, (18 - 9.81) * 8 + (19.5 - 9.81) * 17 / 12.0, 1e-12);
    o.sublayer_fmax = 0;
    EXPECT_EQ(eql::split(s, o)->size(), 2u);
    o.sublayer_fmax = 1000; // 8 m in 0.036 m sublayers, 17 m in 0.064 m: 223 + 266
    EXPECT_EQ(eql::split(s, o)->size(), 489u);
    o.sublayer_fraction = 0.001;
    const auto many = eql::split(s, o);
    ASSERT_FALSE(many.ok());
    EXPECT_EQ(many.err().message,
              "eql::split: more than 2000 sublayers (a lower sublayer frequency "
              "keeps fewer)");
}

TEST(Eql, RefusedOptions) {
    const auto s = two_layer_site(*sitewave::curves::linear(0.02), *sitewave::curves::linear(0.02));
    const auto in = burst(100, 128, 0.01, 1.0);
    struct row {
        eql::options o;
        eql::input in;
        const char* message;
    };
    auto bad_rows = in;
    bad_rows.spectrum.resize(60);
    auto bad_value = in;
    bad_value.spectrum[3] = complex(NAN, 0);
    eql::options ratio, tolerance, passes, fraction, grazing, nan_angle;
    grazing.angle = 90;
    nan_angle.angle = NAN;
    ratio.strain_ratio = 0;
    tolerance.tolerance = -1;
    passes.max_iterations = 0;
    fraction.sublayer_fraction = 0;
    const row rows[] = {
        {ratio, in, "eql::run: strain ratio 0 is not in (0, 1]"},
        {tolerance, in, "eql::run: tolerance -1 is negative or not finite"},
        {passes, in, "eql::run: max iterations 0 is below 1"},
        {fraction, in, "eql::split: sublayer fraction 0 or frequency 20 out of range"},
        {grazing, in, "eql::run: angle 90 is not finite or grazes the layers (90 degrees)"},
        {nan_angle, in, "eql::run: angle nan is not finite or grazes the layers (90 degrees)"},
        {{}, bad_rows, "eql::run: the input has 60 rows, not 2^k + 1"},
        {{}, bad_value, "eql::run: the input spectrum is not finite"},
    };
    for (const auto& r : rows) {
        const auto run = eql::run(s, r.in, eql::input_kind::outcrop, r.o);
        ASSERT_FALSE(run.ok()) << r.message;
        EXPECT_EQ(run.err().message, r.message);
        EXPECT_EQ(run.err().what, sitewave::error::kind::argument);
    }
    EXPECT_DOUBLE_EQ(eql::strain_ratio_of_magnitude(7.5), 0.65);
}

} // namespace

// Every vector build of the loop (those this processor has) gives the baseline's bits: the same
// profile, peaks and transfer function, in a run of several passes with pairs and a lone sublayer.
TEST(Eql, EveryVectorBuildGivesTheSameBits) {
    using sitewave::arith::vectors;
    const auto s = two_layer_site(*sitewave::curves::darendeli(30, 1, 0.5),
                                  *sitewave::curves::darendeli(0, 1, 1.0));
    const auto in = burst(3000, 4096, 0.005, 3.0);
    eql::options o;
    o.sublayer_fmax = 12; // an odd count of sublayers
    const auto run_with = [&](vectors v) {
        const vectors got = sitewave::arith::use_vectors(v);
        auto r = eql::run(s, in, eql::input_kind::within, o);
        sitewave::arith::use_vectors(vectors::avx512);
        return std::pair{got, std::move(r)};
    };
    const auto [base_level, base] = run_with(vectors::baseline);
    ASSERT_EQ(base_level, vectors::baseline);
    ASSERT_TRUE(base.ok()) << base.err().message;
    ASSERT_GT(base->passes.size(), 2u);
    ASSERT_EQ(base->layers.size() % 2, 1u);
    for (const vectors v : {vectors::avx2, vectors::avx512}) {
        const auto [level, r] = run_with(v);
        if (level != v) {
            continue; // not on this processor
        }
        ASSERT_TRUE(r.ok());
        ASSERT_EQ(r->layers.size(), base->layers.size());
        EXPECT_EQ(r->passes.size(), base->passes.size());
        for (std::size_t i = 0; i < base->layers.size(); ++i) {
            const auto &a = r->layers[i], &b = base->layers[i];
            EXPECT_EQ(a.modulus_ratio, b.modulus_ratio) << i;
            EXPECT_EQ(a.damping, b.damping) << i;
            EXPECT_EQ(a.strain_max, b.strain_max) << i;
            EXPECT_EQ(a.accel_top, b.accel_top) << i;
            EXPECT_EQ(a.displacement, b.displacement) << i;
        }
        EXPECT_TRUE(r->transfer == base->transfer);
    }
}
