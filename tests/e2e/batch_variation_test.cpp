// Suites with realizations: the same realizations and results whatever --jobs and however the
// records are sharded and merged; the streaming statistics against statistics computed here
// from every run's psa.csv (--keep all); one realization reproduced alone; the --keep modes;
// refusals of the options and of merges of incomplete or foreign shards.

#include "support/batch_run.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> cells;
    std::istringstream in(line);
    for (std::string c; std::getline(in, c, ',');) {
        cells.push_back(c);
    }
    if (!line.empty() && line.back() == ',') {
        cells.emplace_back();
    }
    return cells;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        out.push_back(l);
    }
    return out;
}

// numpy.percentile(x, p) with the "linear" method, written out independently.
double numpy_linear(std::vector<double> x, double p) {
    std::sort(x.begin(), x.end());
    const double h = (static_cast<double>(x.size()) - 1.0) * p / 100.0;
    const double lo = std::floor(h);
    const auto i = static_cast<std::size_t>(lo);
    return i + 1 < x.size() ? x[i] + (h - lo) * (x[i + 1] - x[i]) : x[i];
}

const char* site_text = R"(title = "two clays"
water_table = 2.0

[[soil]]
name = "upper"
unit_weight = 17.5
model = "darendeli"
pi = 20.0

[[soil]]
name = "lower"
unit_weight = 19.0
model = "darendeli"
pi = 10.0

[[layer]]
soil = "upper"
thickness = 8.0
vs = 180.0

[[layer]]
soil = "lower"
thickness = 14.0
vs = 320.0

[bedrock]
vs = 900.0
unit_weight = 22.0
damping = 0.01

[variation]
realizations = 12
seed = 42
velocity = "toro"
site_class = "USGS C"
layering = "toro"
curves = "darendeli"
bedrock_depth = { distribution = "uniform", min = 18.0, max = 26.0 }
)";

class batch_variation : public batch_run {
  protected:
    void SetUp() override {
        batch_run::SetUp();
        for (int k = 0; k < 3; ++k) {
            std::ostringstream r;
            r << "t,a,b,c\n";
            for (int j = 0; j < 800; ++j) {
                const double t = 0.01 * j;
                const double taper = std::sin(M_PI * j / 799.0);
                r << t << "," << (0.1 + 0.05 * k) * taper * std::sin(2 * M_PI * (1.5 + k) * t)
                  << "," << 0.1 * taper * std::sin(2 * M_PI * 4.1 * t + 0.3 * k) << ","
                  << 0.05 * taper * std::sin(2 * M_PI * 6 * t) << "\n";
            }
            std::string name = "r";
            name += std::to_string(k);
            name += ".csv";
            write(name, r.str());
        }
        write("site.toml", site_text);
    }

    std::vector<std::string> suite(const std::string& out, std::vector<std::string> more = {}) {
        std::vector<std::string> a{"--soil", "site.toml", "--input", "outcrop", "--spectra",
                                   "r0.csv", "r1.csv",    "r2.csv",  "--out",   out};
        a.insert(a.end(), more.begin(), more.end());
        return a;
    }

    std::string text(const std::string& out, const std::string& file) const {
        return read_file((dir_ / out / file).string());
    }
};

TEST_F(batch_variation, same_results_whatever_jobs_and_shards) {
    ASSERT_EQ(run(suite("one", {"--jobs", "1"})), 0) << err_;
    ASSERT_EQ(run(suite("two", {"--jobs", "2"})), 0) << err_;
    for (int k = 0; k < 4; ++k) {
        std::string shard = std::to_string(k);
        shard += "/4";
        ASSERT_EQ(run(suite("sharded", {"--jobs", "1", "--shard", shard})), 0) << err_;
    }
    ASSERT_EQ(run({"merge", "sharded"}), 0) << err_;
    // 12 realizations x 3 records; with --keep statistics (the default) no run folder and a
    // summary of the failed runs only.
    EXPECT_EQ(lines(text("one", "summary.csv")).size(), 1u);
    EXPECT_FALSE(fs::exists(dir_ / "one" / "site-r00"));
    for (const char* f :
         {"realizations.csv", "summary.csv", "statistics.csv", "profile-statistics.csv"}) {
        const std::string a = text("one", f);
        EXPECT_FALSE(a.empty()) << f;
        EXPECT_EQ(a, text("two", f)) << f;
        EXPECT_EQ(a, text("sharded", f)) << f;
    }
    // The 12 realizations each end on the rock at its depth, from 18 to 26 m.
    std::map<std::string, int> seen;
    for (const auto& l : lines(text("one", "realizations.csv"))) {
        const auto c = split(l);
        if (c.size() > 6 && c[6] == "bedrock") {
            ++seen[c[1]];
            const double depth = std::stod(c[3]);
            EXPECT_GE(depth, 18.0);
            EXPECT_LE(depth, 26.0);
        }
    }
    EXPECT_EQ(seen.size(), 12u);
}

// Streaming statistics against figures computed here from the psa.csv files of --keep all.
TEST_F(batch_variation, streaming_statistics_equal_those_of_the_run_files) {
    ASSERT_EQ(run(suite("all", {"--keep", "all", "--jobs", "2"})), 0) << err_;
    ASSERT_EQ(run(suite("stats", {"--keep", "statistics", "--jobs", "2"})), 0) << err_;
    EXPECT_EQ(text("all", "statistics.csv"), text("stats", "statistics.csv"));
    // The values of "surface H1 5%" per period, over every run's psa.csv.
    std::map<double, std::vector<double>> values;
    int runs = 0;
    for (const auto& e : fs::directory_iterator(dir_ / "all")) {
        if (!e.is_directory()) {
            continue;
        }
        for (const auto& r : fs::directory_iterator(e.path())) {
            const auto psa = lines(read_file((r.path() / "psa.csv").string()));
            ASSERT_FALSE(psa.empty()) << r.path();
            const auto head = split(psa[0]);
            const auto col = std::find(head.begin(), head.end(), "surface H1 5%") - head.begin();
            for (std::size_t i = 1; i < psa.size(); ++i) {
                const auto c = split(psa[i]);
                values[std::stod(c[0])].push_back(std::stod(c[static_cast<std::size_t>(col)]));
            }
            ++runs;
        }
    }
    EXPECT_EQ(runs, 36);
    int checked = 0;
    for (const auto& l : lines(text("stats", "statistics.csv"))) {
        const auto c = split(l);
        if (c.size() < 14 || c[0] != "all" || c[1] != "surface psa" || c[2] != "H1") {
            continue;
        }
        const auto& x = values[std::stod(c[4])];
        ASSERT_EQ(x.size(), 36u);
        EXPECT_EQ(std::stoul(c[5]), 36u);
        double sum = 0, lsum = 0;
        for (const double v : x) {
            sum += v;
            lsum += std::log(v);
        }
        double m2 = 0;
        for (const double v : x) {
            m2 += (std::log(v) - lsum / 36) * (std::log(v) - lsum / 36);
        }
        const double tol = 1e-12;
        EXPECT_NEAR(std::stod(c[6]), sum / 36, tol * sum / 36) << l;
        EXPECT_NEAR(std::stod(c[8]), std::sqrt(m2 / 35), 1e-9) << l;
        EXPECT_NEAR(std::stod(c[10]), numpy_linear(x, 50), tol * sum) << l;
        EXPECT_NEAR(std::stod(c[11]), numpy_linear(x, 16), tol * sum) << l;
        EXPECT_NEAR(std::stod(c[12]), numpy_linear(x, 84), tol * sum) << l;
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(values.size()));
}

TEST_F(batch_variation, keep_modes_and_one_realization_alone) {
    ASSERT_EQ(run(suite("all", {"--keep", "all"})), 0) << err_;
    ASSERT_EQ(run(suite("summary", {"--keep", "summary"})), 0) << err_;
    ASSERT_EQ(run(suite("seven", {"--keep", "summary", "--realization", "7"})), 0) << err_;
    // The rows of --keep summary are those of the run folders' batch, without the folders.
    EXPECT_EQ(text("all", "summary.csv"), text("summary", "summary.csv"));
    EXPECT_TRUE(fs::exists(dir_ / "all" / "site-r07" / "r1" / "psa.csv"));
    EXPECT_FALSE(fs::exists(dir_ / "summary" / "site-r07"));
    const auto all = lines(text("summary", "summary.csv"));
    const auto seven = lines(text("seven", "summary.csv"));
    ASSERT_EQ(seven.size(), 4u);
    for (std::size_t r = 0; r < 3; ++r) {
        EXPECT_EQ(seven[1 + r], all[1 + 7 * 3 + r]);
    }
    std::string rows7;
    for (const auto& l : lines(text("all", "realizations.csv"))) {
        if (l.rfind("site,7,", 0) == 0) {
            rows7 += l + "\n";
        }
    }
    std::string expected = "profile,realization,layer,depth (m),thickness (m),vs (m/s),soil,"
                           "modulus deviate,damping deviate\n";
    expected += rows7;
    EXPECT_EQ(text("seven", "realizations.csv"), expected);
}

TEST_F(batch_variation, refusals) {
    struct row {
        std::vector<std::string> args;
        std::string err;
    };
    const row rows[] = {
        {suite("a", {"--shard", "4/4"}),
         "sitewave-batch: --shard: \"4/4\" is not valid; K/N, shard K (from 0) of N shards, N "
         "from 1 to 100000, e.g. 0/4\n"},
        {suite("a", {"--shard", "1/0"}), "sitewave-batch: --shard: \"1/0\" is not valid"},
        {suite("a", {"--shard", "x"}), "sitewave-batch: --shard: \"x\" is not valid"},
        {suite("a", {"--realization", "-1"}), "sitewave-batch: --realization: \"-1\" is not valid"},
        {suite("a", {"--realization", "12"}),
         "sitewave-batch: --realization: 12 is not from 0 to 11 (site.toml)\n"},
        {suite("a", {"--keep", "all", "--shard", "0/2"}),
         "sitewave-batch: --keep all: the runs' folders are not kept by shards (--keep summary "
         "or statistics)\n"},
        {suite("a", {"--keep", "some"}), "--keep: some not in {all,summary,statistics}"},
        {{"merge"}, "sitewave-batch: merge DIR: one output folder\n"},
        {{"merge", "nowhere"}, "sitewave-batch: merge: nowhere/shards: no shards' folder\n"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(run(r.args), 2) << r.err;
        EXPECT_NE(err_.find(r.err), std::string::npos) << err_;
        EXPECT_FALSE(fs::exists(dir_ / "a" / "summary.csv"));
    }
    // --realization without a varied site.
    write("plain.toml", std::string(site_text).substr(0, std::string(site_text).find("[var")));
    EXPECT_EQ(run({"--soil", "plain.toml", "--input", "outcrop", "r0.csv", "--realization", "1",
                   "--out", "p"}),
              2);
    EXPECT_EQ(err_, "sitewave-batch: --realization: no profile has a [variation] table\n");
    // A [variation] table refused names the file, line, column and key.
    write("bad.toml", std::string(site_text) + "vs_min = -3\n");
    EXPECT_EQ(run({"--soil", "bad.toml", "--input", "outcrop", "r0.csv", "--out", "b"}), 2);
    EXPECT_EQ(err_, "sitewave-batch: --soil bad.toml:39:10: variation.vs_min: -3 is not "
                    "positive\n");
}

TEST_F(batch_variation, merge_refuses_missing_foreign_and_stray_shards) {
    for (int k = 0; k < 3; ++k) {
        std::string shard = std::to_string(k);
        shard += "/3";
        ASSERT_EQ(run(suite("s", {"--shard", shard})), 0) << err_;
    }
    // Another suite's shard: another seed.
    write("other.toml", [] {
        std::string t = site_text;
        t.replace(t.find("seed = 42"), 9, "seed = 43");
        return t;
    }());
    ASSERT_EQ(run({"--soil", "other.toml", "--input", "outcrop", "--spectra", "r0.csv", "r1.csv",
                   "r2.csv", "--out", "o", "--shard", "1/3"}),
              0)
        << err_;
    const fs::path one = dir_ / "s" / "shards" / "1";
    fs::rename(one, dir_ / "s1");
    EXPECT_EQ(run({"merge", "s"}), 2);
    EXPECT_NE(err_.find("shard(s) 1 of 3 missing"), std::string::npos) << err_;
    fs::rename(dir_ / "o" / "shards" / "1", one);
    EXPECT_EQ(run({"merge", "s"}), 2);
    EXPECT_NE(err_.find("s/shards/1: a shard of another suite"), std::string::npos) << err_;
    fs::remove_all(one);
    fs::rename(dir_ / "s1", one);
    fs::create_directory(dir_ / "s" / "shards" / "..x");
    EXPECT_EQ(run({"merge", "s"}), 2);
    EXPECT_NE(err_.find("s/shards/..x: not a shard's folder"), std::string::npos) << err_;
    fs::remove(dir_ / "s" / "shards" / "..x");
    // A shard cut short: its mark is written last.
    fs::rename(one / "shard.txt", dir_ / "shard.txt");
    EXPECT_EQ(run({"merge", "s"}), 2);
    EXPECT_NE(err_.find("shard.txt missing (is the shard complete?)"), std::string::npos) << err_;
    fs::rename(dir_ / "shard.txt", one / "shard.txt");
    EXPECT_FALSE(fs::exists(dir_ / "s" / "summary.csv"));
    EXPECT_EQ(run({"merge", "s"}), 0) << err_;
    EXPECT_TRUE(fs::exists(dir_ / "s" / "statistics.csv"));
}

} // namespace

namespace {

// Profiles given as they are (soil files) through --keep summary and shards: the rows of the plain
// batch (its run folders), the same files sharded and merged.
TEST_F(batch_variation, plain_profiles_in_memory_and_sharded) {
    const std::string best = std::string(SITEWAVE_EXAMPLES) + "/profiles/best.csv";
    const std::string lower = std::string(SITEWAVE_EXAMPLES) + "/profiles/lower.csv";
    std::vector<std::string> s{"--soil",  lower,       "--soil", best,     "--input",
                               "outcrop", "--spectra", "r0.csv", "r1.csv", "r2.csv"};
    const auto with = [&s](std::vector<std::string> more) {
        auto a = s;
        a.insert(a.end(), more.begin(), more.end());
        return a;
    };
    ASSERT_EQ(run(with({"--out", "plain"})), 0) << err_;
    ASSERT_EQ(run(with({"--out", "memory", "--keep", "summary"})), 0) << err_;
    for (const char* k : {"0/2", "1/2"}) {
        ASSERT_EQ(run(with({"--out", "sharded", "--keep", "summary", "--shard", k})), 0) << err_;
    }
    ASSERT_EQ(run({"merge", "sharded"}), 0) << err_;
    EXPECT_EQ(text("plain", "summary.csv"), text("memory", "summary.csv"));
    EXPECT_EQ(lines(text("memory", "summary.csv")).size(), 7u);
    // An rvt input among the records: its rows those of the plain batch too.
    s.insert(s.end(), {"--source", "--magnitude", "6", "--distance", "25", "--region", "cena"});
    ASSERT_EQ(run(with({"--out", "plain-rvt"})), 0) << err_;
    ASSERT_EQ(run(with({"--out", "memory-rvt", "--keep", "summary"})), 0) << err_;
    EXPECT_EQ(text("plain-rvt", "summary.csv"), text("memory-rvt", "summary.csv"));
    EXPECT_EQ(lines(text("memory-rvt", "summary.csv")).size(), 9u);
    for (const char* f :
         {"summary.csv", "statistics.csv", "profile-statistics.csv", "realizations.csv"}) {
        EXPECT_EQ(text("memory", f), text("sharded", f)) << f;
    }
}

} // namespace

namespace {

// Inputs of random vibration theory (a point source, a spectrum; H1 only) on four realizations.
class batch_variation_rvt : public batch_variation {
  protected:
    void SetUp() override {
        batch_variation::SetUp();
        std::string t = site_text;
        write("four.toml", t.replace(t.find("realizations = 12"), 17, "realizations = 4"));
        write("fas.csv", fas_text());
    }

    // `front` (options, records), then the source and the spectrum.
    static std::vector<std::string> rvt_suite(const std::string& out, const std::string& method,
                                              std::vector<std::string> front) {
        std::vector<std::string> a{"--soil",   "four.toml", "--input", "outcrop", "--spectra",
                                   "--method", method,      "--out",   out};
        a.insert(a.end(), front.begin(), front.end());
        a.insert(a.end(), {"--source", "--magnitude", "6.5", "--distance", "20", "--region", "wna",
                           "--fas", "fas.csv", "--duration", "8"});
        return a;
    }

    // statistics.csv's row of group, quantity, component at `period`.
    std::vector<std::string> stat_row(const std::string& out, const std::string& group,
                                      const std::string& quantity, const std::string& component,
                                      const std::string& period = "0") const {
        for (const auto& l : lines(text(out, "statistics.csv"))) {
            const auto c = split(l);
            if (c[0] == group && c[1] == quantity && c[2] == component && c[4] == period) {
                return c;
            }
        }
        return {"none", "", "", "", "", "none"};
    }
};

// Rows and statistics of --keep summary those of --keep all, the statistics against figures
// computed here from the folders' psa.csv; H2 and V without values.
TEST_F(batch_variation_rvt, keep_all_folders_against_the_statistics) {
    for (const std::string method : {"linear", "eql"}) {
        const std::string all = method + "-all", summary = method + "-summary";
        ASSERT_EQ(run(rvt_suite(all, method, {"--keep", "all"})), 0) << err_;
        ASSERT_EQ(run(rvt_suite(summary, method, {"--keep", "summary"})), 0) << err_;
        EXPECT_EQ(text(all, "summary.csv"), text(summary, "summary.csv")) << method;
        EXPECT_EQ(text(all, "statistics.csv"), text(summary, "statistics.csv")) << method;
        const auto rows = lines(text(summary, "summary.csv"));
        ASSERT_EQ(rows.size(), 9u);
        EXPECT_NE(rows[2].find("four-r0/fas,ok,"), std::string::npos) << rows[2];
        EXPECT_NE(rows[7].find(',' + method + ','), std::string::npos) << rows[7];
        EXPECT_EQ(split(rows[7]).back(), "rvt");
        EXPECT_EQ(stat_row(summary, "four", "surface psa", "H1")[5], "8");
        EXPECT_EQ(stat_row(summary, "four", "rrs", "V")[5], "none");
        EXPECT_EQ(stat_row(summary, "all", "surface psa", "H2")[5], "0");
        EXPECT_EQ(text(summary, "profile-statistics.csv").find("four,strain,0,8,") !=
                      std::string::npos,
                  method == "eql");
        // surface H1 and ratio H1 at 5 %, per period, over the 8 folders' psa.csv.
        std::map<std::string, std::map<std::string, std::vector<double>>> values;
        for (int k = 0; k < 4; ++k) {
            for (const char* input : {"source-M6.5-R20-wna", "fas"}) {
                const auto p = lines(read_file(
                    (dir_ / all / ("four-r" + std::to_string(k)) / input / "psa.csv").string()));
                ASSERT_GT(p.size(), 1u);
                const auto head = split(p[0]);
                for (const char* column : {"surface H1 5%", "ratio H1 5%"}) {
                    const auto col = static_cast<std::size_t>(
                        std::find(head.begin(), head.end(), column) - head.begin());
                    for (std::size_t i = 1; i < p.size(); ++i) {
                        values[column][split(p[i])[0]].push_back(std::stod(split(p[i])[col]));
                    }
                }
            }
        }
        for (const auto& [column, quantity] :
             {std::pair{"surface H1 5%", "surface psa"}, std::pair{"ratio H1 5%", "rrs"}}) {
            ASSERT_GT(values[column].size(), 100u);
            for (const auto& [period, x] : values[column]) {
                const auto c = stat_row(summary, "all", quantity, "H1", period);
                ASSERT_EQ(c.size(), 14u) << quantity << " " << period;
                ASSERT_EQ(x.size(), 8u);
                const double tol = 1e-12 * x.front();
                EXPECT_NEAR(std::stod(c[10]), numpy_linear(x, 50), tol) << quantity << period;
                EXPECT_NEAR(std::stod(c[11]), numpy_linear(x, 16), tol) << quantity << period;
                EXPECT_NEAR(std::stod(c[12]), numpy_linear(x, 84), tol) << quantity << period;
            }
        }
    }
}

// A record among the rvt inputs, unsharded and in two shards merged (the record and the spectrum
// in one, the source in the other); a shard of a source of another stress drop refused; a spectrum
// that cannot be used a failed row on each realization.
TEST_F(batch_variation_rvt, among_records_sharded_and_failed) {
    ASSERT_EQ(run(rvt_suite("one", "linear", {"--keep", "summary", "r0.csv"})), 0) << err_;
    for (const char* k : {"0/2", "1/2"}) {
        ASSERT_EQ(
            run(rvt_suite("sharded", "linear", {"--keep", "summary", "--shard", k, "r0.csv"})), 0)
            << err_;
    }
    ASSERT_EQ(run({"merge", "sharded"}), 0) << err_;
    for (const char* f :
         {"summary.csv", "statistics.csv", "profile-statistics.csv", "realizations.csv"}) {
        EXPECT_EQ(text("one", f), text("sharded", f)) << f;
    }
    const auto rows = lines(text("one", "summary.csv"));
    ASSERT_EQ(rows.size(), 13u);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        EXPECT_EQ(split(rows[i])[3], "ok") << rows[i];
        EXPECT_EQ(split(rows[i]).back(), i % 3 == 1 ? "record" : "rvt") << rows[i];
    }
    EXPECT_EQ(stat_row("one", "all", "surface psa", "H1")[5], "12");
    EXPECT_EQ(stat_row("one", "four", "rrs", "H2")[5], "4");
    auto other = rvt_suite("other", "linear", {"--keep", "summary", "--shard", "1/2", "r0.csv"});
    other.insert(std::find(other.begin(), other.end(), "--fas"), {"--stress-drop", "50"});
    ASSERT_EQ(run(other), 0) << err_;
    fs::rename(dir_ / "sharded" / "shards" / "0", dir_ / "other" / "shards" / "0");
    EXPECT_EQ(run({"merge", "other"}), 2);
    EXPECT_NE(err_.find("a shard of another suite"), std::string::npos) << err_;
    write("bad.csv", "f,a\n1,0.1\n2,-0.1\n");
    ASSERT_EQ(run({"--soil", "four.toml", "--input", "outcrop", "r0.csv", "--fas", "bad.csv",
                   "--duration", "5", "--out", "b"}),
              1);
    const auto failed = lines(text("b", "summary.csv")); // --keep statistics: the failed rows
    ASSERT_EQ(failed.size(), 5u);
    EXPECT_EQ(failed[4].rfind("four.toml,bad.csv,four-r3/bad,failed,\"bad.csv:3:", 0), 0u)
        << failed[4];
}

} // namespace
