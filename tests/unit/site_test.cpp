#include "sitewave/profile.hpp"
#include "sitewave/site.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// The site file: values read and derived (stresses by hand), the linear layer table, the example
// sites, and one row per refusal with its whole message.
namespace {

namespace site = sitewave::site;
namespace curves = sitewave::curves;

const std::string clay = R"([[soil]]
name = "clay"
unit_weight = 17.0
model = "darendeli"
pi = 30.0
)";

const std::string layer = R"([[layer]]
soil = "clay"
thickness = 5.0
vs = 150.0
vp = 1500.0
)";

const std::string rock = R"([bedrock]
vs = 760.0
vp = 1800.0
unit_weight = 22.0
damping = 0.01
)";

std::string doc(const std::string& soils = clay, const std::string& layers = layer,
                const std::string& bedrock = rock, const std::string& top = "") {
    return top + soils + layers + bedrock;
}

// `text` with the first `from` replaced by `to`.
std::string with(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

TEST(Site, ReadsLayersStressesAndCurves) {
    const std::string sand = R"([[soil]]
name = "sand"
unit_weight = 19.0
model = "menq"
cu = 4.0
d50 = 0.5
k0 = 0.4
)";
    const std::string layers = layer + R"([[layer]]
soil = "sand"
thickness = 4.0
vs = 250.0
poisson = 0.25
)";
    const auto s = site::parse_site(
        doc(clay + sand, layers, rock, "title = \"two\"\nangle = 10\nwater_table = 2.0\n"), "a");
    ASSERT_TRUE(s.ok()) << s.err().message;
    EXPECT_EQ(s->title, "two");
    EXPECT_EQ(s->angle, 10.0);
    ASSERT_EQ(s->layers.size(), 2u);
    const auto& a = s->layers[0];
    const auto& b = s->layers[1];
    // Clay: mid-depth 2.5 m, 0.5 m below the water; K0 0.5.
    const double sv_a = 17.0 * 2.5 - 9.81 * 0.5;
    EXPECT_NEAR(a.sigma_v, sv_a, 1e-12);
    EXPECT_NEAR(a.sigma_m, sv_a * (1 + 2 * 0.5) / 3 / 101.325, 1e-14);
    EXPECT_EQ(a.vp, 1500.0);
    EXPECT_EQ(a.top, 0.0);
    // Sand: mid-depth 7 m, 5 m below the water; K0 0.4.
    const double sv_b = 17.0 * 5.0 + 19.0 * 2.0 - 9.81 * 5.0;
    EXPECT_NEAR(b.sigma_v, sv_b, 1e-12);
    EXPECT_NEAR(b.sigma_m, sv_b * (1 + 2 * 0.4) / 3 / 101.325, 1e-14);
    EXPECT_NEAR(b.vp, 250.0 * std::sqrt(3.0), 1e-12); // ν = 0.25
    EXPECT_EQ(b.top, 5.0);
    EXPECT_EQ(b.unit_weight, 19.0);
    // The curves are the models' at those stresses.
    const auto da = *curves::darendeli(30, 1, a.sigma_m);
    const auto mb = *curves::menq(4, 0.5, b.sigma_m);
    for (double strain : {1e-4, 0.01, 1.0}) {
        EXPECT_EQ(a.curves.at(strain).modulus, da.at(strain).modulus);
        EXPECT_EQ(a.curves.at(strain).damping, da.at(strain).damping);
        EXPECT_EQ(b.curves.at(strain).modulus, mb.at(strain).modulus);
        EXPECT_EQ(b.curves.at(strain).damping, mb.at(strain).damping);
    }
    EXPECT_EQ(s->rock.vs, 760.0);
    EXPECT_EQ(s->rock.damping, 0.01);
}

TEST(Site, OtherModels) {
    const std::string soils = R"([[soil]]
name = "t"
unit_weight = 18
model = "table"
strain = [0.001, 0.1]
modulus = [1.0, 0.5]
damping_percent = [2.0, 4.0, 12.0]
damping_strain = [0.0001, 0.01, 1.0]
damping_min = 0.03
[[soil]]
name = "p"
unit_weight = 18
model = "published"
modulus_curve = "Idriss (1990), Clay"
damping_curve = "Idriss (1990), Sand"
[[soil]]
name = "l"
unit_weight = 18
model = "linear"
damping = 0.04
)";
    std::string layers;
    for (const char* name : {"t", "p", "l"}) {
        layers += with(layer, "\"clay\"", std::string("\"") + name + "\"");
    }
    const auto s = site::parse_site(doc(soils, layers), "m");
    ASSERT_TRUE(s.ok()) << s.err().message;
    EXPECT_NEAR(s->layers[0].curves.at(0.1).damping, 0.09, 1e-15); // 8 % + (3 − 2) %
    EXPECT_NEAR(s->layers[0].curves.small_strain_damping(), 0.03, 1e-15);
    const auto p = *curves::published("Idriss (1990), Clay", "Idriss (1990), Sand");
    EXPECT_EQ(s->layers[1].curves.at(0.05).modulus, p.at(0.05).modulus);
    EXPECT_EQ(s->layers[1].curves.at(0.05).damping, p.at(0.05).damping);
    EXPECT_EQ(s->layers[2].curves.at(1.0).damping, 0.04);
    EXPECT_EQ(s->layers[2].curves.at(1.0).modulus, 1.0);
}

TEST(Site, LinearLayerTable) {
    const std::string layers = layer + R"([[layer]]
soil = "clay"
thickness = 3.0
vs = 200.0
vp = 1600.0
qs = 20.0
fs = 0.5
qp = 40.0
fp = 0.25
)";
    const auto s = site::parse_site(doc(clay, layers), "q");
    ASSERT_TRUE(s.ok()) << s.err().message;
    const auto t = site::to_layer_table(*s);
    ASSERT_TRUE(t.ok()) << t.err().message;
    ASSERT_EQ(t->nl(), 3);
    const double d = s->layers[0].curves.small_strain_damping();
    EXPECT_EQ(t->dns[0], static_cast<float>(17.0 / 9.80665));
    EXPECT_EQ(t->qs[0], static_cast<float>(1.0 / (2.0 * d)));
    EXPECT_EQ(t->qp[0], static_cast<float>(1.0 / (2.0 * d)));
    EXPECT_EQ(t->fs[0], 0.0f);
    EXPECT_EQ(t->thk[0], 5.0f);
    EXPECT_EQ(t->vs[0], 150.0f);
    EXPECT_EQ(t->vp[0], 1500.0f);
    EXPECT_EQ(t->qs[1], 20.0f);
    EXPECT_EQ(t->fs[1], 0.5f);
    EXPECT_EQ(t->qp[1], 40.0f);
    EXPECT_EQ(t->fp[1], 0.25f);
    EXPECT_EQ(t->qs[2], 50.0f);
    EXPECT_EQ(t->qp[2], 50.0f);
    EXPECT_EQ(t->vs[2], 760.0f);
    EXPECT_EQ(t->dns[2], static_cast<float>(22.0 / 9.80665));

    EXPECT_EQ(site::to_layer_table(site::site_model{}).err().message,
              "site::to_layer_table: a site without layers");
    auto zero = *s;
    zero.rock.damping = 0.0;
    EXPECT_EQ(site::to_layer_table(zero).err().what, sitewave::error::kind::argument);
}

TEST(Site, ExampleSites) {
    struct row {
        const char* file;
        std::size_t layers;
        double vs_factor; // against best.toml
    };
    const row rows[] = {
        {"best", 5, 1.0}, {"lower", 5, 0.8}, {"upper", 5, 1.25}, {"soft_clay", 4, 0}};
    const auto best = site::read_site(SITEWAVE_EXAMPLES "/sites/best.toml");
    ASSERT_TRUE(best.ok()) << best.err().message;
    for (const auto& r : rows) {
        const auto s = site::read_site(std::string(SITEWAVE_EXAMPLES "/sites/") + r.file + ".toml");
        ASSERT_TRUE(s.ok()) << s.err().message;
        ASSERT_EQ(s->layers.size(), r.layers) << r.file;
        // The linear run takes the site's layer table as it takes a soil file's.
        const auto table = site::to_layer_table(*s);
        ASSERT_TRUE(table.ok()) << r.file;
        sitewave::profile p;
        p.layers = *table;
        p.nl = table->nl();
        p.nin = 1;
        EXPECT_TRUE(sitewave::check_profile(p, r.file).ok()) << r.file;
        for (std::size_t i = 0; i < s->layers.size(); ++i) {
            EXPECT_GT(s->layers[i].sigma_m, 0.0);
            EXPECT_LT(s->layers[i].vs, s->rock.vs);
            if (r.vs_factor > 0) {
                EXPECT_NEAR(s->layers[i].vs, best->layers[i].vs * r.vs_factor, 1e-9) << r.file;
            }
        }
    }
}

struct refusal {
    std::string text;
    std::string message;
};

TEST(Site, Refusals) {
    const refusal rows[] = {
        {"a = [", "r.toml:1:6: (syntax): Error while parsing array: encountered end-of-file"},
        {doc() + "color = 3\n", "r.toml:16:1: bedrock.color: unknown key (expected one of vs, "
                                "vp, poisson, unit_weight, damping)"},
        {doc(clay, layer, rock, "colour = 1\n"),
         "r.toml:1:1: colour: unknown key (expected one of title, angle, water_table, soil, "
         "layer, bedrock, variation)"},
        {doc(clay + "cu = 3\n"), "r.toml:6:1: soil \"clay\".cu: unknown key for model darendeli "
                                 "(expected one of name, unit_weight, model, k0, damping_min, "
                                 "pi, ocr, frequency, cycles)"},
        {doc(clay, with(layer, "vs =", "vp2 = 1\nvs =")),
         "r.toml:9:1: layer[1].vp2: unknown key (expected one of soil, thickness, vs, vp, "
         "poisson, qs, fs, qp, fp)"},
        {doc(clay, with(layer, "\"clay\"", "\"cley\"")),
         "r.toml:7:8: layer[1].soil: no soil named \"cley\"; the closest: \"clay\""},
        {doc(clay + with(clay, "\"clay\"", "\"sand\"")),
         "r.toml:6:1: soil \"sand\": no layer uses this soil"},
        {doc(clay + clay), "r.toml:7:8: soil[2].name: \"clay\" is already a soil's name"},
        {doc(clay, with(layer, "5.0", "0.0")),
         "r.toml:8:13: layer[1].thickness: 0 is not positive"},
        {doc(clay, with(layer, "5.0", "-2")),
         "r.toml:8:13: layer[1].thickness: -2 is not positive"},
        {doc(clay, with(layer, "150.0", "0")), "r.toml:9:6: layer[1].vs: 0 is not positive"},
        {doc(clay, with(layer, "1500.0", "150")),
         "r.toml:10:6: layer[1].vp: 150 is not above vs (150)"},
        {doc(clay, with(layer, "vp = 1500.0", "poisson = 0.5")),
         "r.toml:10:11: layer[1].poisson: 0.5 is outside [0, 0.5)"},
        {doc(clay, layer, with(rock, "1800.0", "700")),
         "r.toml:13:6: bedrock.vp: 700 is not above vs (760)"},
        {doc(clay, with(layer, "150.0", "\"fast\"")), "r.toml:9:6: layer[1].vs: not a number"},
        {doc(clay, with(layer, "vs = 150.0\n", "")), "r.toml:6:1: layer[1].vs: missing"},
        {doc(with(clay, "pi = 30.0\n", "")), "r.toml:1:1: soil \"clay\".pi: missing"},
        {doc(with(clay, "17.0", "-17")),
         "r.toml:3:15: soil \"clay\".unit_weight: -17 is not positive"},
        {doc(with(clay, "darendeli", "hardin")),
         "r.toml:4:9: soil \"clay\".model: \"hardin\" is not one of darendeli, menq, table, "
         "published, linear"},
        {doc(with(clay, "model = \"darendeli\"\npi = 30.0",
                  "model = \"table\"\nstrain = [0.001, 0.01, 0.01]\nmodulus = [1, 0.9, 0.8]\n"
                  "damping_percent = [1, 2, 3]")),
         "r.toml:5:10: soil \"clay\".strain: not increasing at entry 3 (0.01)"},
        {doc(with(clay, "model = \"darendeli\"\npi = 30.0",
                  "model = \"table\"\nstrain = [0.001, 0.01]\nmodulus = [1, 1.2]\n"
                  "damping_percent = [1, 2]")),
         "r.toml:6:11: soil \"clay\".modulus: entry 2 (1.2) is outside (0, 1]"},
        {doc(with(clay, "model = \"darendeli\"\npi = 30.0",
                  "model = \"table\"\nstrain = [0.001, 0.01]\nmodulus = [1, 0.5]\n"
                  "damping_percent = [1, 100]")),
         "r.toml:7:19: soil \"clay\".damping_percent: entry 2 (100) is outside [0, 100)"},
        {doc(with(clay, "model = \"darendeli\"\npi = 30.0",
                  "model = \"table\"\nstrain = [0.001, 0.01]\nmodulus = [1, \"x\"]\n"
                  "damping_percent = [1, 2]")),
         "r.toml:6:15: soil \"clay\".modulus: entry 2 is not a number"},
        {doc(with(clay, "model = \"darendeli\"\npi = 30.0",
                  "model = \"published\"\nmodulus_curve = \"Idriss (1990), Clai\"\n"
                  "damping_curve = \"Idriss (1990), Clay\"")),
         "r.toml:5:17: soil \"clay\".modulus_curve: published curves: no curve named \"Idriss "
         "(1990), Clai\"; the closest modulus curves: \"Idriss (1990), Clay\", \"Idriss (1990), "
         "Sand\", \"EPRI (93), PI=10\""},
        {doc(with(clay, "model = \"darendeli\"\npi = 30.0",
                  "model = \"published\"\nmodulus_curve = \"Idriss (1990), Clay\"\n"
                  "damping_curve = \"Iwasaki, 1.0 atm\"")),
         "r.toml:6:17: soil \"clay\".damping_curve: published curves: \"Iwasaki, 1.0 atm\" has "
         "no damping curve; the closest damping curves: \"GEI (83), 0-50 ft\", \"GEI (83), "
         ">500 ft\", \"EPRI (93), 0-20 ft\""},
        {doc(with(clay, "model = \"darendeli\"\npi = 30.0", "model = \"linear\"\ndamping = 2.0")),
         "r.toml:5:11: soil \"clay\".damping: 2 is outside [0, 1) (a ratio)"},
        {doc(clay + "damping_min = -0.01\n"),
         "r.toml:6:15: soil \"clay\".damping_min: -0.01 is outside [0, 1) (a ratio)"},
        {doc(clay, layer, with(rock, "damping = 0.01\n", "")),
         "r.toml:11:1: bedrock.damping: missing"},
        {doc(clay, layer, ""), "r.toml:1:1: bedrock: missing"},
        {doc(clay, ""), "r.toml:1:1: layer: missing"},
        {doc(with(clay, "[[soil]]", "[soil]")),
         "r.toml:1:1: soil: not a list of tables (write [[soil]])"},
        {doc(clay, layer, "", "bedrock = 1\n"),
         "r.toml:1:11: bedrock: not a table (write [bedrock])"},
        {doc(clay, layer, rock, "angle = 90\n"),
         "r.toml:1:9: angle: 90 is outside [0, 90) degrees"},
        {doc(clay, layer, rock, "water_table = -1\n"), "r.toml:1:15: water_table: -1 is negative"},
        {doc(clay, layer, rock, "title = 4\n"), "r.toml:1:9: title: not a string"},
        {doc(with(clay, "17.0", "5.0"), layer, rock, "water_table = 0\n"),
         "r.toml:7:1: layer[1]: vertical effective stress at mid-depth -12.025 kPa is not "
         "positive"},
        {doc(clay + "frequency = 0.01\n"),
         "r.toml:7:1: layer[1]: curves::darendeli: frequency 0.01 gives a negative small-strain "
         "damping"},
    };
    for (const auto& r : rows) {
        const auto got = site::parse_site(r.text, "r.toml");
        ASSERT_FALSE(got.ok()) << r.message;
        EXPECT_EQ(got.err().what, sitewave::error::kind::refused);
        EXPECT_EQ(got.err().message, r.message) << r.text;
    }
}

TEST(Site, AFileThatCannotBeRead) {
    const auto got = site::read_site("/nonexistent/site.toml");
    ASSERT_FALSE(got.ok());
    EXPECT_EQ(got.err().what, sitewave::error::kind::refused);
    EXPECT_EQ(got.err().message, "/nonexistent/site.toml: cannot be read");
    const auto dir = site::read_site(SITEWAVE_EXAMPLES);
    ASSERT_FALSE(dir.ok());
    EXPECT_EQ(dir.err().what, sitewave::error::kind::refused);
    EXPECT_EQ(dir.err().message, std::string(SITEWAVE_EXAMPLES) + ": cannot be read");
}

} // namespace
