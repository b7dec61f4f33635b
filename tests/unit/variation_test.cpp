#include "sitewave/site.hpp"
#include "sitewave/variation.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// The [variation] table and the realizations: the table read and refused, the Toro worked
// values, and statistical checks of the draws with fixed seeds (tolerances stated at each).
namespace {

namespace site = sitewave::site;
namespace variation = sitewave::variation;

// Fifteen lines: a clay on rock; the [variation] table starts on line 16.
const std::string base = R"([[soil]]
name = "clay"
unit_weight = 17.0
model = "darendeli"
pi = 30.0
[[layer]]
soil = "clay"
thickness = 5.0
vs = 150.0
vp = 1500.0
[bedrock]
vs = 760.0
vp = 1800.0
unit_weight = 22.0
damping = 0.01
)";

site::site_model parsed(const std::string& text) {
    auto m = site::parse_site(text, "v.toml");
    EXPECT_TRUE(m.ok()) << (m.ok() ? "" : m.err().message);
    return m.ok() ? *m : site::site_model{};
}

// A site of `n` layers of `thickness` m each at 300 m/s with the table `table`.
site::site_model layered_site(int n, double thickness, const std::string& table) {
    std::string text = R"([[soil]]
name = "clay"
unit_weight = 18.0
model = "darendeli"
pi = 15.0
)";
    for (int i = 0; i < n; ++i) {
        text += "[[layer]]\nsoil = \"clay\"\nthickness = " + std::to_string(thickness) +
                "\nvs = 300.0\nvp = 1600.0\n";
    }
    text += "[bedrock]\nvs = 1500.0\nvp = 3000.0\nunit_weight = 22.0\ndamping = 0.01\n";
    return parsed(text + "[variation]\n" + table);
}

double mean(const std::vector<double>& x) {
    double s = 0;
    for (double v : x) {
        s += v;
    }
    return s / static_cast<double>(x.size());
}

double sd(const std::vector<double>& x) {
    const double m = mean(x);
    double s = 0;
    for (double v : x) {
        s += (v - m) * (v - m);
    }
    return std::sqrt(s / static_cast<double>(x.size() - 1));
}

double corr(const std::vector<double>& x, const std::vector<double>& y) {
    const double mx = mean(x), my = mean(y);
    double sxy = 0, sxx = 0, syy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
        syy += (y[i] - my) * (y[i] - my);
    }
    return sxy / std::sqrt(sxx * syy);
}

TEST(Variation, TableRead) {
    const auto m = parsed(base + R"([variation]
realizations = 500
seed = 20261209
velocity = "toro"
site_class = "USGS C"
truncate = 2.0
layering = "toro"
curves = "darendeli"
bedrock_depth = { distribution = "uniform", min = 25.0, max = 35.0 }
vs_min = 60.0
vs_max = 4000.0
)");
    ASSERT_TRUE(m.variation.has_value());
    const auto& v = *m.variation;
    EXPECT_EQ(v.realizations, 500);
    EXPECT_EQ(v.seed, 20261209u);
    EXPECT_TRUE(v.velocity && v.layering && v.curves);
    EXPECT_EQ(v.toro.sigma_ln, 0.31);
    EXPECT_EQ(v.toro.delta, 3.9);
    EXPECT_EQ(*v.truncate, 2.0);
    EXPECT_EQ(v.curve_correlation, -0.5);
    EXPECT_EQ(v.bedrock_depth.law, site::depth_law::kind::uniform);
    EXPECT_EQ(v.bedrock_depth.a, 25.0);
    EXPECT_EQ(v.bedrock_depth.b, 35.0);
    EXPECT_EQ(v.vs_min, 60.0);
    EXPECT_EQ(v.vs_max, 4000.0);
    ASSERT_EQ(m.soils.size(), 1u);
    EXPECT_EQ(m.soils[0].model, sitewave::curves::model::darendeli);

    const auto e = parsed(base + R"([variation]
realizations = 3
velocity = "toro"
sigma_ln = 0.2
rho0 = 0.9
delta = 5
rho200 = 0.8
b = 0.1
)");
    EXPECT_EQ(e.variation->toro.rho0, 0.9);
    EXPECT_EQ(e.variation->toro.d0, 0.0);
    EXPECT_FALSE(e.variation->layering);
    EXPECT_FALSE(parsed(base).variation.has_value());
}

TEST(Variation, TableRefusals) {
    struct row {
        std::string table, message;
    };
    const row rows[] = {
        {"seed = 1\n", "v.toml:16:1: variation.realizations: missing"},
        {"realizations = 0\n", "v.toml:17:16: variation.realizations: 0 is not from 1 to 10000000"},
        {"realizations = 2.5\n", "v.toml:17:16: variation.realizations: not an integer"},
        {"realizations = 2\nseed = -4\n", "v.toml:18:8: variation.seed: -4 is negative"},
        {"realizations = 2\ncolour = 1\n",
         "v.toml:18:1: variation.colour: unknown key (expected one of realizations, seed, "
         "velocity, site_class, sigma_ln, rho0, delta, rho200, b, d0, truncate, layering, "
         "curves, curve_correlation, bedrock_depth, vs_min, vs_max)"},
        {"realizations = 2\nvelocity = \"tor\"\n",
         "v.toml:18:12: variation.velocity: \"tor\" is not toro or none"},
        {"realizations = 2\nvelocity = \"toro\"\n",
         "v.toml:16:1: variation.site_class: missing (velocity = \"toro\" needs site_class, or "
         "sigma_ln, rho0, delta, rho200, b)"},
        {"realizations = 2\nsite_class = \"USGS E\"\n",
         "v.toml:18:14: variation.site_class: \"USGS E\" is not a row of the Toro table; the "
         "closest: \"USGS A\", \"USGS B\", \"USGS C\""},
        {"realizations = 2\nsite_class = \"USGS C\"\nsigma_ln = 0.3\n",
         "v.toml:19:12: variation: site_class and explicit parameters (sigma_ln, rho0, delta, "
         "rho200, b, d0) together"},
        {"realizations = 2\nsigma_ln = 0.3\nrho0 = 1.5\n",
         "v.toml:19:8: variation.rho0: 1.5 is outside [0, 1]"},
        {"realizations = 2\nsigma_ln = 0.3\nrho0 = 0.5\nrho200 = 0.5\ndelta = 0\n",
         "v.toml:21:9: variation.delta: 0 is not positive"},
        {"realizations = 2\nsigma_ln = 0.3\nrho0 = 0.5\nrho200 = 0.5\ndelta = 3\n",
         "v.toml:16:1: variation.b: missing"},
        {"realizations = 2\nsigma_ln = 0.3\nrho0 = 0.5\nrho200 = 0.5\ndelta = 3\nb = -1\n",
         "v.toml:22:5: variation.b: -1 is negative"},
        {"realizations = 2\ntruncate = 0\n", "v.toml:18:12: variation.truncate: 0 is not positive"},
        {"realizations = 2\ncurve_correlation = -1.5\n",
         "v.toml:18:21: variation.curve_correlation: -1.5 is outside [-1, 1]"},
        {"realizations = 2\nbedrock_depth = 30\n",
         "v.toml:18:17: variation.bedrock_depth: not a table (write { distribution = "
         "\"uniform\", min = ..., max = ... })"},
        {"realizations = 2\nbedrock_depth = { distribution = \"uniform\", min = 35, max = 25 }\n",
         "v.toml:18:61: variation.bedrock_depth.max: 25 is not above min (35)"},
        {"realizations = 2\nbedrock_depth = { distribution = \"normal\", mean = 30 }\n",
         "v.toml:18:17: variation.bedrock_depth.sd: missing"},
        {"realizations = 2\nbedrock_depth = { distribution = \"normal\", mean = 30, min = 2 }\n",
         "v.toml:18:55: variation.bedrock_depth.min: unknown key (expected one of "
         "distribution, mean, sd)"},
        {"realizations = 2\nbedrock_depth = { distribution = \"weibull\" }\n",
         "v.toml:18:34: variation.bedrock_depth.distribution: \"weibull\" is not uniform, normal "
         "or lognormal"},
        {"realizations = 2\nvs_min = 600\nvs_max = 500\n",
         "v.toml:19:10: variation.vs_max: 500 is not above vs_min (600)"},
        {"realizations = 2\nvs_min = 6000\n",
         "v.toml:18:10: variation.vs_max: 5000 is not above vs_min (6000)"},
        {"realizations = 2\nvs_min = nan\n", "v.toml:18:10: variation.vs_min: not finite"},
    };
    for (const auto& r : rows) {
        const auto got = site::parse_site(base + "[variation]\n" + r.table, "v.toml");
        ASSERT_FALSE(got.ok()) << r.message;
        EXPECT_EQ(got.err().what, sitewave::error::kind::refused);
        EXPECT_EQ(got.err().message, r.message) << r.table;
    }
    const auto v = site::parse_site("variation = 3\n" + base, "v.toml");
    ASSERT_FALSE(v.ok());
    EXPECT_EQ(v.err().message, "v.toml:1:13: variation: not a table (write [variation])");
}

// ANALYSES.md §4's worked values, and the table's rows.
TEST(Variation, ToroCorrelationWorkedValues) {
    const auto c = *site::toro_class("USGS C");
    EXPECT_NEAR(variation::correlation(c, 5.0, 10.0), 0.528, 5e-4);
    EXPECT_NEAR(variation::correlation(c, 10.0, 50.0), 0.638, 5e-4);
    // Below 200 m the depth term stays at rho200; far apart only the depth term is left.
    EXPECT_NEAR(variation::correlation(c, 1e6, 300.0), 0.98, 1e-12);
    EXPECT_EQ(site::toro_class_names().size(), 8u);
    EXPECT_FALSE(site::toro_class("USGS E").has_value());
    EXPECT_EQ(site::toro_class("GeoMatrix AB")->delta, 13.1);
}

TEST(Variation, LayeringRateAndItsInverse) {
    const double depths[] = {10, 30, 100, 200};
    const double expected[] = {1.742, 3.672, 6.813, 9.027};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(variation::expected_boundaries(depths[i]), expected[i], 5e-4);
        EXPECT_NEAR(variation::boundary_depth(variation::expected_boundaries(depths[i])), depths[i],
                    1e-9);
        // The integral's derivative is the rate.
        const double h = 1e-4;
        EXPECT_NEAR((variation::expected_boundaries(depths[i] + h) -
                     variation::expected_boundaries(depths[i] - h)) /
                        (2 * h),
                    variation::boundary_rate(depths[i]), 1e-7);
    }
}

TEST(Variation, StreamIsAPureFunctionOfSeedAndIndex) {
    variation::stream a(7, 3), b(7, 3), c(7, 4), d(8, 3);
    const double x = a.uniform();
    EXPECT_EQ(x, b.uniform());
    EXPECT_NE(x, c.uniform());
    EXPECT_NE(x, d.uniform());
    // SplitMix64 from state 0: the generator's published first output.
    std::uint64_t s = 0;
    EXPECT_EQ(variation::splitmix64(s), 0xe220a8397b1dcdafULL);
    // Moments of the transforms over 200000 draws: mean within 5 standard errors.
    variation::stream r(1, 0);
    const std::size_t n = 200000;
    std::vector<double> u(n), z(n), e(n);
    for (std::size_t i = 0; i < n; ++i) {
        u[i] = r.uniform();
        z[i] = r.normal();
        e[i] = r.exponential();
    }
    EXPECT_NEAR(mean(u), 0.5, 5 * std::sqrt(1.0 / 12 / static_cast<double>(n)));
    EXPECT_NEAR(mean(z), 0.0, 5 * std::sqrt(1.0 / static_cast<double>(n)));
    EXPECT_NEAR(sd(z), 1.0, 0.01);
    EXPECT_NEAR(mean(e), 1.0, 5 * std::sqrt(1.0 / static_cast<double>(n)));
    EXPECT_NEAR(sd(e), 1.0, 0.01);
    EXPECT_GT(*std::min_element(u.begin(), u.end()), 0.0);
    EXPECT_LT(*std::max_element(u.begin(), u.end()), 1.0);
}

TEST(Variation, RealizationIsReproducible) {
    const auto m = layered_site(6, 5.0,
                                "realizations = 20\nseed = 5\nvelocity = \"toro\"\n"
                                "site_class = \"USGS C\"\nlayering = \"toro\"\n"
                                "curves = \"darendeli\"\n");
    const auto a = variation::realize(m, 11);
    const auto b = variation::realize(m, 11);
    const auto c = variation::realize(m, 12);
    ASSERT_TRUE(a.ok() && b.ok() && c.ok());
    EXPECT_EQ(variation::realization_rows(*a), variation::realization_rows(*b));
    EXPECT_NE(variation::realization_rows(*a), variation::realization_rows(*c));
    EXPECT_EQ(a->site.layers.back().top + a->site.layers.back().thickness, 30.0);
    EXPECT_GE(a->site.rock.vs, a->site.layers.back().vs);
    const auto out = variation::realize(m, 20);
    ASSERT_FALSE(out.ok());
    EXPECT_EQ(out.err().message, "variation::realize: realization 20 is not from 0 to 19");
    EXPECT_FALSE(variation::realize(m, -1).ok());
    site::site_model plain = m;
    plain.variation.reset();
    EXPECT_FALSE(variation::realize(plain, 0).ok());
}

// Per layer, ln(Vs/V̄s) has sample sd within 20 % of σ_ln at 1000 realizations; adjacent
// layers' correlation within ±0.05 of the model's ρ at 5000.
TEST(Variation, VelocityStatistics) {
    const auto m = layered_site(8, 4.0,
                                "realizations = 5000\nseed = 20261209\nvelocity = \"toro\"\n"
                                "site_class = \"USGS C\"\n");
    const std::size_t nl = 8;
    std::vector<std::vector<double>> z(nl);
    for (long k = 0; k < 5000; ++k) {
        const auto r = variation::realize(m, k);
        ASSERT_TRUE(r.ok());
        ASSERT_EQ(r->site.layers.size(), nl);
        for (std::size_t i = 0; i < nl; ++i) {
            z[i].push_back(std::log(r->site.layers[i].vs / 300.0));
        }
    }
    for (std::size_t i = 0; i < nl; ++i) {
        const std::vector<double> first(z[i].begin(), z[i].begin() + 1000);
        EXPECT_NEAR(sd(first), 0.31, 0.2 * 0.31) << "layer " << i;
        if (i > 0) {
            const double rho =
                variation::correlation(m.variation->toro, 4.0, 4.0 * static_cast<double>(i) + 2.0);
            EXPECT_NEAR(corr(z[i - 1], z[i]), rho, 0.05) << "layers " << i << ", " << i + 1;
        }
    }
}

TEST(Variation, TruncationAndClipping) {
    const auto m = layered_site(4, 5.0,
                                "realizations = 2000\nvelocity = \"toro\"\nsite_class = "
                                "\"GeoMatrix AB\"\ntruncate = 1.0\nvs_min = 250\nvs_max = 400\n");
    double lo = 1e9, hi = 0;
    for (long k = 0; k < 2000; ++k) {
        const auto r = variation::realize(m, k);
        ASSERT_TRUE(r.ok());
        for (const auto& l : r->site.layers) {
            lo = std::min(lo, l.vs);
            hi = std::max(hi, l.vs);
            EXPECT_NEAR(l.vp / l.vs, 1600.0 / 300.0, 1e-12);
        }
    }
    // ±1σ of 0.46 around 300 m/s is [189, 476]: the clipping bounds are reached.
    EXPECT_EQ(lo, 250.0);
    EXPECT_EQ(hi, 400.0);
}

// The mean count of boundaries above 10, 30, 100 and 200 m within 3 standard errors of the
// rate's integral, 2000 realizations of a 250 m profile.
TEST(Variation, LayeringStatistics) {
    const auto m = layered_site(5, 50.0, "realizations = 2000\nseed = 3\nlayering = \"toro\"\n");
    const double depths[] = {10, 30, 100, 200};
    std::vector<std::vector<double>> counts(4);
    for (long k = 0; k < 2000; ++k) {
        const auto r = variation::realize(m, k);
        ASSERT_TRUE(r.ok());
        for (std::size_t j = 0; j < 4; ++j) {
            double n = 0;
            for (std::size_t i = 1; i < r->site.layers.size(); ++i) {
                n += r->site.layers[i].top < depths[j] ? 1 : 0;
            }
            counts[j].push_back(n);
        }
        EXPECT_NEAR(r->site.layers.back().top + r->site.layers.back().thickness, 250.0, 1e-9);
    }
    for (std::size_t j = 0; j < 4; ++j) {
        const double se = sd(counts[j]) / std::sqrt(2000.0);
        EXPECT_NEAR(mean(counts[j]), variation::expected_boundaries(depths[j]), 3 * se)
            << "above " << depths[j] << " m";
    }
}

// G/Gmax and damping at 0.01 % strain move together with correlation -0.5 (±0.1), 2000
// realizations; their spreads are Darendeli's σ.
TEST(Variation, CurveDeviates) {
    const auto m = layered_site(1, 10.0, "realizations = 2000\nseed = 9\ncurves = \"darendeli\"\n");
    const auto own = m.layers[0].curves.at(0.01);
    std::vector<double> g, d;
    for (long k = 0; k < 2000; ++k) {
        const auto r = variation::realize(m, k);
        ASSERT_TRUE(r.ok());
        const auto at = r->site.layers[0].curves.at(0.01);
        g.push_back(at.modulus);
        d.push_back(100 * at.damping);
    }
    EXPECT_NEAR(corr(g, d), -0.5, 0.1);
    EXPECT_NEAR(sd(g), sitewave::curves::darendeli_sigma_modulus(own.modulus), 0.1 * sd(g));
    EXPECT_NEAR(mean(g), own.modulus, 0.01);
}

TEST(Variation, BedrockDepth) {
    struct row {
        std::string law;
        double mean, sd;
    };
    const row rows[] = {
        {"distribution = \"uniform\", min = 25.0, max = 35.0", 30.0, 10.0 / std::sqrt(12.0)},
        {"distribution = \"normal\", mean = 30.0, sd = 5.0", 30.0, 5.0},
        {"distribution = \"lognormal\", mean = 30.0, sd = 10.0", 30.0, 10.0},
    };
    for (const auto& w : rows) {
        const auto m = layered_site(
            4, 6.0, "realizations = 2000\nseed = 11\nbedrock_depth = { " + w.law + " }\n");
        std::vector<double> h;
        for (long k = 0; k < 2000; ++k) {
            const auto r = variation::realize(m, k);
            ASSERT_TRUE(r.ok());
            h.push_back(r->bedrock_depth);
            const auto& last = r->site.layers.back();
            EXPECT_NEAR(last.top + last.thickness, r->bedrock_depth, 1e-9);
        }
        EXPECT_NEAR(mean(h), w.mean, 0.2 * w.mean) << w.law;
        EXPECT_NEAR(sd(h), w.sd, 0.2 * w.sd) << w.law;
    }
}

} // namespace

namespace {

// realizations.csv's rows: one per layer and the half-space; a soil's name quoted as CSV wants.
TEST(Variation, RowsOfRealizationsCsv) {
    std::string text = base;
    for (std::size_t at; (at = text.find("\"clay\"")) != std::string::npos;) {
        text.replace(at, 6, "\"clay, \\\"soft\\\"\"");
    }
    const auto m = parsed(text + "[variation]\nrealizations = 2\nbedrock_depth = { distribution = "
                                 "\"uniform\", min = 8.0, max = 9.0 }\n");
    const auto r = variation::realize(m, 1);
    ASSERT_TRUE(r.ok());
    const std::string rows = variation::realization_rows(*r);
    const auto nl = rows.find('\n');
    // One layer, 5 m extended to the rock's depth (between 8 and 9 m), its Vs unvaried.
    char depth[32];
    const auto end = std::to_chars(depth, depth + sizeof depth, r->bedrock_depth).ptr;
    EXPECT_EQ(rows.substr(0, nl),
              "1,1,0," + std::string(depth, end) + ",150,\"clay, \"\"soft\"\"\",0,0");
    EXPECT_EQ(rows.substr(nl + 1, 6), "1,2,8.");
    EXPECT_NE(rows.find(",,760,bedrock,,\n"), std::string::npos);
    EXPECT_EQ(variation::realizations_header(),
              "realization,layer,depth (m),thickness (m),vs (m/s),soil,modulus deviate,damping "
              "deviate\n");
}

} // namespace

namespace {

// Characters outside strings that toml++ 3.3 took to an unreachable branch: a refusal of the
// syntax like any other stray character (fuzz/regressions/site).
TEST(Variation, StrayUnicodeIsASyntaxError) {
    for (const std::string& text : {std::string("t\xc5\xab\x04\x00(\x00", 7),
                                    std::string("a\xd0\x96"), std::string("k = 1\n\xe3\x80\x81")}) {
        const auto got = site::parse_site(text, "u.toml");
        ASSERT_FALSE(got.ok());
        EXPECT_EQ(got.err().what, sitewave::error::kind::refused);
        EXPECT_NE(got.err().message.find("u.toml:"), std::string::npos) << got.err().message;
        EXPECT_NE(got.err().message.find(": (syntax): "), std::string::npos) << got.err().message;
    }
}

} // namespace
