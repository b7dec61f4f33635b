// The padding of a batch run: how long a profile's response lasts, against the arrivals of a
// layer over a half-space worked out by hand, and the transform length chosen from it; and the
// library's checks of the options that go with it.

#include "batch/padding.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

using sitewave::batch_options;
using sitewave::layer_table;
using sitewave::padding;
using sitewave::batch::decay_time;
using sitewave::batch::padded_length;
using sitewave::batch::response_decay;

// One layer over the half-space, densities 1, almost no damping (Q 1e6). Vp is chosen so that
// the vertical table's effective velocity Vs sqrt(3 / (1 - Vs^2/Vp^2)) is 2 Vs: with Vp = 2 Vs
// it is Vs sqrt(4).
layer_table layer_over_half_space(float vs1, float thickness, float vs2) {
    layer_table t;
    t.resize(2);
    const float vs[2] = {vs1, vs2};
    for (std::size_t k = 0; k < 2; ++k) {
        t.dns[k] = 1.0f;
        t.vs[k] = vs[k];
        t.vp[k] = 2.0f * vs[k];
        t.qs[k] = 1e6f;
        t.qp[k] = 1e6f;
        t.fs[k] = 0.0f;
        t.fp[k] = 0.0f;
    }
    t.thk[0] = thickness;
    return t;
}

// The SH wave of unit amplitude arriving at the surface first at tau = H/Vs with 2T, T =
// 2/(1 + a) (a = Vs1/Vs2, the impedance ratio), then every 2 tau with the base's reflection r =
// (a - 1)/(a + 1) once more: the n-th arrival is 2T r^n at (2n + 1) tau. It counts while |r|^n
// > 1e-3; the vertical wave does the same at twice the velocity, so ends first. Delays of whole
// samples make each arrival one sample.
TEST(response_decay, layer_over_half_space_reverberates_as_worked_out) {
    const struct {
        float vs1, h, vs2;
        int nin;
        int samples; // (2n + 1) tau / dt of the last arrival above 1e-3 of the first
        bool found;
    } cases[] = {
        // r = -0.6: 0.6^13 = 1.3e-3, 0.6^14 = 7.8e-4; tau = 10 samples.
        {100.0f, 10.0f, 400.0f, 1, 27 * 10, true},
        // r = -0.5: 0.5^9 = 1.95e-3, 0.5^10 = 9.8e-4; tau = 10 samples.
        {100.0f, 10.0f, 300.0f, 1, 19 * 10, true},
        // tau = 20 samples.
        {100.0f, 20.0f, 400.0f, 1, 27 * 20, true},
        // Surface over the motion at the top of the half-space: 1/cos(kH) rings on without
        // radiation into the half-space, damped only by Q = 1e6: not within 2^20 samples.
        {100.0f, 10.0f, 400.0f, 2, 1 << 20, false},
    };
    for (const auto& c : cases) {
        const decay_time d =
            response_decay(layer_over_half_space(c.vs1, c.h, c.vs2), 0.0f, c.nin, 0.01f, false, 1);
        EXPECT_EQ(d.found, c.found) << c.vs1 << " " << c.h << " " << c.vs2 << " " << c.nin;
        EXPECT_EQ(d.samples, c.samples) << c.vs1 << " " << c.h << " " << c.vs2 << " " << c.nin;
    }
    // No soil: the response is the impulse itself.
    layer_table rock = layer_over_half_space(400.0f, 0.0f, 400.0f);
    rock.resize(1);
    rock.dns[0] = 1.0f;
    rock.vs[0] = 400.0f;
    rock.vp[0] = 800.0f;
    rock.qs[0] = rock.qp[0] = 50.0f;
    for (const int nin : {1, 2}) {
        const decay_time d = response_decay(rock, 0.3f, nin, 0.005f, false, 2);
        EXPECT_TRUE(d.found);
        EXPECT_EQ(d.samples, 0) << nin;
    }
}

TEST(padded_length, record_and_padding_in_a_power_of_two) {
    const struct {
        padding pad;
        double seconds;
        bool dialogue_files;
        int nt;
        decay_time decay;
        int nf;
        bool note;
    } cases[] = {
        {padding::none, 0.0, false, 4096, {}, 4096, false},
        {padding::none, 0.0, false, 5346, {}, 8192, false},
        {padding::none, 0.0, false, 3, {}, 4, false},
        {padding::automatic, 0.0, true, 4096, {5000, true}, 4096, false},
        {padding::fixed, 60.0, true, 4096, {}, 4096, false},
        {padding::automatic, 0.0, false, 4000, {270, true}, 8192, false},
        {padding::automatic, 0.0, false, 3826, {270, true}, 4096, false},
        {padding::automatic, 0.0, false, 3827, {270, true}, 8192, false},
        {padding::automatic, 0.0, false, 3, {0, true}, 4, false},
        {padding::automatic, 0.0, false, 4096, {0, true}, 4096, false},
        {padding::automatic, 0.0, false, 4096, {1 << 20, false}, 1 << 20, true},
        {padding::automatic, 0.0, false, 1 << 19, {1 << 19, true}, 1 << 20, false},
        {padding::automatic, 0.0, false, (1 << 19) + 1, {1 << 19, true}, 1 << 20, true},
        {padding::fixed, 0.0, false, 4096, {}, 4096, false},
        {padding::fixed, 10.0, false, 4096, {}, 8192, false},
        {padding::fixed, 0.005, false, 4096, {}, 8192, false}, // half a step is a step
        {padding::fixed, 1e6, false, 4096, {}, 1 << 20, true},
    };
    for (const auto& c : cases) {
        batch_options o;
        o.pad = c.pad;
        o.pad_seconds = c.seconds;
        o.dialogue_files = c.dialogue_files;
        std::string note;
        EXPECT_EQ(padded_length(o, c.nt, 0.01f, c.decay, note), c.nf)
            << static_cast<int>(c.pad) << " " << c.nt << " " << c.decay.samples;
        EXPECT_EQ(!note.empty(), c.note) << note;
    }
}

// Options the command line never makes are still refused by the library: usage errors naming
// the option, nothing read.
TEST(batch_options_check, spectra_padding_and_units) {
    const struct {
        const char* why;
        void (*set)(batch_options&);
        const char* says;
    } cases[] = {
        {"period 0", [](batch_options& o) { o.period_list = {0.0}; }, "--periods"},
        {"period too long",
         [](batch_options& o) {
             o.period_list = {0.1, 1e5};
         },
         "--periods"},
        {"period NaN", [](batch_options& o) { o.period_list = {nan}; }, "--periods"},
        {"too many periods", [](batch_options& o) { o.period_list.assign(10001, 1.0); },
         "--periods"},
        {"RotD without spectra",
         [](batch_options& o) {
             o.spectra = false;
             o.rotd = true;
         },
         "--rotd"},
        {"pad negative",
         [](batch_options& o) {
             o.pad = padding::fixed;
             o.pad_seconds = -1.0;
         },
         "--pad"},
        {"pad NaN",
         [](batch_options& o) {
             o.pad = padding::fixed;
             o.pad_seconds = nan;
         },
         "--pad"},
        {"pad too long",
         [](batch_options& o) {
             o.pad = padding::fixed;
             o.pad_seconds = 2e6;
         },
         "--pad"},
        {"unit", [](batch_options& o) { o.units = static_cast<sitewave::record_unit>(9); },
         "--units"},
    };
    for (const auto& c : cases) {
        batch_options o;
        o.soils = {"no-such-profile.csv"};
        o.records = {{"no-such-record.csv", {}}};
        o.spectra = true;
        o.out = "no-such-folder";
        c.set(o);
        const auto r = sitewave::prepare_batch(o);
        ASSERT_FALSE(r) << c.why;
        EXPECT_EQ(r.err().what, sitewave::error::kind::usage) << c.why;
        EXPECT_EQ(r.err().message.rfind(c.says, 0), 0u) << c.why << ": " << r.err().message;
    }
}

} // namespace
