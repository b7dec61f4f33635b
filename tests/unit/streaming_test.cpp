#include "batch/streaming.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

// The streaming statistics of a suite with realizations: percentiles against numpy's "linear"
// method (values worked by hand: h = (n - 1)·p/100), and the figures of statistics.csv, the same
// whatever order the runs come in.
namespace {

using sitewave::batch::observation_layout;
using sitewave::batch::percentile;
using sitewave::batch::stream_statistics;

TEST(Streaming, PercentilesAsNumpyLinear) {
    struct row {
        std::vector<double> sorted;
        double p, expected;
    };
    const row rows[] = {
        {{10}, 16, 10},
        {{10}, 84, 10},
        {{1, 2, 3, 4}, 50, 2.5},
        {{1, 2, 3, 4}, 16, 1.48},
        {{1, 2, 3, 4}, 84, 3.52},
        {{1, 2, 3}, 50, 2},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 16, 2.44},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 84, 8.56},
        {{1, 1, 1, 5}, 84, 3.08},
        {{-2, 0, 7}, 100, 7},
        {{-2, 0, 7}, 0, -2},
    };
    for (const auto& r : rows) {
        EXPECT_NEAR(percentile(r.sorted, r.p), r.expected, 1e-12) << r.p;
    }
}

// The cells of statistics.csv's line that starts with `start`.
std::vector<std::string> line_of(const std::string& csv, const std::string& start) {
    std::istringstream in(csv);
    for (std::string l; std::getline(in, l);) {
        if (l.rfind(start, 0) == 0) {
            std::vector<std::string> cells;
            std::istringstream c(l + ",");
            for (std::string x; std::getline(c, x, ',');) {
                cells.push_back(x);
            }
            return cells;
        }
    }
    return {};
}

TEST(Streaming, FiguresDoNotDependOnTheOrderOfRuns) {
    observation_layout l;
    l.frequencies = {1.0, 2.0};
    l.depths = {0.0};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Five runs in two groups: transfer at 1 Hz and 2 Hz (one none), Vs, no strain or PGA.
    const std::vector<std::vector<double>> runs = {{1.5, 2.0, 200, nan, nan},
                                                   {2.5, nan, 250, nan, nan},
                                                   {0.1, 3.0, 180, nan, nan},
                                                   {1e-3, 4.0, 300, nan, nan},
                                                   {7.0, 5.0, 220, nan, nan}};
    const std::size_t group[] = {0, 0, 1, 1, 1};
    stream_statistics a(l, {"p", "q"}), b(l, {"p", "q"});
    for (std::size_t i = 0; i < runs.size(); ++i) {
        a.add(group[i], runs[i]);
        b.add(group[4 - i], runs[4 - i]);
    }
    EXPECT_EQ(a.statistics_csv(), b.statistics_csv());
    EXPECT_EQ(a.profile_csv(), b.profile_csv());
    EXPECT_EQ(a.bytes(), (5u + 4u + 5u) * sizeof(double));
    const auto all = line_of(a.statistics_csv(), "all,transfer,H1,,,5,");
    ASSERT_EQ(all.size(), 14u);
    // 1 Hz over every run: 0.001, 0.1, 1.5, 2.5, 7.
    EXPECT_NEAR(std::stod(all[6]), (0.001 + 0.1 + 1.5 + 2.5 + 7.0) / 5, 1e-15);
    double lm =
        (std::log(0.001) + std::log(0.1) + std::log(1.5) + std::log(2.5) + std::log(7.0)) / 5;
    EXPECT_NEAR(std::stod(all[7]), std::exp(lm), 1e-12);
    EXPECT_NEAR(std::stod(all[10]), 1.5, 0);
    EXPECT_NEAR(std::stod(all[11]), 0.001 + 0.64 * (0.1 - 0.001), 1e-15);
    EXPECT_NEAR(std::stod(all[12]), 2.5 + 0.36 * (7.0 - 2.5), 1e-15);
    EXPECT_EQ(all[13], "1");
    // The envelope: the larger of the groups' means, (1.5 + 2.5)/2 and (0.1 + 0.001 + 7)/3.
    EXPECT_NEAR(std::stod(all[9]), 7.101 / 3, 1e-15);
    // 2 Hz: four values; a group's row gives no envelope.
    const auto p2 = line_of(a.statistics_csv(), "p,transfer,H1,,,1,");
    ASSERT_EQ(p2.size(), 14u);
    EXPECT_EQ(p2[8], ""); // ln std of one value
    EXPECT_EQ(p2[9], ""); // the envelope is all's
    EXPECT_EQ(p2[13], "2");
    const auto vs = line_of(a.profile_csv(), "all,vs,0,5,");
    ASSERT_EQ(vs.size(), 10u);
    EXPECT_EQ(vs[7], "220");
}

TEST(Streaming, ValuesAtOrBelowZeroHaveNoLogs) {
    observation_layout l;
    l.frequencies = {1.0};
    l.depths = {0.0};
    stream_statistics s(l, {"p"});
    for (const double x : {-1.0, 0.0, 2.0}) {
        s.add(0, std::vector<double>{x, 100, 0, 0});
    }
    const auto row = line_of(s.statistics_csv(), "p,transfer,");
    ASSERT_EQ(row.size(), 14u);
    EXPECT_EQ(row[6], "0.3333333333333333");
    EXPECT_EQ(row[7], "");
    EXPECT_EQ(row[8], "");
    EXPECT_EQ(row[10], "0");
}

} // namespace
