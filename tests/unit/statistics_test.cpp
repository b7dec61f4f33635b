// The suite's statistics: psa.csv's titles, its reading, and the statistics on values whose
// mean, geometric mean and log standard deviation have closed forms.

#include "batch/statistics.hpp"
#include "support/scratch_dir.hpp"
#include "textio/fatal.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace sitewave::batch;

TEST(statistics, the_columns_taken_from_psa_csv) {
    const struct {
        std::string title;
        bool taken;
        int quantity, component;
        std::string damping;
    } cases[] = {
        {"surface H1 5%", true, 0, 0, "5%"},
        {"surface H2 PSA 2.5%", true, 0, 1, "2.5%"}, // the earlier titles
        {"ratio V 5%", true, 1, 2, "5%"},
        {"ratio RotD50 10%", true, 1, 3, "10%"},
        {"surface RotD50 5%", true, 0, 3, "5%"},
        {"ratio RotD100 5%", false, 0, 0, ""},
        {"input H1 5%", false, 0, 0, ""},
        {"period (s)", false, 0, 0, ""},
        {"surface H1", false, 0, 0, ""},
        {"surface X 5%", false, 0, 0, ""},
        {"surface H1 %", false, 0, 0, ""},
        {"ratio H1 PSA PSA 5%", false, 0, 0, ""},
    };
    for (const auto& c : cases) {
        const auto k = psa_column(c.title);
        ASSERT_EQ(k.has_value(), c.taken) << c.title;
        if (k) {
            EXPECT_EQ(k->quantity, c.quantity) << c.title;
            EXPECT_EQ(k->component, c.component) << c.title;
            EXPECT_EQ(k->damping, c.damping) << c.title;
        }
    }
}

class psa_files : public scratch_dir {
  protected:
    psa_file table(const std::string& text) {
        return read_psa(write("psa.csv", text), "run/psa.csv");
    }
    // The row of statistics.csv that starts with `prefix`.
    static std::vector<std::string> row(const std::string& csv, const std::string& prefix) {
        std::istringstream in(csv);
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with(prefix + ",")) {
                std::vector<std::string> cells;
                std::istringstream l(line);
                for (std::string c; std::getline(l, c, ',');) {
                    cells.push_back(c);
                }
                if (line.back() == ',') {
                    cells.emplace_back();
                }
                return cells;
            }
        }
        ADD_FAILURE() << "no row " << prefix;
        return {};
    }
};

TEST_F(psa_files, bad_files_are_refused_naming_the_line) {
    const struct {
        std::string text, message;
    } cases[] = {
        {"", "run/psa.csv: empty"},
        {"T,surface H1 5%\n0,1\n", "first column"},
        {"period (s),surface H1 5%\n0,1\n0.1,nan\n", "line 3: \"nan\" is not a finite number"},
        {"period (s),surface H1 5%\n0,1\n0.1,1e999\n", "line 3"},
        {"period (s),surface H1 5%\n0,1,2\n", "line 2 has 3 cells"},
        {"period (s),surface H1 5%\n", "no period"},
        {"period (s),surface H1 5%\n,1\n", "line 2: \"\" is not"},
    };
    for (const auto& c : cases) {
        try {
            table(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const sitewave::textio::failure& f) {
            EXPECT_NE(f.err().message.find(c.message), std::string::npos)
                << f.err().message << " / " << c.message;
        }
    }
}

TEST_F(psa_files, closed_forms_per_profile_and_over_all) {
    // Profile p: values 1, 2, 4 (mean 7/3, geometric mean 2, ln std ln 2); profile q: 8 and 8
    // (ln std 0), and an empty cell that counts no value. "all": 1, 2, 4, 8, 8.
    const std::string head = "period (s),input H1 5%,surface H1 5%,ratio H1 5%\n";
    suite_statistics s({"p", "q"});
    for (const double v : {1.0, 2.0, 4.0}) {
        std::ostringstream t;
        t << head << "0,9," << v << "," << v << "\n0.5,9," << v << ",\n";
        s.add(0, table(t.str()), "x");
    }
    s.add(1, table(head + "0,9,8,8\n0.5,9,8,8\n"), "y");
    s.add(1, table(head + "0,9,8,8\n0.5,9,8,0\n"), "y");
    const std::string csv = s.csv();
    EXPECT_TRUE(csv.starts_with("group,quantity,component,damping,period (s),n,mean,geometric "
                                "mean,ln std,envelope\n"));
    auto r = row(csv, "p,surface psa,H1,5%,0");
    ASSERT_EQ(r.size(), 10u);
    EXPECT_EQ(r[5], "3");
    EXPECT_NEAR(std::stod(r[6]), 7.0 / 3.0, 1e-15);
    EXPECT_NEAR(std::stod(r[7]), 2.0, 1e-15);
    EXPECT_NEAR(std::stod(r[8]), std::log(2.0), 1e-15);
    EXPECT_EQ(r[9], "");
    r = row(csv, "q,rrs,H1,5%,0");
    EXPECT_EQ(r[5], "2");
    EXPECT_EQ(r[6], "8");
    EXPECT_EQ(r[8], "0");
    // all: mean 23/5, geometric mean (1 2 4 8 8)^(1/5) = 2^(9/5), envelope max(7/3, 8).
    r = row(csv, "all,surface psa,H1,5%,0");
    EXPECT_EQ(r[5], "5");
    EXPECT_NEAR(std::stod(r[6]), 23.0 / 5.0, 1e-15);
    EXPECT_NEAR(std::stod(r[7]), std::pow(2.0, 9.0 / 5.0), 1e-14);
    // logs 0, 1, 2, 3, 3 (times ln 2): mean 9/5, squares about it 81+16+1+36+36 over 25, / 4.
    EXPECT_NEAR(std::stod(r[8]), std::log(2.0) * std::sqrt(170.0 / 25.0 / 4.0), 1e-14);
    EXPECT_EQ(r[9], "8");
    // At 0.5 s the ratios of p are empty cells: n 0 for p (no row), q's 8 and 0: no logs.
    EXPECT_EQ(csv.find("p,rrs,H1,5%,0.5,"), std::string::npos);
    r = row(csv, "q,rrs,H1,5%,0.5");
    EXPECT_EQ(r[5], "2");
    EXPECT_EQ(r[6], "4");
    EXPECT_EQ(r[7], "");
    EXPECT_EQ(r[8], "");
    r = row(csv, "all,rrs,H1,5%,0.5");
    EXPECT_EQ(r[5], "2");
    EXPECT_EQ(r[9], "4"); // q's mean only
    // A single value: no ln std.
    suite_statistics one({"p"});
    one.add(0, table(head + "0,1,3,3\n"), "z");
    r = row(one.csv(), "p,surface psa,H1,5%,0");
    EXPECT_EQ(r[5], "1");
    EXPECT_NEAR(std::stod(r[7]), 3.0, 1e-15); // exp(log 3), as numpy's
    EXPECT_EQ(r[8], "");
}

TEST_F(psa_files, rows_in_order_and_other_periods_refused) {
    const std::string head = "period (s),surface H2 2%,ratio H1 2%,surface H1 2%,surface H1 5%\n";
    suite_statistics s({"p"});
    s.add(0, table(head + "0,1,1,1,1\n0.1,1,1,1,1\n"), "a/psa.csv");
    std::string order;
    std::istringstream in(s.csv());
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        order += line.substr(0, line.find(",1,")) + ";";
    }
    // Surface PSA before RRS, H1 before H2, dampings as in psa.csv, "all" after the profiles.
    EXPECT_EQ(order, "p,surface psa,H1,2%,0;p,surface psa,H1,2%,0.1;p,surface psa,H1,5%,0;"
                     "p,surface psa,H1,5%,0.1;p,surface psa,H2,2%,0;p,surface psa,H2,2%,0.1;"
                     "p,rrs,H1,2%,0;p,rrs,H1,2%,0.1;all,surface psa,H1,2%,0;"
                     "all,surface psa,H1,2%,0.1;all,surface psa,H1,5%,0;all,surface psa,H1,5%,0.1;"
                     "all,surface psa,H2,2%,0;all,surface psa,H2,2%,0.1;all,rrs,H1,2%,0;"
                     "all,rrs,H1,2%,0.1;");
    try {
        s.add(0, table(head + "0,1,1,1,1\n0.2,1,1,1,1\n"), "b/psa.csv");
        ADD_FAILURE() << "other periods accepted";
    } catch (const sitewave::textio::failure& f) {
        EXPECT_NE(f.err().message.find("b/psa.csv: its periods"), std::string::npos);
    }
}

} // namespace
