// The batch tool's response spectra and histories against what they must be: a profile with no
// soil gives back the input (every ratio 1), psa.csv's columns and ratios, a late pulse that must
// not come round to the start of the record, the record's units, periods as given and RotD.

#include "support/batch_run.hpp"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
const fs::path examples = SITEWAVE_EXAMPLES;

// A CSV file of the batch: its titles and its rows of numbers.
struct table {
    std::vector<std::string> head;
    std::vector<std::vector<double>> rows;
    std::vector<std::vector<std::string>> cells;

    std::size_t column(const std::string& name) const {
        for (std::size_t k = 0; k < head.size(); ++k) {
            if (head[k] == name) {
                return k;
            }
        }
        ADD_FAILURE() << "no column " << name;
        return 0;
    }
    std::vector<double> values(const std::string& name) const {
        const std::size_t k = column(name);
        std::vector<double> v;
        for (const auto& r : rows) {
            v.push_back(r[k]);
        }
        return v;
    }
};

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, ',');) {
        out.push_back(cell);
    }
    return out;
}

table parse(const std::string& text) {
    table t;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    t.head = split(line);
    while (std::getline(in, line)) {
        const auto cells = split(line);
        std::vector<double> row;
        for (const auto& c : cells) {
            row.push_back(std::strtod(c.c_str(), nullptr));
        }
        t.rows.push_back(row);
        t.cells.push_back(cells);
    }
    return t;
}

double peak_of(const std::vector<double>& v, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    double m = 0.0;
    for (std::size_t i = from; i < std::min(to, v.size()); ++i) {
        m = std::max(m, std::abs(v[i]));
    }
    return m;
}

// A soil file of the half-space alone: the surface motion of an outcrop record is the record.
const char* const half_space = "Half-space only\n0\n1\nrows\n1\n"
                               "No,Density,Vp,Qp,Fp,Vs,Qs,Fs,Thickness\n"
                               "1,2.4,3200,100,0,1500,50,0,0\n";

// A record of n samples at dt whose components differ, starting away from zero, each of mean
// zero (the run removes the mean).
std::string mixed_record(int n, double dt, double scale = 1.0) {
    std::vector<double> c[3];
    double mean[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < n; ++i) {
        const double t = i * dt;
        const double env = t / 4.0 * std::exp(1.0 - t / 4.0);
        const double fade = std::cos(0.5 * t) * std::exp(-t);
        c[0].push_back(0.1 * fade + env * (0.3 * std::sin(7.0 * t) + 0.1 * std::sin(31.0 * t)));
        c[1].push_back(-0.05 * fade +
                       env * (0.2 * std::sin(4.1 * t + 1.0) + 0.1 * std::sin(19.0 * t)));
        c[2].push_back(0.02 * fade + env * 0.15 * std::sin(13.0 * t + 2.0));
        for (int k = 0; k < 3; ++k) {
            mean[k] += c[k].back() / n;
        }
    }
    std::string r = "time,a,b,c\n";
    char line[160];
    for (int i = 0; i < n; ++i) {
        const auto at = [&](int k) {
            return (c[k][static_cast<std::size_t>(i)] - mean[k]) * scale;
        };
        std::snprintf(line, sizeof line, "%.4f,%.9g,%.9g,%.9g\n", i * dt, at(0), at(1), at(2));
        r += line;
    }
    return r;
}

// A record of n zero samples but one at sample `at`.
std::string pulse_record(int n, double dt, int at) {
    std::string r = "t,H1,H2,V\n";
    char line[96];
    for (int i = 0; i < n; ++i) {
        const double v = i == at ? 1.0 : 0.0;
        std::snprintf(line, sizeof line, "%.4f,%g,%g,%g\n", i * dt, v, 0.5 * v, 0.3 * v);
        r += line;
    }
    return r;
}

class batch_spectra : public batch_run {
  protected:
    table file(const std::string& path) { return parse(read(path)); }
};

// With no soil the surface motion of an outcrop record is the record: every ratio of psa.csv is
// 1 within 1e-3 at every period, for H1, H2, V and RotD, at every damping; the input and surface
// spectra agree.
TEST_F(batch_spectra, half_space_gives_every_ratio_one) {
    write("half.csv", half_space);
    write("mixed.csv", mixed_record(3000, 0.01));
    const std::string elcentro = (examples / "elcentro.csv").string();
    ASSERT_EQ(run({"--soil", "half.csv", "--input", "outcrop", "--spectra", "--rotd", "--damping",
                   "0.02,0.05", "--out", "h", elcentro, "mixed.csv"}),
              0)
        << err_;
    for (const char* rec : {"elcentro", "mixed"}) {
        const table psa = file(std::string("h/half/") + rec + "/psa.csv");
        ASSERT_EQ(psa.head.size(), 1u + 2 * 15) << rec;
        std::size_t ratios = 0;
        for (std::size_t k = 1; k < psa.head.size(); ++k) {
            const std::string& name = psa.head[k];
            if (name.rfind("ratio ", 0) == 0) {
                ++ratios;
                for (std::size_t i = 0; i < psa.rows.size(); ++i) {
                    EXPECT_NEAR(psa.rows[i][k], 1.0, 1e-3)
                        << rec << " " << name << " T " << psa.rows[i][0];
                }
            } else if (name.rfind("input ", 0) == 0) {
                const auto in = psa.values(name);
                const auto out = psa.values("surface " + name.substr(6));
                for (std::size_t i = 0; i < in.size(); ++i) {
                    EXPECT_NEAR(out[i], in[i], 1e-3 * in[i]) << rec << " " << name;
                }
            }
        }
        EXPECT_EQ(ratios, 2u * 5) << rec;
    }
}

// The columns of psa.csv, in order, and each ratio the surface PSA over the input PSA of its own
// component (the second horizontal's of H2, not of V).
TEST_F(batch_spectra, psa_columns_and_ratios) {
    write("mixed.csv", mixed_record(2000, 0.01));
    const std::string soil = (examples / "soil_dat.csv").string();
    ASSERT_EQ(run({"--soil", soil, "--spectra", "--rotd", "--damping", "0.02,0.05", "--out", "p",
                   "mixed.csv"}),
              0)
        << err_;
    const table psa = file("p/soil_dat/mixed/psa.csv");
    std::vector<std::string> want{"period (s)"};
    for (const char* z : {"2%", "5%"}) {
        for (const char* side : {"input", "surface", "ratio"}) {
            for (const char* c : {"H1", "H2", "V"}) {
                want.push_back(std::string(side) + " " + c + " " + z);
            }
        }
        for (const char* side : {"input", "surface", "ratio"}) {
            for (const char* c : {"RotD50", "RotD100"}) {
                want.push_back(std::string(side) + " " + c + " " + z);
            }
        }
    }
    EXPECT_EQ(psa.head, want);
    ASSERT_EQ(psa.rows.size(), 101u);
    for (const std::string& name : want) {
        if (name.rfind("ratio ", 0) != 0) {
            continue;
        }
        const std::string part = name.substr(6);
        const auto r = psa.values(name);
        const auto in = psa.values("input " + part);
        const auto out = psa.values("surface " + part);
        for (std::size_t i = 0; i < r.size(); ++i) {
            EXPECT_NEAR(r[i], out[i] / in[i], 1e-12 * r[i]) << name << " row " << i;
        }
        // The components differ, so the ratios do.
        if (part.rfind("H2", 0) == 0) {
            EXPECT_NE(r, psa.values("ratio V" + part.substr(2))) << name;
        }
    }
}

// surface.csv holds the surface motion itself, not less its first value: with no soil it is
// the record (here starting at 0.1 g), and so are the summary's peaks.
TEST_F(batch_spectra, surface_history_is_not_shifted) {
    write("half.csv", half_space);
    write("mixed.csv", mixed_record(3000, 0.01));
    ASSERT_EQ(run({"--soil", "half.csv", "--input", "outcrop", "--out", "s", "mixed.csv"}), 0)
        << err_;
    const table in = file("s/half/mixed/input.csv");
    const table out = file("s/half/mixed/surface.csv");
    ASSERT_EQ(in.rows.size(), 3000u);
    ASSERT_EQ(out.rows.size(), 3000u);
    EXPECT_EQ(out.head, (std::vector<std::string>{"time (s)", "surface H1 (g)", "surface H2 (g)",
                                                  "surface V (g)"}));
    EXPECT_EQ(in.head, (std::vector<std::string>{"time (s)", "input H1 (g)", "input H2 (g)",
                                                 "input V (g)"}));
    for (std::size_t k = 1; k < 4; ++k) {
        std::vector<double> a, b;
        for (std::size_t i = 0; i < 3000; ++i) {
            a.push_back(in.rows[i][k]);
            b.push_back(out.rows[i][k]);
        }
        const double peak = peak_of(a);
        for (std::size_t i = 0; i < a.size(); ++i) {
            ASSERT_NEAR(b[i], a[i], 1e-4 * peak) << "column " << k << " sample " << i;
        }
    }
    const table summary = file("s/summary.csv");
    for (const char* c : {"H1", "H2", "V"}) {
        const double in_peak = summary.rows[0][summary.column(std::string("peak input ") + c)];
        const double out_peak = summary.rows[0][summary.column(std::string("peak surface ") + c)];
        EXPECT_NEAR(out_peak, in_peak, 1e-4 * in_peak) << c;
    }
}

// A pulse late in a record: with the default padding nothing of it comes round to the start of
// the record (less than 1e-3 of the peak in the first 20 s), and the record's surface motion is
// that of a far longer padding within 1e-3 of the peak. With --pad none (the dialogue's grid)
// the response wraps round to the start.
TEST_F(batch_spectra, late_pulse_does_not_wrap_around) {
    write("pulse.csv", pulse_record(4096, 0.01, 4030));
    const std::string soil = (examples / "profiles" / "lower.csv").string();
    for (const char* input : {"outcrop", "within"}) {
        const auto surface = [&](const std::string& out, const std::vector<std::string>& pad) {
            std::vector<std::string> args{"--soil", soil, "--input", input,
                                          "--out",  out,  "--force"};
            args.insert(args.end(), pad.begin(), pad.end());
            args.push_back("pulse.csv");
            EXPECT_EQ(run(args), 0) << err_;
            return file(out + "/lower/pulse/surface.csv");
        };
        const table by_default = surface("d", {});
        const table none = surface("n", {"--pad", "none"});
        const table longer = surface("l", {"--pad", "600"});
        EXPECT_EQ(file("d/summary.csv").cells[0][10], "8192") << input;
        EXPECT_EQ(file("n/summary.csv").cells[0][10], "4096") << input;
        EXPECT_EQ(file("l/summary.csv").cells[0][10], "65536") << input;
        for (std::size_t k = 1; k < 4; ++k) {
            std::vector<double> d, n, l;
            for (std::size_t i = 0; i < 4096; ++i) {
                d.push_back(by_default.rows[i][k]);
                n.push_back(none.rows[i][k]);
                l.push_back(longer.rows[i][k]);
            }
            const double peak = peak_of(l);
            EXPECT_LT(peak_of(d, 0, 2000), 1e-3 * peak) << input << " column " << k;
            EXPECT_GT(peak_of(n, 0, 100), 1e-2 * peak) << input << " column " << k;
            double diff = 0.0;
            for (std::size_t i = 0; i < d.size(); ++i) {
                diff = std::max(diff, std::abs(d[i] - l[i]));
            }
            EXPECT_LT(diff, 1e-3 * peak) << input << " column " << k;
        }
    }
}

// --dialogue-files keeps the dialogue's grid for the whole run; wave1.csv holds the histories
// less their first value, surface.csv the histories.
TEST_F(batch_spectra, dialogue_files_keep_the_dialogue_grid) {
    write("pulse.csv", pulse_record(4096, 0.01, 4030));
    const std::string soil = (examples / "profiles" / "lower.csv").string();
    ASSERT_EQ(run({"--soil", soil, "--dialogue-files", "--out", "w", "pulse.csv"}), 0) << err_;
    EXPECT_EQ(file("w/summary.csv").cells[0][10], "4096");
    const table surface = file("w/lower/pulse/surface.csv");
    std::istringstream wave(read("w/lower/pulse/wave1.csv"));
    std::string line;
    std::getline(wave, line);
    for (std::size_t i = 0; i < 4096 && std::getline(wave, line); ++i) {
        double t = 0.0, h1 = 0.0, h2 = 0.0;
        ASSERT_EQ(std::sscanf(line.c_str(), " %lf , %lf , %lf", &t, &h1, &h2), 3) << line;
        // Four digits in wave1.csv.
        const double want1 = static_cast<double>(static_cast<float>(surface.rows[i][1]) -
                                                 static_cast<float>(surface.rows[0][1]));
        const double want2 = static_cast<double>(static_cast<float>(surface.rows[i][2]) -
                                                 static_cast<float>(surface.rows[0][2]));
        ASSERT_NEAR(h1, want1, 1e-30 + 6e-4 * std::abs(want1)) << i;
        ASSERT_NEAR(h2, want2, 1e-30 + 6e-4 * std::abs(want2)) << i;
    }
    EXPECT_EQ(run({"--soil", soil, "--dialogue-files", "--pad", "auto", "--out", "x", "pulse.csv"}),
              2);
    EXPECT_NE(err_.find("--pad"), std::string::npos) << err_;
}

// A record in another unit gives the same results in g (m/s after integration, m/s3 after
// differentiation): the record in g, in m/s2, cm/s2 and ft/s2.
TEST_F(batch_spectra, units_of_the_record) {
    const double g = 9.80665;
    const struct {
        const char* unit;
        double per_g; // the record's numbers for 1 g
    } units[] = {{"g", 1.0}, {"m/s2", g}, {"cm/s2", 100.0 * g}, {"ft/s2", g / 0.3048}};
    const std::string soil = (examples / "soil_dat.csv").string();
    for (const auto& u : units) {
        const std::string name = std::string("r") + std::to_string(&u - units) + ".csv";
        write(name, mixed_record(1500, 0.01, u.per_g));
        for (const char* process : {"none", "integrate", "differentiate"}) {
            const std::string out = std::string("u-") + process + "-" + name.substr(0, 2);
            std::vector<std::string> args{"--soil", soil, "--units",   u.unit,
                                          "--out",  out,  "--process", process};
            if (std::string(process) == "none") {
                args.push_back("--spectra");
            }
            args.push_back(name);
            ASSERT_EQ(run(args), 0) << u.unit << " " << process << ": " << err_;
        }
    }
    for (const char* process : {"none", "integrate", "differentiate"}) {
        const std::string unit = std::string(process) == "none"        ? "g"
                                 : std::string(process) == "integrate" ? "m/s"
                                                                       : "m/s3";
        const std::string spectral = unit == "g" ? "g\u00b7s" : unit == "m/s" ? "m" : "m/s2";
        const double factor = unit == "g" ? 1.0 : g; // from the g record's own numbers
        const table base = file(std::string("u-") + process + "-r0/soil_dat/r0/surface.csv");
        EXPECT_EQ(base.head[1], "surface H1 (" + unit + ")");
        const table spectra = file(std::string("u-") + process + "-r0/soil_dat/r0/spectra.csv");
        EXPECT_EQ(spectra.head[1], "input H1 (g\u00b7s)");
        EXPECT_EQ(spectra.head[4], "surface H1 (" + spectral + ")");
        for (const char* r : {"r1", "r2", "r3"}) {
            const table other =
                file(std::string("u-") + process + "-" + r + "/soil_dat/" + r + "/surface.csv");
            ASSERT_EQ(other.head, base.head) << r;
            ASSERT_EQ(other.rows.size(), base.rows.size()) << r;
            for (std::size_t k = 1; k < 4; ++k) {
                double peak = 0.0;
                for (const auto& row : base.rows) {
                    peak = std::max(peak, std::abs(row[k]));
                }
                for (std::size_t i = 0; i < base.rows.size(); ++i) {
                    ASSERT_NEAR(other.rows[i][k], base.rows[i][k], 1e-5 * peak)
                        << process << " " << r << " column " << k << " row " << i;
                }
            }
        }
        // The g record's values are the record's computation scaled: 1 for accelerations.
        if (factor != 1.0) {
            EXPECT_EQ(run({"--soil", (examples / "soil_dat.csv").string(), "--out",
                           std::string("plain-") + process, "--process", process, "--units", "m/s2",
                           "r0.csv"}),
                      0);
            const table plain = file(std::string("plain-") + process + "/soil_dat/r0/surface.csv");
            for (std::size_t i = 0; i < base.rows.size(); i += 37) {
                EXPECT_NEAR(base.rows[i][1], plain.rows[i][1] * factor,
                            1e-6 * std::abs(base.rows[i][1]) + 1e-12)
                    << process << " row " << i;
            }
        }
    }
    // PSA in g whatever the record's unit.
    const table psa0 = file("u-none-r0/soil_dat/r0/psa.csv");
    const table psa2 = file("u-none-r2/soil_dat/r2/psa.csv");
    for (std::size_t i = 0; i < psa0.rows.size(); ++i) {
        for (std::size_t k = 1; k < psa0.head.size(); ++k) {
            ASSERT_NEAR(psa2.rows[i][k], psa0.rows[i][k], 1e-5 * std::abs(psa0.rows[i][k]))
                << psa0.head[k] << " row " << i;
        }
    }
}

// Periods as the user gives them: list:T1,T2,... and @FILE (blank lines and # lines skipped),
// in the order given, after the row of period 0; their values are those of the same periods
// in a MIN,MAX,N run. Bad lists are usage errors naming --periods.
TEST_F(batch_spectra, periods_as_given) {
    const std::string soil = (examples / "soil_dat.csv").string();
    write("mixed.csv", mixed_record(1500, 0.01));
    write("periods.txt", "# periods of the code\n\n0.01\r\n  2.5 \n# long\n10\n");
    ASSERT_EQ(
        run({"--soil", soil, "--spectra", "--periods", "0.01,10,4", "--out", "grid", "mixed.csv"}),
        0)
        << err_;
    const table grid = file("grid/soil_dat/mixed/psa.csv");
    const struct {
        const char* periods;
        std::vector<const char*> rows;
    } cases[] = {
        {"list:0.01,10", {"0", "0.01", "10"}},
        {"list:10,0.1,0.01", {"0", "10", "0.1", "0.01"}},
        {"@periods.txt", {"0", "0.01", "2.5", "10"}},
        {"list:0.5", {"0", "0.5"}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(run({"--soil", soil, "--spectra", "--periods", c.periods, "--out", "g", "--force",
                       "mixed.csv"}),
                  0)
            << c.periods << ": " << err_;
        const table psa = file("g/soil_dat/mixed/psa.csv");
        ASSERT_EQ(psa.rows.size(), c.rows.size()) << c.periods;
        for (std::size_t i = 0; i < c.rows.size(); ++i) {
            EXPECT_EQ(psa.cells[i][0], c.rows[i]) << c.periods;
            for (std::size_t j = 0; j < grid.rows.size(); ++j) {
                if (grid.cells[j][0] == c.rows[i]) {
                    EXPECT_EQ(psa.cells[i], grid.cells[j]) << c.periods << " T " << c.rows[i];
                }
            }
        }
    }
    std::string many;
    for (int i = 0; i < 10001; ++i) {
        many += "1\n";
    }
    write("many.txt", many);
    write("empty.txt", "# none\n\n");
    write("bad.txt", "0.1\n0.2 s\n");
    for (const char* bad :
         {"list:0", "list:1e5", "list:abc", "list:", "list:0.1,,0.2", "list:nan", "list:inf",
          "@missing.txt", "@many.txt", "@empty.txt", "@bad.txt", "@/dev/null/x"}) {
        EXPECT_EQ(run({"--soil", soil, "--spectra", "--periods", bad, "--out", "bad", "mixed.csv"}),
                  2)
            << bad;
        EXPECT_EQ(err_.rfind("sitewave-batch: --periods: ", 0), 0u) << bad << ": " << err_;
        EXPECT_FALSE(fs::exists(dir_ / "bad")) << bad;
    }
    // The 10 000 periods allowed.
    write("most.txt", many.substr(2));
    EXPECT_EQ(
        run({"--soil", soil, "--spectra", "--periods", "@most.txt", "--out", "most", "mixed.csv"}),
        0)
        << err_;
}

// RotD of two identical horizontals: RotD100 = sqrt(2) PSA, RotD50 = PSA within the 1 degree
// step; with H2 = 0, RotD100 = PSA of H1. For the input and the surface.
TEST_F(batch_spectra, rotd_closed_forms) {
    std::string same = "t,a,b,c\n", alone = "t,a,b,c\n";
    char line[128];
    for (int i = 0; i < 2000; ++i) {
        const double t = i * 0.01;
        const double a = t / 3.0 * std::exp(1.0 - t / 3.0) *
                         (std::sin(9.0 * t) + 0.4 * std::sin(27.0 * t + 1.0));
        std::snprintf(line, sizeof line, "%.2f,%.8g,%.8g,%.8g\n", t, a, a, 0.5 * a);
        same += line;
        std::snprintf(line, sizeof line, "%.2f,%.8g,0,%.8g\n", t, a, 0.5 * a);
        alone += line;
    }
    write("same.csv", same);
    write("alone.csv", alone);
    const std::string soil = (examples / "soil_dat.csv").string();
    ASSERT_EQ(run({"--soil", soil, "--spectra", "--rotd", "--out", "r", "same.csv", "alone.csv"}),
              0)
        << err_;
    const double step = std::sin(3.14159265358979 / 180.0);
    for (const char* side : {"input", "surface"}) {
        const std::string s = side;
        const table a = file("r/soil_dat/same/psa.csv");
        const auto h1 = a.values(s + " H1 5%");
        const auto r50 = a.values(s + " RotD50 5%");
        const auto r100 = a.values(s + " RotD100 5%");
        for (std::size_t i = 0; i < h1.size(); ++i) {
            EXPECT_NEAR(r100[i], std::sqrt(2.0) * h1[i], 1e-9 * h1[i]) << side << " row " << i;
            EXPECT_NEAR(r50[i], h1[i], std::sqrt(2.0) * step * h1[i]) << side << " row " << i;
        }
        const table b = file("r/soil_dat/alone/psa.csv");
        const std::size_t k1 = b.column(s + " H1 5%");
        const std::size_t k100 = b.column(s + " RotD100 5%");
        for (std::size_t i = 0; i < b.rows.size(); ++i) {
            EXPECT_EQ(b.cells[i][k100], b.cells[i][k1]) << side << " row " << i;
        }
    }
}

// --rotd goes with --spectra; --pad takes auto, none or a time from 0 to 1e6 s.
TEST_F(batch_spectra, option_errors) {
    write("r.csv", "t,a,b,c\n0,1,2,3\n0.01,2,3,1\n0.02,-1,0,2\n0.03,0,1,1\n");
    const std::string soil = (examples / "soil_dat.csv").string();
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--rotd"}, "sitewave-batch: --rotd goes with --spectra\n"},
        {{"--pad", "-1"}, "sitewave-batch: --pad: \"-1\" is not valid; "},
        {{"--pad", "1e7"}, "sitewave-batch: --pad: \"1e7\" is not valid; "},
        {{"--pad", "nan"}, "sitewave-batch: --pad: \"nan\" is not valid; "},
        {{"--pad", "long"}, "sitewave-batch: --pad: \"long\" is not valid; "},
        {{"--dialogue-files", "--pad", "60"}, "sitewave-batch: --pad"},
        {{"--units", "mg"}, "--units"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--soil", soil, "--out", "u"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("r.csv");
        EXPECT_EQ(run(args), 2) << c.says;
        EXPECT_NE(err_.find(c.says), std::string::npos) << err_;
        EXPECT_FALSE(fs::exists(dir_ / "u"));
    }
    for (const char* pad : {"0", "1e6", "none", "auto", "12.5"}) {
        EXPECT_EQ(run({"--soil", soil, "--pad", pad, "--out", "ok", "--force", "r.csv"}), 0)
            << pad << ": " << err_;
        // 1e6 s of padding does not fit in 2^20 samples: the row says what was used.
        const std::string summary = read("ok/summary.csv");
        const bool cut = std::string(pad) == "1e6";
        EXPECT_EQ(summary.find(",ok,\"padded to 2^20 samples, fewer than the record and its "
                               "padding (4 + 1000000") != std::string::npos,
                  cut)
            << summary;
        EXPECT_EQ(summary.find(",1048576,") != std::string::npos, cut) << summary;
    }
}

} // namespace
