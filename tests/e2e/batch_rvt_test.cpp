// sitewave-batch's runs of random vibration theory: the linear transfer function of one layer
// against its closed form, the equivalent-linear run with flat curves against the linear run, a
// target spectrum recovered, the summary's input kind, and the usage errors of the inputs.
#include "support/batch_run.hpp"

#include <cmath>
#include <complex>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The rows of a tidy CSV file as cells, header dropped.
std::vector<std::vector<std::string>> rows(const std::string& text) {
    std::vector<std::vector<std::string>> out;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::string cell;
        std::istringstream l(line);
        while (std::getline(l, cell, ',')) {
            cells.push_back(cell);
        }
        if (!line.empty() && line.back() == ',') {
            cells.push_back("");
        }
        out.push_back(cells);
    }
    return out;
}

class batch_rvt : public batch_run {
  protected:
    void SetUp() override {
        batch_run::SetUp();
        write("uniform.toml", "[[soil]]\nname = \"u\"\nunit_weight = 18.0\nmodel = \"linear\"\n"
                              "damping = 0.03\n\n[[layer]]\nsoil = \"u\"\nthickness = 20.0\n"
                              "vs = 200.0\nvp = 700.0\n\n[bedrock]\nvs = 800.0\nvp = 1800.0\n"
                              "unit_weight = 22.0\ndamping = 0.01\n");
        write("fas.csv", fas_text());
        write("r.csv", "t,a,b,c\n0,0,0,0\n0.01,0.1,0.05,0.02\n0.02,-0.1,0.02,0.01\n0.03,0,0,0\n");
    }
};

TEST_F(batch_rvt, one_layer_against_its_closed_form) {
    ASSERT_EQ(run({"--soil", "uniform.toml", "--input", "outcrop", "--fas", "fas.csv", "--duration",
                   "8", "--out", "o"}),
              0)
        << err_;
    const auto t = rows(read("o/uniform/fas/transfer.csv"));
    ASSERT_EQ(t.size(), 4096u);
    double worst = 0;
    for (const std::size_t k : {10u, 200u, 1000u, 4000u}) {
        const double f = std::stod(t[k][0]);
        const std::complex<double> vs(200, 200 * 0.03), vr(800, 800 * 0.01);
        const auto kh = 2 * M_PI * f / vs * 20.0;
        const auto alpha = 18.0 * vs / (22.0 * vr);
        const double want =
            std::abs(1.0 / (std::cos(kh) + std::complex<double>(0, 1) * alpha * std::sin(kh)));
        worst = std::max(worst, std::fabs(std::stod(t[k][1]) / want - 1));
    }
    EXPECT_LT(worst, 1e-6); // the linear run's layer table holds float values (Q, density)
    const auto s = rows(read("o/uniform/fas/spectra.csv"));
    for (const std::size_t k : {100u, 3000u}) {
        EXPECT_NEAR(std::stod(s[k][2]), std::stod(s[k][1]) * std::stod(t[k][1]),
                    1e-12 * std::stod(s[k][2]));
    }
    // psa.csv: H1 filled, H2 and V empty; the summary says rvt.
    const auto p = rows(read("o/uniform/fas/psa.csv"));
    ASSERT_FALSE(p.empty());
    EXPECT_FALSE(p[5][1].empty());
    EXPECT_TRUE(p[5][2].empty());
    EXPECT_TRUE(p[5][3].empty());
    const std::string summary = read("o/summary.csv");
    EXPECT_NE(summary.find(",rvt\n"), std::string::npos) << summary;
}

TEST_F(batch_rvt, flat_curves_and_targets) {
    // The equivalent-linear run of a linear soil is the linear run.
    ASSERT_EQ(run({"--soil", "uniform.toml", "--input", "outcrop", "--source", "--magnitude", "6",
                   "--distance", "15", "--region", "cena", "--out", "lin"}),
              0)
        << err_;
    ASSERT_EQ(run({"--soil", "uniform.toml", "--input", "outcrop", "--method", "eql", "--source",
                   "--magnitude", "6", "--distance", "15", "--region", "cena", "--out", "eq"}),
              0)
        << err_;
    const auto a = rows(read("lin/uniform/source-M6-R15-cena/transfer.csv"));
    const auto b = rows(read("eq/uniform/source-M6-R15-cena/transfer.csv"));
    ASSERT_EQ(a.size(), b.size());
    double worst = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        worst = std::max(worst, std::fabs(std::stod(a[k][1]) / std::stod(b[k][1]) - 1));
    }
    EXPECT_LT(worst, 1e-6); // float layer table against the site's own values
    EXPECT_TRUE(fs::exists(dir_ / "eq/uniform/source-M6-R15-cena/profile.csv"));
    // The source's input PSA as a target: found again within 2 %.
    const auto p = rows(read("lin/uniform/source-M6-R15-cena/psa.csv"));
    std::ostringstream target;
    target << "period (s),PSA (g)\n";
    for (const auto& r : p) {
        if (std::stod(r[0]) >= 0.01) {
            target << r[0] << "," << r[1] << "\n";
        }
    }
    write("target.csv", target.str());
    const std::string duration = [&] {
        std::ostringstream d;
        // The source's duration: 1/fc + the CENA path (0.16 s/km beyond 10 km).
        const double m0 = std::pow(10.0, 1.5 * (6 + 10.7));
        d.precision(17);
        d << 1 / (4.906e6 * 3.5 * std::cbrt(150 / m0)) + 0.16 * 5;
        return d.str();
    }();
    ASSERT_EQ(
        run({"--soil", "uniform.toml", "--input", "outcrop", "--target", "target.csv", "--duration",
             duration, "--magnitude", "6", "--distance", "15", "--region", "cena", "--out", "t"}),
        0)
        << err_;
    const auto q = rows(read("t/uniform/target/psa.csv"));
    double sum = 0;
    int n = 0;
    for (std::size_t i = 0; i < q.size(); ++i) {
        if (std::stod(q[i][0]) >= 0.01) {
            sum += std::pow(std::stod(q[i][1]) / std::stod(p[i][1]) - 1, 2);
            ++n;
        }
    }
    EXPECT_LT(std::sqrt(sum / n), 0.02);
    EXPECT_NE(read("t/summary.csv").find("target misfit"), std::string::npos);
}

TEST_F(batch_rvt, records_and_rvt_inputs_together) {
    ASSERT_EQ(run({"--soil", "uniform.toml", "--input", "outcrop", "r.csv", "--fas", "fas.csv",
                   "--duration", "5", "--peak-factor", "clh", "--out", "m"}),
              0)
        << err_;
    const auto s = rows(read("m/summary.csv"));
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].back(), "record");
    EXPECT_EQ(s[1].back(), "rvt");
    EXPECT_NE(read("m/run.json").find("\"peak factor\": \"clh\""), std::string::npos);
}

TEST_F(batch_rvt, usage_errors) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--duration", "5", "--fas", "fas.csv"}, "--duration goes after --fas, --target or"},
        {{"--fas", "fas.csv"}, "--fas fas.csv: needs --duration"},
        {{"--fas", "fas.csv", "--duration", "5", "--duration", "6"}, "given twice"},
        {{"--fas", "fas.csv", "--duration", "x"}, "--duration: \"x\" is not valid"},
        {{"--source", "--magnitude", "6"}, "needs --magnitude, --distance and --region"},
        {{"--source", "--magnitude", "12", "--distance", "5", "--region", "wna"},
         "--magnitude 12 is not from 2 to 9.5"},
        {{"--source", "--magnitude", "6", "--distance", "5", "--region", "east"},
         "--region: \"east\" is not valid"},
        {{"--fas", "fas.csv", "--duration", "5", "--peak-factor", "bt15"},
         "--peak-factor bt15 needs --magnitude, --distance and --region"},
        {{"r.csv", "--peak-factor", "clh"}, "--peak-factor goes with"},
        {{"--fas", "fas.csv", "--duration", "5", "--kappa", "0.03"}, "go with --source"},
        {{"--fas", "fas.csv", "--duration", "-1"}, "--duration -1 is not in (0, 10000] s"},
        {{"--fas", "fas.csv", "--duration", "5", "--method", "eql", "--depths", "3"},
         "--depths: motions at depth are time histories"},
        {{"--fas"}, "--fas: no value"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--soil",  "uniform.toml", "--input",
                                         "outcrop", "--out",        "u"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(run(args), 2) << c.message;
        EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
        EXPECT_FALSE(fs::exists(dir_ / "u")) << c.message;
    }
    // A spectrum file that cannot be used fails its run, named with its line.
    write("bad.csv", "f,a\n1,0.1\n2,-0.1\n");
    EXPECT_EQ(run({"--soil", "uniform.toml", "--input", "outcrop", "--fas", "bad.csv", "--duration",
                   "5", "--out", "b"}),
              1);
    EXPECT_NE(read("b/summary.csv").find("bad.csv:3:"), std::string::npos);
    // A folder given as the spectrum, and a name "..": a failed row each, nothing outside "f".
    fs::create_directory(dir_ / "spectra");
    EXPECT_EQ(run({"--soil", "uniform.toml", "--input", "outcrop", "--fas", "spectra", "--duration",
                   "5", "--fas", "..", "--duration", "5", "--out", "f"}),
              1);
    const std::string summary = read("f/summary.csv");
    EXPECT_NE(summary.find("spectra: a folder, not a regular file or a pipe"), std::string::npos)
        << summary;
    EXPECT_EQ(summary.find(",ok,"), std::string::npos) << summary;
    for (const auto& e : fs::directory_iterator(dir_ / "f")) {
        EXPECT_TRUE(fs::is_directory(e.path()) || e.path().filename() == "summary.csv" ||
                    e.path().filename() == "run.json" || e.path().filename() == ".sitewave-lock")
            << e.path();
    }
}

} // namespace
