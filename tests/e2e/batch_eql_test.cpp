// The batch tool's equivalent-linear runs: flat curves give the linear run of the same site;
// the motions at depth (the outcrop of the rock is the outcrop input, within at the surface is
// the surface); non-convergence reported, and fatal with --strict; the options' usage errors.

#include "support/batch_run.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A figure for the test's record, in scientific notation.
std::string sci(double x) {
    char b[32];
    std::snprintf(b, sizeof b, "%.3e", x);
    return b;
}

namespace fs = std::filesystem;
const fs::path examples = SITEWAVE_EXAMPLES;

// The columns of a tidy CSV file (numbers; a cell that is not a number reads 0), header dropped.
std::vector<std::vector<double>> columns(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    std::vector<std::vector<double>> cols;
    while (std::getline(in, line)) {
        std::istringstream cells(line);
        std::string cell;
        for (std::size_t k = 0; std::getline(cells, cell, ','); ++k) {
            if (cols.size() <= k) {
                cols.resize(k + 1);
            }
            cols[k].push_back(std::strtod(cell.c_str(), nullptr));
        }
    }
    return cols;
}

// The cell of summary.csv's first row under the heading `name`.
std::string summary_cell(const std::string& text, const std::string& name) {
    std::istringstream in(text);
    std::string head, row;
    std::getline(in, head);
    std::getline(in, row);
    std::istringstream h(head), r(row);
    std::string a, b;
    while (std::getline(h, a, ',') && std::getline(r, b, ',')) {
        if (a == name) {
            return b;
        }
    }
    return "(none)";
}

class batch_eql : public batch_run {
  protected:
    void SetUp() override {
        batch_run::SetUp();
        std::ostringstream r;
        r << "t,a,b,c\n";
        for (int j = 0; j < 1200; ++j) {
            const double t = 0.01 * j;
            const double taper = std::sin(M_PI * j / 1199.0);
            r << t << "," << 0.2 * taper * std::sin(2 * M_PI * 1.7 * t) << ","
              << 0.15 * taper * std::sin(2 * M_PI * 4.1 * t + 0.3) << ","
              << 0.05 * taper * std::sin(2 * M_PI * 6 * t) << "\n";
        }
        write("r.csv", r.str());
        const std::string layers = "[[layer]]\nsoil = \"a\"\nthickness = 6.0\nvs = 160.0\n"
                                   "vp = 500.0\n\n[[layer]]\nsoil = \"b\"\nthickness = 14.0\n"
                                   "vs = 300.0\nvp = 800.0\n\n[bedrock]\nvs = 900.0\n"
                                   "vp = 2000.0\nunit_weight = 22.0\ndamping = 0.01\n";
        write("flat.toml", "title = \"flat\"\nwater_table = 3.0\n\n[[soil]]\nname = \"a\"\n"
                           "unit_weight = 18.0\nmodel = \"linear\"\ndamping = 0.04\n\n"
                           "[[soil]]\nname = \"b\"\nunit_weight = 19.0\nmodel = \"table\"\n"
                           "strain = [0.0001, 0.01, 1.0]\nmodulus = [1.0, 1.0, 1.0]\n"
                           "damping_percent = [2.5, 2.5, 2.5]\n\n" +
                               layers);
    }
};

TEST_F(batch_eql, flat_curves_give_the_linear_run) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"outcrop", {"--input", "outcrop"}},
        {"incident", {"--input", "incident"}},
        {"within", {"--input", "within"}},
        {"oblique-25", {"--input", "outcrop", "--angle", "25", "--impedance", "oblique"}},
    };
    for (const auto& [input, args] : cases) {
        const std::string lin = "lin-" + input, eq = "eq-" + input;
        std::vector<std::string> command = {"--soil", "flat.toml", "r.csv", "--out", lin};
        command.insert(command.end(), args.begin(), args.end());
        ASSERT_EQ(run(command), 0) << err_;
        command[4] = eq;
        command.insert(command.end(), {"--method", "eql"});
        ASSERT_EQ(run(command), 0) << err_;
        const auto a = columns(read(lin + "/flat/r/surface.csv"));
        const auto b = columns(read(eq + "/flat/r/surface.csv"));
        ASSERT_EQ(a.size(), 4u);
        ASSERT_EQ(b.size(), 4u);
        for (std::size_t c = 1; c < 4; ++c) {
            double p = 0, worst = 0;
            for (const double v : a[c]) {
                p = std::max(p, std::fabs(v));
            }
            for (std::size_t j = 0; j < a[c].size(); ++j) {
                worst = std::max(worst, std::fabs(a[c][j] - b[c][j]) / p);
            }
            EXPECT_LT(worst, 1e-5) << input << " column " << c;
            RecordProperty(std::string("worst_relative ") + input + " " + std::to_string(c),
                           sci(worst));
        }
        const std::string summary = read(eq + "/summary.csv");
        EXPECT_EQ(summary_cell(summary, "method"), "eql");
        EXPECT_EQ(summary_cell(summary, "converged H1"), "yes");
        EXPECT_EQ(summary_cell(summary, "converged H2"), "yes");
        const int passes = std::stoi(summary_cell(summary, "passes H1"));
        EXPECT_GE(passes, 1);
        EXPECT_LE(passes, 2);
        EXPECT_EQ(summary_cell(read(lin + "/summary.csv"), "method"), "linear");
    }
}

// The vertical on the horizontals' final profile: with flat curves every mode gives the linear
// vertical to the bit; on soft clay holding Poisson's ratio softens it more than holding the
// constrained modulus, and both differ from the linear vertical.
TEST_F(batch_eql, vertical_modes) {
    const std::string clay = (examples / "sites" / "soft_clay.toml").string();
    std::map<std::string, std::vector<double>> v;
    for (const char* mode : {"linear", "poisson", "constrained"}) {
        for (const auto& [name, site] :
             {std::pair<std::string, std::string>{"flat", "flat.toml"}, {"clay", clay}}) {
            const std::string out = name + "-" + mode;
            ASSERT_EQ(run({"--soil", site, "--input", "outcrop", "--method", "eql", "--vertical",
                           mode, "--max-iterations", "40", "r.csv", "--out", out}),
                      0)
                << err_;
            const std::string folder = name == "flat" ? "flat" : "soft_clay";
            v[out] = columns(read(out + "/" + folder + "/r/surface.csv"))[3];
        }
    }
    EXPECT_EQ(v["flat-poisson"], v["flat-linear"]);
    EXPECT_EQ(v["flat-constrained"], v["flat-linear"]);
    const auto peak = [](const std::vector<double>& x) {
        double p = 0;
        for (const double a : x) {
            p = std::max(p, std::fabs(a));
        }
        return p;
    };
    EXPECT_NE(v["clay-poisson"], v["clay-linear"]);
    EXPECT_NE(v["clay-constrained"], v["clay-poisson"]);
    RecordProperty("peak V linear", sci(peak(v["clay-linear"])));
    RecordProperty("peak V poisson", sci(peak(v["clay-poisson"])));
    RecordProperty("peak V constrained", sci(peak(v["clay-constrained"])));
}

TEST_F(batch_eql, motions_at_depth) {
    ASSERT_EQ(run({"--soil", (examples / "sites" / "soft_clay.toml").string(), "--input", "outcrop",
                   "--method", "eql", "--depths", "0,8,22", "r.csv", "--out", "d"}),
              0)
        << err_;
    const auto d = columns(read("d/soft_clay/r/depth.csv"));
    const auto in = columns(read("d/soft_clay/r/input.csv"));
    const auto s = columns(read("d/soft_clay/r/surface.csv"));
    ASSERT_EQ(d.size(), 13u);
    // Columns: within, outcrop of H1, then of H2, at each depth; 22 m is the top of the rock.
    const std::size_t rock_h1 = 1 + 8 + 1, rock_h2 = 1 + 8 + 3;
    double worst_rock = 0, worst_surface = 0, p1 = 0, p2 = 0, ps = 0;
    for (std::size_t j = 0; j < in[1].size(); ++j) {
        p1 = std::max(p1, std::fabs(in[1][j]));
        p2 = std::max(p2, std::fabs(in[2][j]));
        ps = std::max(ps, std::fabs(s[1][j]));
    }
    // depth.csv, as surface.csv, leaves out the mean of the padded record: a constant.
    double m1 = 0, m2 = 0;
    for (std::size_t j = 0; j < in[1].size(); ++j) {
        m1 += (d[rock_h1][j] - in[1][j]) / static_cast<double>(in[1].size());
        m2 += (d[rock_h2][j] - in[2][j]) / static_cast<double>(in[1].size());
    }
    for (std::size_t j = 0; j < in[1].size(); ++j) {
        worst_rock = std::max({worst_rock, std::fabs(d[rock_h1][j] - in[1][j] - m1) / p1,
                               std::fabs(d[rock_h2][j] - in[2][j] - m2) / p2});
        worst_surface = std::max(worst_surface, std::fabs(d[1][j] - s[1][j]) / ps);
    }
    EXPECT_LT(worst_rock, 1e-5);
    EXPECT_LT(worst_surface, 1e-5);
    RecordProperty("rock_outcrop_relative", sci(worst_rock));
    RecordProperty("surface_relative", sci(worst_surface));
}

TEST_F(batch_eql, non_convergence_is_a_note_or_with_strict_a_failure) {
    const std::string site = (examples / "sites" / "soft_clay.toml").string();
    ASSERT_EQ(run({"--soil", site, "--input", "outcrop", "--method", "eql", "--tolerance", "0",
                   "--max-iterations", "3", "r.csv", "--out", "n"}),
              0)
        << err_;
    const std::string summary = read("n/summary.csv");
    EXPECT_EQ(summary_cell(summary, "status"), "ok");
    EXPECT_NE(summary_cell(summary, "note").find("H1 not converged after 3 passes"),
              std::string::npos);
    EXPECT_EQ(summary_cell(summary, "converged H1"), "no");
    EXPECT_EQ(summary_cell(summary, "passes H1"), "3");
    EXPECT_EQ(columns(read("n/soft_clay/r/iterations.csv"))[0].size(), 6u);
    ASSERT_EQ(run({"--soil", site, "--input", "outcrop", "--method", "eql", "--tolerance", "0",
                   "--max-iterations", "3", "--strict", "r.csv", "--out", "s"}),
              1);
    EXPECT_EQ(summary_cell(read("s/summary.csv"), "status"), "failed");
}

// A strain beyond a table's strains reads the end value and says so; the options are recorded.
TEST_F(batch_eql, clamped_strains_and_the_run_record) {
    write("c.toml", "title = \"c\"\n[[soil]]\nname = \"t\"\nunit_weight = 18\n"
                    "model = \"table\"\nstrain = [0.0001, 0.0002]\nmodulus = [1.0, 0.9]\n"
                    "damping_percent = [2, 3]\n[[layer]]\nsoil = \"t\"\nthickness = 10\n"
                    "vs = 150\nvp = 600\n[bedrock]\nvs = 800\nvp = 1600\nunit_weight = 22\n"
                    "damping = 0.01\n");
    ASSERT_EQ(
        run({"--soil", "c.toml", "--input", "incident", "--method", "eql", "--strain-magnitude",
             "6.5", "--complex-modulus", "simple", "r.csv", "--out", "c"}),
        0)
        << err_;
    const std::string summary = read("c/summary.csv");
    EXPECT_NE(summary_cell(summary, "note").find("H1 strain beyond the curve's table in sublayers"),
              std::string::npos)
        << summary;
    const std::string profile = read("c/c/r/profile.csv");
    EXPECT_NE(profile.find(",0.9,3,"), std::string::npos) << profile; // the end values
    EXPECT_NE(profile.find(",yes\n"), std::string::npos);
    const std::string record = read("c/run.json");
    EXPECT_NE(record.find("\"strain ratio\": 0.55"), std::string::npos) << record;
    EXPECT_NE(record.find("\"complex modulus\": \"simple\""), std::string::npos);
}

TEST_F(batch_eql, usage_errors) {
    const std::string site = (examples / "sites" / "soft_clay.toml").string();
    const std::string soil = (examples / "soil_dat.csv").string();
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--soil", soil, "--method", "eql", "--input", "outcrop"}, "is not a site file (.toml)"},
        {{"--soil", site, "--method", "eql"}, "--input: a site file (.toml) needs"},
        {{"--soil", site, "--method", "eql", "--input", "outcrop", "--tolerance", "-1"},
         "--tolerance: \"-1\" is not valid"},
        {{"--soil", site, "--method", "eql", "--input", "outcrop", "--strain-ratio", "1.5"},
         "--strain-ratio: \"1.5\" is not valid"},
        {{"--soil", site, "--method", "eql", "--input", "outcrop", "--strain-ratio", "0.6",
          "--strain-magnitude", "7"},
         "one or the other"},
        {{"--soil", site, "--method", "eql", "--input", "outcrop", "--max-iterations", "2.5"},
         "--max-iterations: \"2.5\" is not valid"},
        {{"--soil", site, "--input", "outcrop", "--depths", "3"}, "go with --method eql"},
        {{"--soil", site, "--method", "eql", "--input", "outcrop", "--depths", "3,-1"},
         "--depths: \"3,-1\" is not valid"},
        {{"--soil", site, "--method", "eql", "--input", "outcrop", "--complex-modulus", "x"},
         "--complex-modulus"},
        {{"--soil", site, "--method", "eql", "--input", "outcrop", "--dialogue-files"},
         "not with --method eql"},
        {{"--soil", site, "--input", "outcrop", "--vertical", "poisson"}, "go with --method eql"},
        {{"--soil", site, "--method", "eql", "--input", "outcrop", "--vertical", "shear"},
         "--vertical"},
    };
    for (const auto& c : cases) {
        auto args = c.args;
        args.insert(args.end(), {"r.csv", "--out", "u"});
        EXPECT_EQ(run(args), 2) << c.message;
        EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
        EXPECT_FALSE(fs::exists(dir_ / "u")) << c.message;
    }
}

} // namespace
