#include "sitewave/curves.hpp"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

// Against the published check values (Darendeli 2001, Menq 2003 tables, within 1 %), the CSV of the
// published sets read here on its own, and hand-computed interpolations.
namespace {

namespace curves = sitewave::curves;

double relative(double got, double want) { return std::abs(got - want) / std::abs(want); }

struct check_row {
    const char* what;
    curves::model kind;
    double p1, p2, sigma_m; // darendeli: pi, ocr; menq: cu, d50
    double strain;          // %
    double modulus;         // G/Gmax
    double damping_percent;
};

// ANALYSES check values: Darendeli PI 0 and PI 30, Menq Cu 10.
const check_row checks[] = {
    {"darendeli PI 0", curves::model::darendeli, 0, 1, 1, 1e-4, 0.9955, 0.839},
    {"darendeli PI 0", curves::model::darendeli, 0, 1, 1, 1e-3, 0.9635, 1.174},
    {"darendeli PI 0", curves::model::darendeli, 0, 1, 1, 1e-2, 0.7607, 3.956},
    {"darendeli PI 0", curves::model::darendeli, 0, 1, 1, 0.1, 0.2770, 13.79},
    {"darendeli PI 0", curves::model::darendeli, 0, 1, 1, 1.0, 0.0441, 20.71},
    {"darendeli PI 30", curves::model::darendeli, 30, 1, 0.25, 1e-5, 1.0, 1.778},
    {"darendeli PI 30", curves::model::darendeli, 30, 1, 0.25, 2.2e-3, 0.936, 2.476},
    {"darendeli PI 30", curves::model::darendeli, 30, 1, 0.25, 1.0, 0.050, 21.542},
    {"menq Cu 10", curves::model::menq, 10, 5, 1, 1e-4, 0.9927, 0.472},
    {"menq Cu 10", curves::model::menq, 10, 5, 1, 1e-3, 0.9493, 0.864},
    {"menq Cu 10", curves::model::menq, 10, 5, 1, 1e-2, 0.7209, 3.94},
    {"menq Cu 10", curves::model::menq, 10, 5, 1, 0.1, 0.2628, 12.93},
    {"menq Cu 10", curves::model::menq, 10, 5, 1, 1.0, 0.0469, 18.32},
};

TEST(Curves, PublishedCheckValuesWithinOnePercent) {
    double worst_g = 0.0;
    double worst_d = 0.0;
    for (const auto& row : checks) {
        auto set = row.kind == curves::model::darendeli
                       ? curves::darendeli(row.p1, row.p2, row.sigma_m)
                       : curves::menq(row.p1, row.p2, row.sigma_m);
        ASSERT_TRUE(set.ok()) << row.what;
        const auto r = set->at(row.strain);
        EXPECT_LT(relative(r.modulus, row.modulus), 0.01) << row.what << " at " << row.strain;
        EXPECT_LT(relative(r.damping * 100.0, row.damping_percent), 0.01)
            << row.what << " at " << row.strain;
        EXPECT_FALSE(r.clamped);
        worst_g = std::max(worst_g, relative(r.modulus, row.modulus));
        worst_d = std::max(worst_d, relative(r.damping * 100.0, row.damping_percent));
    }
    RecordProperty("worst_modulus", std::to_string(worst_g));
    RecordProperty("worst_damping", std::to_string(worst_d));
}

TEST(Curves, DarendeliDeviationsWithinOnePercent) {
    struct row {
        double strain, sigma_g, sigma_d;
    };
    const row rows[] = {{1e-5, 0.01836, 0.708}, {2.2e-3, 0.05699, 0.994}, {1.0, 0.04818, 3.551}};
    const auto set = curves::darendeli(0, 1, 1);
    ASSERT_TRUE(set.ok());
    for (const auto& r : rows) {
        const auto v = set->at(r.strain);
        EXPECT_LT(relative(curves::darendeli_sigma_modulus(v.modulus), r.sigma_g), 0.01)
            << r.strain;
        EXPECT_LT(relative(curves::darendeli_sigma_damping_percent(v.damping * 100.0), r.sigma_d),
                  0.01)
            << r.strain;
    }
}

TEST(Curves, ModelsAtSmallStrainTendToTheirLimits) {
    // The Masing term vanishes smoothly (its series below γ/γr = 0.01 meets the closed form).
    const auto d = *curves::darendeli(20, 1, 0.5);
    EXPECT_DOUBLE_EQ(d.at(0.0).damping, d.d_min_percent / 100.0);
    EXPECT_DOUBLE_EQ(d.at(0.0).modulus, 1.0);
    EXPECT_NEAR(d.at(1e-9).damping, d.d_min_percent / 100.0, 1e-8);
    const double x = 0.01 * d.gamma_r;
    EXPECT_NEAR(d.at(x * (1 - 1e-12)).damping, d.at(x * (1 + 1e-12)).damping, 1e-12);
    EXPECT_DOUBLE_EQ(d.small_strain_damping(), d.d_min_percent / 100.0);
    // Damping rises and G/Gmax falls with strain (the damping of the model peaks near 1 %).
    double g = 2.0;
    double damping = -1.0;
    for (double s = 1e-6; s < 0.5; s *= 1.5) {
        const auto r = d.at(s);
        EXPECT_LT(r.modulus, g);
        EXPECT_GT(r.damping, damping);
        g = r.modulus;
        damping = r.damping;
    }
}

TEST(Curves, DarendeliFrequencyAndCyclesEnterAsPublished) {
    const auto base = *curves::darendeli(15, 2, 2);
    const auto fast = *curves::darendeli(15, 2, 2, 10.0, 10.0);
    EXPECT_NEAR(fast.d_min_percent / base.d_min_percent, 1.0 + 0.2919 * std::log(10.0), 1e-12);
    const auto many = *curves::darendeli(15, 2, 2, 1.0, 100.0);
    EXPECT_NEAR(many.b, 0.6329 - 0.0057 * std::log(100.0), 1e-15);
    EXPECT_NEAR(base.gamma_r,
                (0.0352 + 0.0010 * 15 * std::pow(2.0, 0.3246)) * std::pow(2.0, 0.3483), 1e-15);
}

TEST(Curves, TableInterpolatesInLogStrainAndClamps) {
    const auto t = curves::table({0.001, 0.01, 0.1}, {1.0, 0.8, 0.4}, {1.0, 3.0, 10.0});
    ASSERT_TRUE(t.ok());
    struct row {
        double strain, modulus, damping_percent;
        bool clamped;
    };
    const double mid = std::sqrt(0.001 * 0.01); // halfway in ln γ
    const row rows[] = {
        {0.001, 1.0, 1.0, false}, {0.01, 0.8, 3.0, false},
        {0.1, 0.4, 10.0, false},  {mid, 0.9, 2.0, false},
        {1e-5, 1.0, 1.0, true},   {0.0, 1.0, 1.0, true},
        {5.0, 0.4, 10.0, true},   {std::pow(10.0, -1.25), 0.5, 8.25, false},
    };
    for (const auto& r : rows) {
        const auto v = t->at(r.strain);
        EXPECT_NEAR(v.modulus, r.modulus, 1e-12) << r.strain;
        EXPECT_NEAR(v.damping * 100.0, r.damping_percent, 1e-10) << r.strain;
        EXPECT_EQ(v.clamped, r.clamped) << r.strain;
    }
}

TEST(Curves, TableWithItsOwnDampingStrains) {
    const auto t = curves::table({0.001, 0.1}, {1.0, 0.5}, {2.0, 4.0, 12.0}, {0.0001, 0.01, 1.0});
    ASSERT_TRUE(t.ok());
    EXPECT_NEAR(t->at(0.01).modulus, 0.75, 1e-12);
    EXPECT_NEAR(t->at(0.01).damping, 0.04, 1e-12);
    EXPECT_NEAR(t->at(0.1).damping, 0.08, 1e-12);
    EXPECT_NEAR(t->small_strain_damping(), 0.02, 1e-15);
    EXPECT_TRUE(t->at(0.0005).clamped); // below the modulus strains, within the damping's
}

TEST(Curves, RefusedArguments) {
    struct row {
        sitewave::result<curves::curve_set> got;
        const char* message;
    };
    const row rows[] = {
        {curves::darendeli(-1, 1, 1), "curves::darendeli: plasticity index -1 is not >= 0"},
        {curves::darendeli(0, 0, 1), "curves::darendeli: ocr 0 is not positive"},
        {curves::darendeli(0, 1, 0), "curves::darendeli: mean effective stress 0 is not positive"},
        {curves::darendeli(0, 1, 1, NAN), "curves::darendeli: frequency nan is not positive"},
        {curves::darendeli(0, 1, 1, 1, 0), "curves::darendeli: cycles 0 is not positive"},
        {curves::darendeli(0, 1, 1, 0.01),
         "curves::darendeli: frequency 0.01 gives a negative small-strain damping"},
        {curves::menq(0, 1, 1), "curves::menq: cu 0 is not positive"},
        {curves::menq(1, -2, 1), "curves::menq: d50 -2 is not positive"},
        {curves::menq(1, 1, INFINITY), "curves::menq: mean effective stress inf is not positive"},
        {curves::table({}, {}, {}), "curves::table: strain: no entry"},
        {curves::table({0.1, 0.1}, {1, 1}, {1, 1}),
         "curves::table: strain: not increasing at entry 2 (0.1)"},
        {curves::table({-0.1}, {1}, {1}),
         "curves::table: strain: entry 1 (-0.1) is not a positive strain"},
        {curves::table({0.1, 1}, {1}, {1, 1}), "curves::table: modulus: 1 entries for 2 strains"},
        {curves::table({0.1, 1}, {1, 0}, {1, 1}),
         "curves::table: modulus: entry 2 (0) is outside (0, 1]"},
        {curves::table({0.1, 1}, {1.01, 1}, {1, 1}),
         "curves::table: modulus: entry 1 (1.01) is outside (0, 1]"},
        {curves::table({0.1, 1}, {1, 1}, {1, 100}),
         "curves::table: damping_percent: entry 2 (100) is outside [0, 100)"},
        {curves::table({0.1, 1}, {1, 1}, {-1, 1}),
         "curves::table: damping_percent: entry 1 (-1) is outside [0, 100)"},
        {curves::table({0.1, 1}, {1, 1}, {1, 1, 2}, {1, 0.5, 2}),
         "curves::table: damping_strain: not increasing at entry 2 (0.5)"},
        {curves::linear(1.0), "curves::linear: damping 1 is outside [0, 1)"},
        {curves::with_damping_min(*curves::linear(0.0), -0.1),
         "curves::with_damping_min: damping_min -0.1 is outside [0, 1)"},
    };
    for (const auto& r : rows) {
        ASSERT_FALSE(r.got.ok()) << r.message;
        EXPECT_EQ(r.got.err().what, sitewave::error::kind::argument);
        EXPECT_EQ(r.got.err().message, r.message);
    }
}

TEST(Curves, LinearAndDampingMin) {
    const auto l = *curves::linear(0.03);
    EXPECT_EQ(l.at(0.5).modulus, 1.0);
    EXPECT_EQ(l.at(0.5).damping, 0.03);
    const auto shifted = *curves::with_damping_min(l, 0.05);
    EXPECT_NEAR(shifted.at(3.0).damping, 0.05, 1e-15);

    // The whole damping curve moves by the difference; G/Gmax stays.
    const auto d = *curves::darendeli(0, 1, 1);
    const auto s = *curves::with_damping_min(d, 0.02);
    EXPECT_NEAR(s.small_strain_damping(), 0.02, 1e-15);
    for (double strain : {1e-4, 1e-2, 1.0}) {
        EXPECT_NEAR(s.at(strain).damping - d.at(strain).damping, 0.02 - d.d_min_percent / 100.0,
                    1e-15);
        EXPECT_EQ(s.at(strain).modulus, d.at(strain).modulus);
    }
    const auto t = *curves::table({0.001, 0.1}, {1.0, 0.5}, {2.0, 8.0});
    const auto u = *curves::with_damping_min(t, 0.01);
    EXPECT_NEAR(u.at(0.1).damping, 0.07, 1e-15);
    // Shifting again starts from the curve's own damping, not the shifted one.
    EXPECT_NEAR(curves::with_damping_min(u, 0.03)->at(0.1).damping, 0.09, 1e-15);
    // A shift below zero leaves no negative damping.
    EXPECT_EQ(curves::with_damping_min(t, 0.0)->at(0.001).damping, 0.0);
}

// data/curves/published.csv read here with its own small parser.
std::map<std::string, std::map<std::string, std::vector<std::pair<double, double>>>>
read_published_csv() {
    std::map<std::string, std::map<std::string, std::vector<std::pair<double, double>>>> out;
    std::ifstream in(SITEWAVE_DATA "/curves/published.csv");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        // "name, with comma",quantity,strain,value
        const auto close = line.rfind('"');
        const std::string name = line.substr(1, close - 1);
        const std::string rest = line.substr(close + 2);
        const auto c1 = rest.find(',');
        const auto c2 = rest.find(',', c1 + 1);
        out[name][rest.substr(0, c1)].emplace_back(std::stod(rest.substr(c1 + 1, c2 - c1 - 1)),
                                                   std::stod(rest.substr(c2 + 1)));
    }
    return out;
}

TEST(Curves, PublishedSetsExactAtTheirPoints) {
    const auto csv = read_published_csv();
    ASSERT_EQ(csv.size(), 37u);
    const auto names = curves::published_names();
    ASSERT_EQ(names.size(), 37u);
    EXPECT_EQ(names.front(), "Vucetic & Dobry (91), PI=0");
    std::size_t points = 0;
    for (const auto& name : names) {
        ASSERT_EQ(csv.count(name), 1u) << name;
        const auto& q = csv.at(name);
        const std::string g = q.count("modulus_ratio") ? name : "Seed & Idriss, Sand Mean";
        const std::string d = q.count("damping_percent") ? name : "Seed & Idriss, Sand Mean";
        const auto set = curves::published(g, d);
        ASSERT_TRUE(set.ok()) << name;
        EXPECT_EQ(set->kind, curves::model::published);
        for (const auto& [quantity, rows] : q) {
            for (const auto& [strain, value] : rows) {
                const auto r = set->at(strain);
                if (quantity == "modulus_ratio") {
                    EXPECT_EQ(r.modulus, value) << name << " at " << strain;
                } else {
                    EXPECT_EQ(r.damping, value / 100.0) << name << " at " << strain;
                }
                ++points;
            }
        }
    }
    EXPECT_EQ(points, 805u);
}

TEST(Curves, PublishedNamesRefusedWithTheClosest) {
    struct row {
        const char* modulus;
        const char* damping;
        const char* message;
    };
    const row rows[] = {
        {"Vucetic & Dobry (91), PI=35", "Vucetic & Dobry (91), PI=30",
         "published curves: no curve named \"Vucetic & Dobry (91), PI=35\"; the closest modulus "
         "curves: \"Vucetic & Dobry (91), PI=15\", \"Vucetic & Dobry (91), PI=30\", \"Vucetic & "
         "Dobry (91), PI=0\""},
        {"Idriss (1990), Clay", "idriss (1990), sand",
         "published curves: no curve named \"idriss (1990), sand\"; the closest damping curves: "
         "\"Idriss (1990), Sand\", \"Idriss (1990), Clay\", \"EPRI (93), PI=10\""},
        {"Idriss (1990), Clay", "Iwasaki, 1.0 atm",
         "published curves: \"Iwasaki, 1.0 atm\" has no damping curve; the closest damping "
         "curves: \"GEI (83), 0-50 ft\", \"GEI (83), >500 ft\", \"EPRI (93), 0-20 ft\""},
        {"Seed & Idriss, Sand Lower", "Seed & Idriss, Sand Lower",
         "published curves: \"Seed & Idriss, Sand Lower\" has no modulus curve; the closest "
         "modulus curves: \"Seed & Idriss, Sand Upper\", \"Seed & Idriss, Sand Mean\", "
         "\"Idriss (1990), Sand\""},
    };
    for (const auto& r : rows) {
        const auto got = curves::published(r.modulus, r.damping);
        ASSERT_FALSE(got.ok()) << r.message;
        EXPECT_EQ(got.err().what, sitewave::error::kind::refused);
        EXPECT_EQ(got.err().message, r.message);
    }
}

TEST(Curves, ClosestNamesByEditDistance) {
    const std::vector<std::string> names = {"kitten", "sitting", "mitten", "bitten", "kit"};
    EXPECT_EQ(curves::closest_names("KITTEN", names, 1), std::vector<std::string>{"kitten"});
    EXPECT_EQ(curves::closest_names("sittin", names, 2),
              (std::vector<std::string>{"sitting", "kitten"}));
    EXPECT_TRUE(curves::closest_names("x", {}, 3).empty());
}

} // namespace
