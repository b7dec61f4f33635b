#include "fft/wvfast.hpp"
#include "sitewave/steps.hpp"
#include "steps/grid.hpp"
#include "steps/history.hpp"
#include "steps/record.hpp"
#include "steps/spectral.hpp"
#include "steps/steps.hpp"
#include "support/scratch_dir.hpp"
#include "threads/helper_thread.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace sitewave;
using namespace sitewave::steps;

namespace {

TEST(grid, transform_length) {
    const struct {
        int nt, nf, if1;
    } cases[] = {{0, 4, 2},         {1, 4, 2},        {2, 4, 2},          {3, 4, 2},
                 {4, 4, 2},         {5, 8, 3},        {300, 512, 9},      {512, 512, 9},
                 {4096, 4096, 12},  {4097, 8192, 13}, {16384, 16384, 14}, {16385, 32768, 15},
                 {32768, 32768, 15}};
    for (const auto& c : cases) {
        const auto len = choose_length(c.nt);
        ASSERT_TRUE(len) << c.nt;
        EXPECT_EQ(len->nf, c.nf) << c.nt;
        EXPECT_EQ(len->if1, c.if1) << c.nt;
    }
    EXPECT_FALSE(choose_length(32769));
    EXPECT_FALSE(choose_length(100000));
}

TEST(grid, three_hundred_samples_at_one_hundredth_of_a_second) {
    const grid g = make_grid(512, 0.01f).value();
    EXPECT_EQ(g.nom, 257);
    EXPECT_EQ(g.iom, 1);
    EXPECT_EQ(g.dur, 512.0f * 0.01f);
    EXPECT_EQ(g.dom, 6.2831855f / g.dur);
    EXPECT_EQ(g.eom, 257.0f * g.dom);
    // The highest frequency shown is one step above the Nyquist frequency of 50 Hz.
    EXPECT_NEAR(g.eom / two_pi, 257.0 / 5.12, 1e-4);
    EXPECT_NEAR(static_cast<float>(g.nom - 1) * g.dom / two_pi, 50.0, 1e-4);
}

// Filter weights at and around each corner: 5, 10, 20, 30 Hz, in rad/s.
// A heading and n samples at 0.005 s, each line ending in `end`.
std::string samples(int n, const std::string& end = "\n") {
    std::string text = "Time,H1,H2,V1" + end;
    for (int i = 0; i < n; ++i) {
        text += std::to_string(i * 0.005) + "," + std::to_string(std::sin(i * 0.1)) + ",0.5,-0.25" +
                end;
    }
    return text;
}

using guess = scratch_dir;

// The grid guessed from a record file is the one its reading gives, or none.
TEST_F(guess, likely_grid_of_record_files) {
    const struct {
        const char* what;
        std::string text;
        bool guessed;
    } cases[] = {
        {"plain", samples(300), true},
        {"a power of two", samples(512), true},
        {"one more", samples(513), true},
        {"CR LF, no end on the last line",
         samples(600, "\r\n").substr(0, samples(600, "\r\n").size() - 2), true},
        {"the longest transform", samples(32768), true},
        {"longer", samples(32769), false},
        {"one sample", samples(1), false},
        {"exponent in a time", "t\n0,1,2,3\n5e-3,1,2,3\n0.01,1,2,3\n", true},
        {"repeat count", "t\n0,3*1\n0.1,1,2,3\n0.2,1,2,3\n", false},
        {"three values", "t\n0,1,2\n0.1,1,2\n0.2,1,2\n", false},
        {"times falling", "t\n0.1,1,2,3\n0,1,2,3\n0.2,1,2,3\n", false},
    };
    for (const auto& c : cases) {
        const std::string path = write("r.csv", c.text);
        const auto g = likely_grid(path);
        ASSERT_EQ(g.has_value(), c.guessed) << c.what;
        if (g) {
            textio::io_state st;
            const record rec = read_record("r.csv", st, path);
            const grid want = make_grid(choose_length(rec.nt)->nf, rec.dt).value();
            EXPECT_EQ(g->dom, want.dom) << c.what;
            EXPECT_EQ(g->nom, want.nom) << c.what;
        }
    }
    // Only regular files are read: a pipe named as the record keeps what it holds for the run.
    const auto fifo = (dir_ / "pipe.csv").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(likely_grid(fifo));
    EXPECT_FALSE(likely_grid(dir_.string()));
    EXPECT_FALSE(likely_grid((dir_ / "missing.csv").string()));
}

// A table entry is refused when it or its modulus is not finite: parts near the float limit
// whose modulus overflows, and not those whose modulus stays finite.
TEST(grid, table_moduli_near_the_float_limit) {
    const struct {
        cplx v;
        bool refused;
    } cases[] = {{{0x1p126f, 0x1p126f}, false}, {{-3e38f, 1.0f}, false},  {{3e38f, 3e38f}, true},
                 {{-2.5e38f, -2.5e38f}, true},  {{1.0f, INFINITY}, true}, {{NAN, 0.0f}, true}};
    const grid g = make_grid(8, 0.01f).value();
    for (const auto& c : cases) {
        tables t = table_storage(g.nom);
        t.pamp.col[1][2] = c.v;
        EXPECT_EQ(!check_tables(t, g), c.refused) << c.v.re << " " << c.v.im;
    }
}

TEST(spectral, trapezoid_weights) {
    const float w = two_pi;
    const pass_band band{true, 5 * w, 10 * w, 20 * w, 30 * w};
    const struct {
        float hz;
        std::optional<float> weight;
    } cases[] = {
        {4.0f, std::nullopt}, {5.0f, 0.0f},          {7.5f, 0.5f},
        {10.0f, 1.0f},        {15.0f, 1.0f},         {20.0f, 1.0f},
        {25.0f, 0.5f},        {30.0f, std::nullopt}, {31.0f, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto got = band_weight(band, c.hz * w);
        ASSERT_EQ(got.has_value(), c.weight.has_value()) << c.hz;
        if (got) {
            EXPECT_NEAR(*got, *c.weight, 1e-6) << c.hz;
        }
    }
}

TEST(spectral, sharp_and_overlapping_edges) {
    // Equal corners: a sharp edge, never a division by zero.
    const pass_band sharp{true, 10.0f, 10.0f, 20.0f, 20.0f};
    EXPECT_FALSE(band_weight(sharp, 9.99f));
    EXPECT_EQ(band_weight(sharp, 10.0f), 1.0f);
    EXPECT_EQ(band_weight(sharp, 19.99f), 1.0f);
    EXPECT_FALSE(band_weight(sharp, 20.0f));
    // Falling ramp below the top of the rising one: where both apply the falling one decides.
    const pass_band overlap{true, 10.0f, 30.0f, 15.0f, 40.0f};
    EXPECT_EQ(*band_weight(overlap, 12.0f), 0.1f);
    EXPECT_EQ(*band_weight(overlap, 20.0f), (40.0f - 20.0f) / 25.0f);
    // Without the filter everything below 99999.9 rad/s passes with weight 1.
    const pass_band none{};
    EXPECT_EQ(band_weight(none, 0.5f), 1.0f);
    EXPECT_EQ(band_weight(none, 99999.8f), 1.0f);
    EXPECT_FALSE(band_weight(none, 99999.9f));
}

// A sampled sine taken through the run's steps: forward transform, processing, inverse.
std::vector<float> process_sine(double f_hz, int nyes, double amplitude, int nf, float dt) {
    sitewave::record rec;
    for (int i = 0; i < nf; ++i) {
        const double t = i * static_cast<double>(dt);
        rec.xr1.push_back(static_cast<float>(amplitude * std::sin(2 * M_PI * f_hz * t)));
        rec.time.push_back(static_cast<float>(t));
    }
    rec.yr1 = rec.zr1 = rec.xr1;
    rec.nt = nf;
    rec.dt = dt;
    auto s = sitewave::forward_spectra(rec, nf);
    EXPECT_TRUE(s.ok());
    const grid g = make_grid(nf, dt).value();
    EXPECT_TRUE(sitewave::process(*s, g, pass_band{}, nyes).ok());
    auto h = sitewave::inverse_spectra(std::move(*s), g);
    EXPECT_TRUE(h.ok());
    return h->xr1;
}

TEST(spectral, integration_and_differentiation_of_a_sine) {
    const int nf = 1024;
    const float dt = 0.01f;
    const double f = 12.5; // bin 128 of the grid: 128/(1024*0.01) Hz
    const double w = 2 * M_PI * f;
    const auto integ = process_sine(f, integrate, 1.0, nf, dt);
    const auto diff = process_sine(f, differentiate, 1.0, nf, dt);
    const auto same = process_sine(f, 0, 1.0, nf, dt);
    for (int i = 0; i < nf; ++i) {
        const double t = i * static_cast<double>(dt);
        EXPECT_NEAR(integ[static_cast<std::size_t>(i)], -std::cos(w * t) / w, 1e-5) << i;
        EXPECT_NEAR(diff[static_cast<std::size_t>(i)], w * std::cos(w * t), 1e-3 * w) << i;
        EXPECT_NEAR(same[static_cast<std::size_t>(i)], std::sin(w * t), 1e-5) << i;
    }
}

TEST(spectral, zero_frequency_removed_and_rows_above_nom_kept) {
    std::vector<cplx> a(8, cplx{3.0f, 1.0f});
    std::span<cplx> parts[] = {a};
    process_spectra(parts, 5, 1.0f, pass_band{}, 0);
    EXPECT_EQ(a[0], (cplx{0.0f, 0.0f}));
    EXPECT_EQ(a[4], (cplx{3.0f, 1.0f}));
    EXPECT_EQ(a[5], (cplx{3.0f, 1.0f}));
    // Integration is (b/w, -a/w); differentiation (-b*w, a*w).
    std::vector<cplx> b(4, cplx{3.0f, 1.0f});
    std::span<cplx> pb[] = {b};
    process_spectra(pb, 3, 2.0f, pass_band{}, integrate);
    EXPECT_EQ(b[1], (cplx{0.5f, -1.5f}));
    EXPECT_EQ(b[2], (cplx{0.25f, -0.75f}));
    std::vector<cplx> c(4, cplx{3.0f, 1.0f});
    std::span<cplx> pc[] = {c};
    process_spectra(pc, 3, 2.0f, pass_band{}, differentiate);
    EXPECT_EQ(c[2], (cplx{-4.0f, 12.0f}));
}

TEST(history, conjugates_fill_negative_frequencies) {
    std::vector<cplx> a(8);
    for (std::size_t i = 0; i < 8; ++i) {
        a[i] = {static_cast<float>(i), static_cast<float>(10 + i)};
    }
    complete_negative_frequencies(a);
    const std::vector<cplx> expected = {{0, 10}, {1, 11},  {2, 12},  {3, 13},
                                        {4, 14}, {3, -13}, {2, -12}, {1, -11}};
    EXPECT_EQ(a, expected);
}

TEST(history, extremes_start_at_zero) {
    const std::vector<float> pos = {1.0f, 3.0f, 2.0f};
    const std::vector<float> neg = {-1.0f, -3.0f};
    EXPECT_EQ(find_extremes(pos).min, 0.0f);
    EXPECT_EQ(find_extremes(pos).max, 3.0f);
    EXPECT_EQ(find_extremes(neg).min, -3.0f);
    EXPECT_EQ(find_extremes(neg).max, 0.0f);
}

// Work queued before finish() is done on the helper, in order; work posted after it is done by
// the caller at once, and what was queued is still done before the helper ends.
TEST(background, finish_lets_queued_work_end_and_runs_later_work_here) {
    const auto here = std::this_thread::get_id();
    std::vector<int> order;
    std::thread::id ran_on[3];
    {
        background helper;
        helper.start();
        std::future<void> queued[2];
        for (int k = 0; k < 2; ++k) {
            queued[k] = helper.post([&, k] {
                order.push_back(k);
                ran_on[k] = std::this_thread::get_id();
            });
        }
        helper.finish();
        auto later = helper.post([&] { ran_on[2] = std::this_thread::get_id(); });
        EXPECT_EQ(later.wait_for(std::chrono::seconds(0)), std::future_status::ready);
        queued[1].get();
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1}));
    EXPECT_EQ(ran_on[2], here);
    EXPECT_NE(ran_on[0], here);
    EXPECT_EQ(ran_on[1], ran_on[0]);
}

} // namespace
