// The batch tool end to end: its files against the dialogue's, against each other under
// transformations that must not change a bit, and its handling of a bad record.

#include "support/batch_run.hpp"

#include <charconv>
#include <cmath>
#include <complex>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
const fs::path cases = SITEWAVE_CASES;
const fs::path examples = SITEWAVE_EXAMPLES;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        out.push_back(l);
    }
    return out;
}

using batch = batch_run;

// Where the run has a dialogue equivalent, --dialogue-files writes the dialogue's data lines:
// wave type 2, oblique incidence, integration with a filter.
TEST_F(batch, dialogue_files_match_the_dialogue) {
    for (const char* name :
         {"grid-nin2", "transfer-beyond-critical-angle", "processing-integrate-filter"}) {
        const auto answers = lines_of(read_file((cases / name / "stdin.txt").string()));
        std::vector<std::string> args{"--soil", (cases / name / "soil_dat.csv").string(),
                                      "--dialogue-files", "--out", name};
        args.push_back("--process");
        args.push_back(answers[1] == "1"   ? "integrate"
                       : answers[1] == "2" ? "differentiate"
                                           : "none");
        if (answers[2] == "1") {
            args.push_back("--band");
            args.push_back(answers[3]);
        }
        args.push_back((cases / name / answers[0]).string());
        ASSERT_EQ(run(args), 0) << name << ": " << err_;
        for (const char* f : {"Amp-Factors.csv", "amp1.csv", "wave1.csv"}) {
            auto want = lines_of(read_file((cases / name / "expected" / f).string()));
            auto got = lines_of(read((fs::path(name) / "soil_dat" / "wave" / f).string()));
            ASSERT_FALSE(got.empty()) << name << " " << f;
            want.erase(want.begin());
            got.erase(got.begin());
            EXPECT_EQ(got, want) << name << " " << f;
        }
    }
}

// An outcrop record is twice the incident wave: its surface motion is that of the record halved
// (exactly) taken as incident, bit for bit. The AT2 triple gives what its converted record file
// gives. Any number of threads gives the same bytes.
TEST_F(batch, equivalent_runs_give_the_same_bytes) {
    const std::string soil = (examples / "soil_dat.csv").string();
    const auto rec = lines_of(read_file((examples / "elcentro.csv").string()));
    std::string halved = rec[0] + "\n";
    for (std::size_t i = 1; i < rec.size(); ++i) {
        float v[4];
        ASSERT_EQ(std::sscanf(rec[i].c_str(), "%f,%f,%f,%f", &v[0], &v[1], &v[2], &v[3]), 4);
        halved += rec[i].substr(0, rec[i].find(','));
        for (int k = 1; k < 4; ++k) {
            char buf[32];
            halved += ",";
            halved.append(buf, std::to_chars(buf, buf + sizeof buf, v[k] * 0.5f).ptr);
        }
        halved += "\n";
    }
    write("half.csv", halved);
    const std::string at2 = (examples / "at2").string();
    ASSERT_EQ(
        run({"--soil", soil, "--input", "outcrop", "--out", "o", "--jobs", "1",
             (examples / "elcentro.csv").string(), "--at2",
             at2 + "/RSN6_IMPVALL.I_I-ELC180-hor1.AT2", at2 + "/RSN6_IMPVALL.I_I-ELC270-hor2.AT2",
             at2 + "/RSN6_IMPVALL.I_I-ELC-UP.AT2"}),
        0)
        << err_;
    ASSERT_EQ(run({"--soil", soil, "--input", "incident", "--out", "i", "half.csv"}), 0) << err_;
    ASSERT_EQ(
        run({"--soil", soil, "--input", "outcrop", "--out", "o2", "--jobs", "2",
             (examples / "elcentro.csv").string(), "--at2",
             at2 + "/RSN6_IMPVALL.I_I-ELC180-hor1.AT2", at2 + "/RSN6_IMPVALL.I_I-ELC270-hor2.AT2",
             at2 + "/RSN6_IMPVALL.I_I-ELC-UP.AT2"}),
        0)
        << err_;
    const auto surface = [this](const std::string& f) {
        auto l = lines_of(read(f));
        l.erase(l.begin()); // the titles differ
        return l;
    };
    EXPECT_EQ(surface("o/soil_dat/elcentro/surface.csv"), surface("i/soil_dat/half/surface.csv"));
    EXPECT_EQ(surface("o/soil_dat/elcentro/surface.csv"),
              surface("o/soil_dat/RSN6_IMPVALL.I_I-ELC180-hor1/surface.csv"));
    for (const auto& e : fs::recursive_directory_iterator(dir_ / "o")) {
        const auto rel = fs::relative(e.path(), dir_ / "o");
        if (e.is_regular_file() && rel != "run.json") { // run.json: the command line given
            EXPECT_EQ(read_file(e.path().string()), read_file((dir_ / "o2" / rel).string())) << rel;
        }
    }
}

// What the runs of a record share on every profile, and the runs of a profile on every record of
// one grid, is worked out once: each run's files are still those of the run made alone. Two
// records share a grid here, a third (shorter) has its own; one record fails.
TEST_F(batch, shared_work_gives_each_run_its_own_files) {
    const auto rec = lines_of(read_file((examples / "elcentro.csv").string()));
    std::string shorter, scaled;
    for (std::size_t i = 0; i < rec.size(); ++i) {
        shorter += i <= 3000 ? rec[i] + "\n" : "";
        const auto comma = rec[i].find(',');
        scaled += i == 0 ? rec[i] + "\n" : rec[i].substr(0, comma) + ",0.5,-0.25,1\n";
    }
    write("shorter.csv", shorter);
    write("scaled.csv", scaled);
    write("bad.csv", "t,a,b,c\n0,1,x,3\n");
    const std::vector<std::string> records = {(examples / "elcentro.csv").string(), "shorter.csv",
                                              "bad.csv", "scaled.csv"};
    const std::vector<std::string> soils = {(examples / "profiles" / "lower.csv").string(),
                                            (examples / "profiles" / "best.csv").string()};
    std::vector<std::string> all{"--soil",  soils[0], "--soil", soils[1], "--input",
                                 "outcrop", "--jobs", "2",      "--out",  "all"};
    all.insert(all.end(), records.begin(), records.end());
    EXPECT_EQ(run(all), 1) << err_;
    for (const auto& soil : soils) {
        for (const std::string r : {"elcentro", "shorter", "scaled"}) {
            const std::string path = r == "elcentro" ? records[0] : r + ".csv";
            ASSERT_EQ(run({"--soil", soil, "--input", "outcrop", "--out", "one", "--force", path}),
                      0)
                << err_;
            const fs::path folder = fs::path(soil).stem() / r;
            for (const char* f : {"transfer.csv", "spectra.csv", "input.csv", "surface.csv"}) {
                EXPECT_EQ(read((fs::path("all") / folder / f).string()),
                          read((fs::path("one") / folder / f).string()))
                    << folder << " " << f;
            }
        }
    }
    // The input spectra at 0 Hz of the constant components: dt times their sums.
    const auto row = lines_of(read("all/best/scaled/spectra.csv"))[1];
    float v[4];
    ASSERT_EQ(std::sscanf(row.c_str(), "%f,%f,%f,%f", &v[0], &v[1], &v[2], &v[3]), 4) << row;
    const double sum_dt = 0.01 * static_cast<double>(rec.size() - 1);
    EXPECT_NEAR(v[1], 0.5 * sum_dt, 1e-4 * sum_dt);
    EXPECT_NEAR(v[2], 0.25 * sum_dt, 1e-4 * sum_dt);
    EXPECT_NEAR(v[3], 1.0 * sum_dt, 1e-4 * sum_dt);
}

// A bad record among good ones: its row says why, the others run, status 1. Every value of the
// tidy files reads back to the float it was written from.
TEST_F(batch, bad_record_fails_alone_and_tidy_values_read_back) {
    write("good.csv", "t,a,b,c\n0,1,2,3\n0.01,2,3,1\n0.02,-1,0,2\n0.03,0,1,1\n");
    write("uneven.csv", "t,a,b,c\n0,1,2,3\n0.01,2,3,1\n0.025,-1,0,2\n");
    write("bad.csv", "t,a,b,c\n0,1,x,3\n");
    const std::string soil = (examples / "soil_dat.csv").string();
    EXPECT_EQ(run({"--soil", soil, "--out", "b", "good.csv", "uneven.csv", "bad.csv"}), 1);
    const auto summary = lines_of(read("b/summary.csv"));
    ASSERT_EQ(summary.size(), 4u);
    EXPECT_NE(summary[1].find(",ok,"), std::string::npos);
    EXPECT_NE(summary[2].find(",failed,record file uneven.csv: line 4: time 0.025 is off"),
              std::string::npos)
        << summary[2];
    EXPECT_NE(summary[3].find(",failed,"), std::string::npos);
    EXPECT_NE(summary[3].find("invalid number"), std::string::npos) << summary[3];
    EXPECT_FALSE(fs::exists(dir_ / "b" / "soil_dat" / "uneven"));
    EXPECT_NE(err_.find("bad.csv"), std::string::npos);
    for (const char* f : {"transfer.csv", "spectra.csv", "surface.csv", "input.csv"}) {
        const auto rows = lines_of(read((fs::path("b/soil_dat/good") / f).string()));
        ASSERT_GT(rows.size(), 1u) << f;
        const auto columns = std::count(rows[0].begin(), rows[0].end(), ',');
        for (std::size_t i = 1; i < rows.size(); ++i) {
            EXPECT_EQ(std::count(rows[i].begin(), rows[i].end(), ','), columns) << f << i;
            std::istringstream cells(rows[i]);
            for (std::string cell; std::getline(cells, cell, ',');) {
                float v = 0.0f;
                const auto r = std::from_chars(cell.data(), cell.data() + cell.size(), v);
                ASSERT_TRUE(r.ec == std::errc() && r.ptr == cell.data() + cell.size()) << cell;
                char buf[32];
                EXPECT_EQ(std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr), cell);
            }
        }
    }
}

// Usage errors: exit status 2, nothing written.
TEST_F(batch, usage_errors_write_nothing) {
    const std::string soil = (examples / "soil_dat.csv").string();
    write("r.csv", "t,a,b,c\n0,1,2,3\n0.01,2,3,1\n");
    write("bad_soil.csv", "t\n0\n3\nc\n1\nh\n1,2,500,20,0,200,10,0,0\n");
    const std::vector<std::vector<std::string>> cases_ = {
        {"--soil", soil, "--band", "1,0.5,20,30", "r.csv"},
        {"--soil", soil, "--band", "-1,2,3,4", "r.csv"},
        {"--soil", soil, "--input", "sideways", "r.csv"},
        {"--soil", soil, "--jobs", "0", "r.csv"},
        {"--soil", soil, "--angle", "nan", "r.csv"},
        {"--soil", "bad_soil.csv", "r.csv"},
        {"--soil", soil, "@nolist.txt"},
        {"--soil", soil, "--process", "integrate", "--spectra", "r.csv"},
    };
    for (auto args : cases_) {
        args.insert(args.end() - 1, {"--out", "u"});
        EXPECT_EQ(run(args), 2) << args[2] << " " << args[3];
        EXPECT_FALSE(fs::exists(dir_ / "u")) << args[2];
        EXPECT_FALSE(err_.empty());
    }
}

// Records longer than the dialogue's 32768 samples are transformed on up to 2^20 points.
TEST_F(batch, long_records_are_accepted) {
    std::string rec = "t,a,b,c\n";
    for (int i = 0; i < 40000; ++i) {
        rec += std::to_string(i) + "e-3," + std::to_string(i % 13) + ",1,-1\n";
    }
    write("long.csv", rec);
    ASSERT_EQ(run({"--soil", (examples / "soil_dat.csv").string(), "--out", "l", "long.csv"}), 0)
        << err_;
    EXPECT_EQ(lines_of(read("l/soil_dat/long/surface.csv")).size(), 40001u);
    const auto summary = lines_of(read("l/summary.csv"));
    EXPECT_NE(summary[1].find(",40000,0.001,65536,"), std::string::npos) << summary[1];
}

} // namespace
