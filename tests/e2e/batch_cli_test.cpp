// The batch tool's command line: hostile option values, --at2 without its three files, and the
// @LIST files' byte order mark and comments. Every usage error is status 2, one line
// "sitewave-batch: <option>: ..." and nothing written.

#include "support/batch_run.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
const fs::path examples = SITEWAVE_EXAMPLES;

class batch_cli : public batch_run {
  protected:
    void SetUp() override {
        batch_run::SetUp();
        write("r.csv", "t,a,b,c\n0,1,2,3\n0.01,2,3,1\n0.02,-1,0,2\n0.03,0,1,1\n");
    }
    // A run with the example profile and response spectra into folder u, then `more`.
    int run_with(const std::vector<std::string>& more) {
        std::vector<std::string> args{"--soil", (examples / "soil_dat.csv").string(), "--spectra",
                                      "--out", "u"};
        args.insert(args.end(), more.begin(), more.end());
        return run(args);
    }
};

// Values no run can use: refused while the command line is read, before any conversion that
// could overflow or any allocation they would size.
TEST_F(batch_cli, hostile_option_values_are_usage_errors) {
    const struct {
        const char* option;
        std::vector<const char*> values;
    } cases[] = {
        {"--periods",
         {"1e-300,1e300,10",
          "0.01,10,1e300",
          "0.01,10,2147483647",
          "0.01,10,10001",
          "0.01,10,0",
          "0.01,10,-1",
          "0.01,10,10.5",
          "0.01,10,nan",
          "0.01,10,inf",
          "nan,10,10",
          "0.01,inf,10",
          "0.01,1e300,10",
          "0,10,10",
          "-1,10,10",
          "10,0.01,10",
          "0.00009,10,10",
          "0.01,10001,10",
          "1e300,1e300,1",
          "",
          "0.01,10",
          "0.01,10,10,1",
          "0.01,,10",
          "a,b,c"}},
        {"--damping",
         {"nan", "inf", "-inf", "1", "-0.01", "1e300", "-1", "", "0.05,", "0.05,nan", ",0.05",
          "5%"}},
        {"--jobs",
         {"0", "-1", "1025", "1e300", "nan", "inf", "", "99999999999999999999", "2.5", "2,3",
          "0x10"}},
        {"--angle", {"nan", "inf", "-inf", "1e300", "1e39", "", "30,40", "30deg"}},
        {"--band",
         {"nan,1,2,3", "1,2,3,inf", "1,2,3,1e300", "-inf,1,2,3", "", "1,2,3", "1,2,3,4,5"}},
        {"--smooth",
         {"kx", "KO", "ko:", "ko:0", "ko:0.99", "ko:10001", "ko:nan", "ko:inf", "ko:-40",
          "ko:40,50", "ko:abc", "ko40", "ko:1e300", ""}},
    };
    for (const auto& c : cases) {
        for (const std::string value : c.values) {
            // As one argument (--jobs=0) and as two (--jobs 0).
            for (const bool joined : {true, false}) {
                std::vector<std::string> args;
                if (joined) {
                    args = {std::string(c.option) + "=" + value};
                } else {
                    args = {c.option, value};
                }
                args.push_back("r.csv");
                const std::string what = std::string(c.option) + " " + value;
                EXPECT_EQ(run_with(args), 2) << what << ": " << err_;
                const std::string head = "sitewave-batch: " + std::string(c.option) + ": ";
                EXPECT_EQ(err_.rfind(head, 0), 0u) << what << ": " << err_;
                EXPECT_EQ(err_.find('\n'), err_.size() - 1) << what << ": " << err_;
                // (An empty value, joined or not, is passed over by the parser, which then takes
                // the next argument as the value; see below for an option without one.)
                if (!value.empty()) {
                    EXPECT_NE(err_.find("\"" + value + "\""), std::string::npos)
                        << what << ": " << err_;
                }
                EXPECT_FALSE(fs::exists(dir_ / "u")) << what;
            }
        }
        // Last, without a value.
        const std::string option = c.option;
        for (const std::string& last : {option, option + "=", std::string()}) {
            std::vector<std::string> args{"r.csv"};
            if (!last.empty()) {
                args.push_back(last);
            } else {
                args.insert(args.end(), {c.option, ""});
            }
            EXPECT_EQ(run_with(args), 2) << c.option << ": " << err_;
            EXPECT_EQ(err_.rfind("sitewave-batch: " + std::string(c.option) + ": no value; ", 0),
                      0u)
                << c.option << ": " << err_;
        }
    }
}

// The values at the ends of the ranges run; 10 000 periods give 10 000 rows besides T = 0.
TEST_F(batch_cli, option_values_at_the_limits_are_taken) {
    const std::vector<std::vector<std::string>> cases = {
        {"--periods", "1e-4,1e4,10000"},
        {"--periods", "0.5,0.5,1"},
        {"--periods=+0.01,10,100"},
        {"--damping", "0,0.999"},
        {"--jobs", "1"},
        {"--jobs=1024"},
        {"--jobs", "+2"},
        {"--angle", "-30"},
        {"--angle", "0"},
        {"--band", "0,0,50,50"},
        {"--smooth", "ko"},
        {"--smooth=ko:1"},
        {"--smooth", "ko:10000"},
    };
    for (auto args : cases) {
        args.push_back("r.csv");
        ASSERT_EQ(run_with(args), 0) << args[0] << ": " << err_;
        if (args[1] == "1e-4,1e4,10000") {
            std::istringstream psa(read("u/soil_dat/r/psa.csv"));
            int rows = 0;
            for (std::string line; std::getline(psa, line);) {
                ++rows;
            }
            EXPECT_EQ(rows, 1 + 1 + 10000);
        }
        fs::remove_all(dir_ / "u");
    }
}

// Each --at2 takes three files: fewer, whether at the end, before another option or before the
// next --at2, is a usage error naming what it got.
TEST_F(batch_cli, at2_without_three_files) {
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"r.csv", "--at2"}, "none given"},
        {{"r.csv", "--at2", "a"}, "1 given: a"},
        {{"r.csv", "--at2", "a", "b"}, "2 given: a b"},
        {{"--at2", "a", "b", "--padded", "r.csv"}, "2 given: a b"},
        {{"--at2", "a", "b", "--at2", "c", "d", "e"}, "2 given: a b"},
        {{"--at2", "a", "b", "c", "--at2", "d"}, "1 given: d"},
        {{"--at2=a", "b"}, "2 given: a b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run_with(c.args), 2) << c.says << ": " << err_;
        EXPECT_EQ(err_, "sitewave-batch: --at2: three files H1 H2 V after each --at2, " +
                            std::string(c.says) + "\n");
        EXPECT_FALSE(fs::exists(dir_ / "u"));
    }
    // Two whole triples are two records (their files missing: two failed runs, status 1).
    EXPECT_EQ(run_with({"--at2", "a", "b", "c", "--at2", "d", "e", "f"}), 1) << err_;
    EXPECT_NE(out_.find("2 runs, 2 failed"), std::string::npos) << out_;
}

// An @LIST file: a UTF-8 byte order mark at its start is skipped; a # begins a comment only as
// the first character of a line after blanks, and is part of a file name further on.
TEST_F(batch_cli, list_files_byte_order_mark_and_comments) {
    write("r#2.csv", read("r.csv"));
    const struct {
        const char* list;
        const char* runs; // the run lines printed, in order
    } cases[] = {
        {"\xEF\xBB\xBFr.csv\n", "ok     soil_dat/r\n"},
        {"\xEF\xBB\xBF# the suite\nr.csv\n", "ok     soil_dat/r\n"},
        {"\xEF\xBB\xBF\n  \t# indented\nr.csv\r\n", "ok     soil_dat/r\n"},
        {"r.csv\n  # r#2.csv\nr#2.csv\n", "ok     soil_dat/r\nok     soil_dat/r#2\n"},
        {"#r.csv\n\t r#2.csv \n", "ok     soil_dat/r#2\n"},
    };
    for (const auto& c : cases) {
        write("list.txt", c.list);
        EXPECT_EQ(run_with({"@list.txt"}), 0) << c.list << ": " << err_;
        const std::size_t count = out_.rfind(" runs, ");
        ASSERT_NE(count, std::string::npos) << out_;
        EXPECT_EQ(out_.substr(0, out_.rfind('\n', count) + 1), c.runs) << c.list;
        fs::remove_all(dir_ / "u");
    }
    // A byte order mark only at the start of the file: later, it is part of the name.
    write("list.txt", "r.csv\n\xEF\xBB\xBFr#2.csv\n");
    EXPECT_EQ(run_with({"@list.txt"}), 1) << err_;
    // A device is no list: refused at once instead of read without end.
    EXPECT_EQ(run_with({"@/dev/zero"}), 2);
    EXPECT_NE(err_.find("not a regular file or a pipe"), std::string::npos) << err_;
}

} // namespace
