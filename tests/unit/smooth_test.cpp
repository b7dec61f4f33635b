// Konno-Ohmachi smoothing: the weight's closed form, its reach, and the windowed sums against
// the full O(n^2) sums.

#include "spectral/smooth.hpp"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <span>
#include <vector>

namespace {

using namespace sitewave::spectral;

std::vector<double> smoothed_one(const std::vector<float>& x, double b) {
    const std::span<const float> cols[] = {x};
    return konno_ohmachi(cols, b)[0];
}

TEST(smooth, the_weight_and_its_reach) {
    // 1 at fc; zero where b log10(f/fc) is a multiple of pi; symmetric in log10(f/fc).
    EXPECT_EQ(konno_ohmachi_weight(3.0, 3.0, 40.0), 1.0);
    const double f0 = 2.0 * std::pow(10.0, M_PI / 40.0);
    EXPECT_NEAR(konno_ohmachi_weight(f0, 2.0, 40.0), 0.0, 1e-28);
    EXPECT_DOUBLE_EQ(konno_ohmachi_weight(6.0, 3.0, 20.0), konno_ohmachi_weight(1.5, 3.0, 20.0));
    // x = 1: (sin 1)^4.
    const double f1 = 5.0 * std::pow(10.0, 1.0 / 40.0);
    EXPECT_NEAR(konno_ohmachi_weight(f1, 5.0, 40.0), std::pow(std::sin(1.0), 4), 1e-13);
    const struct {
        double b, floor;
    } cases[] = {{40.0, 1e-9}, {10.0, 1e-9}, {100.0, 1e-6}, {400.0, 1e-12}};
    for (const auto& c : cases) {
        const double r = konno_ohmachi_reach(c.b, c.floor);
        // At the reach, the envelope 1/x^4 is the floor; beyond, every weight is below it.
        const double x = c.b * std::log10(r);
        EXPECT_NEAR(std::pow(x, -4.0), c.floor, c.floor * 1e-9) << c.b;
        for (double q = 1.0001; q < 3.0; q *= 1.01) {
            EXPECT_LE(konno_ohmachi_weight(r * q, 1.0, c.b), c.floor) << c.b << " " << q;
            EXPECT_LE(konno_ohmachi_weight(1.0 / (r * q), 1.0, c.b), c.floor) << c.b << " " << q;
        }
    }
}

TEST(smooth, a_constant_spectrum_stays_constant) {
    for (const double b : {5.0, 40.0, 150.0}) {
        for (const std::size_t n : {2u, 3u, 17u, 1025u}) {
            const std::vector<float> x(n, 0.75f);
            const auto y = smoothed_one(x, b);
            for (std::size_t k = 0; k < n; ++k) {
                EXPECT_NEAR(y[k], 0.75, 0.75 * 1e-14) << b << " " << n << " " << k;
            }
        }
    }
}

TEST(smooth, zero_hertz_is_kept_and_not_summed) {
    // A spike at 0 Hz leaves the other frequencies alone.
    std::vector<float> x(64, 1.0f);
    x[0] = 1e6f;
    const auto y = smoothed_one(x, 40.0);
    EXPECT_EQ(y[0], 1e6);
    for (std::size_t k = 1; k < x.size(); ++k) {
        EXPECT_NEAR(y[k], 1.0, 1e-14) << k;
    }
}

TEST(smooth, the_window_matches_the_full_sums) {
    // Random spectra, several at once: values uniform in (0, 1], and values spanning six
    // decades; bandwidths whose windows hold most points (40) and cut them short (2000).
    std::mt19937 gen(12345);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const struct {
        double b;
        bool decades;
    } cases[] = {{40.0, true}, {40.0, false}, {300.0, true}, {2000.0, false}, {2000.0, true}};
    for (const auto& [b, decades] : cases) {
        const std::size_t n = 1501;
        std::vector<std::vector<float>> cols(3, std::vector<float>(n));
        for (auto& c : cols) {
            for (auto& v : c) {
                const double r = u(gen);
                v = static_cast<float>(decades ? std::pow(10.0, 6.0 * r - 3.0) : 1.0 - r);
            }
        }
        const std::span<const float> spans[] = {cols[0], cols[1], cols[2]};
        const auto fast = konno_ohmachi(spans, b);
        for (std::size_t c = 0; c < 3; ++c) {
            const std::vector<double> d(cols[c].begin(), cols[c].end());
            const auto full = konno_ohmachi_full(d, b);
            const double top = *std::max_element(d.begin(), d.end());
            double worst = 0.0;
            for (std::size_t k = 0; k < n; ++k) {
                const double diff = std::fabs(fast[c][k] - full[k]);
                worst = std::max(worst, diff / full[k]);
                // What the points left out weigh (at most the floor) times the largest value.
                EXPECT_LE(diff, 2 * konno_ohmachi_floor * top) << "b " << b << " at " << k;
            }
            // Relative: on values of one order; a spectrum whose neighbouring values differ
            // by a million can differ by more at its smallest values, within the bound above.
            if (!decades) {
                EXPECT_LT(worst, 1e-6) << "b " << b << " column " << c;
            }
        }
    }
}

TEST(smooth, the_points_left_out_weigh_at_most_the_floor) {
    // Summed directly from the formula on either side of the window, for narrow and wide
    // windows; and a window does leave points out when b is large.
    const struct {
        std::size_t n;
        double b;
    } cases[] = {{3001, 40.0}, {3001, 300.0}, {20001, 100.0}, {5000, 2000.0}};
    for (const auto& c : cases) {
        for (const std::size_t k : {1u, 2u, 7u, 100u, 1500u, 2999u}) {
            const auto w = konno_ohmachi_window(k, c.n, c.b, konno_ohmachi_floor);
            ASSERT_LE(w.first, k);
            ASSERT_GE(w.last, k);
            ASSERT_LT(w.last, c.n);
            double out = 0.0;
            for (std::size_t j = 1; j < c.n; ++j) {
                if (j < w.first || j > w.last) {
                    out +=
                        konno_ohmachi_weight(static_cast<double>(j), static_cast<double>(k), c.b);
                }
            }
            EXPECT_LE(out, konno_ohmachi_floor) << c.n << " " << c.b << " " << k;
        }
    }
    const auto w = konno_ohmachi_window(100, 5000, 2000.0, konno_ohmachi_floor);
    EXPECT_GT(w.first, 10u);
    EXPECT_LT(w.last, 1000u);
    std::vector<float> spike(5000, 0.0f);
    spike[4999] = 1.0f;
    EXPECT_EQ(smoothed_one(spike, 2000.0)[100], 0.0);
}

TEST(smooth, a_tone_is_spread_over_its_band) {
    // A single line at k0: the smoothed value at k is W(k0, k) / sum_j W(j, k), from the
    // weight's formula directly.
    const std::size_t n = 400, k0 = 200;
    std::vector<float> x(n, 0.0f);
    x[k0] = 1.0f;
    const double b = 40.0;
    const auto y = smoothed_one(x, b);
    for (const std::size_t k : {150u, 190u, 199u, 200u, 210u, 260u}) {
        double total = 0.0;
        for (std::size_t j = 1; j < n; ++j) {
            total += konno_ohmachi_weight(static_cast<double>(j), static_cast<double>(k), b);
        }
        const double want =
            konno_ohmachi_weight(static_cast<double>(k0), static_cast<double>(k), b) / total;
        EXPECT_NEAR(y[k], want, 1e-9 * std::max(want, 1e-12)) << k;
    }
}

} // namespace

TEST(smooth, each_spectrum_is_smoothed_the_same_whatever_comes_with_it) {
    // Spectra are summed side by side in groups: five at once (a group of three, then two), four
    // (three, then one), or one by one give the same bits.
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<std::vector<float>> cols(5, std::vector<float>(700));
    for (auto& c : cols) {
        for (auto& v : c) {
            v = static_cast<float>(u(gen));
        }
    }
    std::vector<std::span<const float>> spans(cols.begin(), cols.end());
    for (const std::size_t m : {std::size_t{5}, std::size_t{4}}) {
        const auto together = konno_ohmachi(std::span(spans.data(), m), 40.0);
        for (std::size_t c = 0; c < m; ++c) {
            const auto alone = konno_ohmachi(std::span(spans.data() + c, 1), 40.0);
            EXPECT_TRUE(together[c] == alone[0]) << m << " spectra, number " << c;
        }
    }
}
