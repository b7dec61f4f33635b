// The library as a caller sees it: errors as values, arguments outside a function's contract
// refused as values, and two dialogues on two threads at once.

#include "sitewave/sitewave.hpp"
#include "support/scratch_dir.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <limits>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using sitewave::error;

class library : public scratch_dir {};

// Each kind of failure comes back as a value holding what the report prints.
TEST_F(library, failures_are_returned_as_errors) {
    const std::string soil_head = "t\n0\n1\nc\n1\nh\n";
    const struct {
        const char* what;
        bool record;
        std::string text; // file contents; none: the file does not exist
        error::kind kind;
        std::string report; // the start of the report
    } cases[] = {
        {"missing record", true, "", error::kind::fatal, "open: No such file or directory\n"},
        {"invalid number", true, "t,a,b,c\n0,1,x,2\n", error::kind::fatal,
         "invalid number: incomprehensible list input\napparent state: unit 11 named "},
        {"early end", false, "t\n0\n", error::kind::fatal,
         "list in: end of file\napparent state: unit 4 named "},
        {"wave type 3", false, "t\n0\n3\nc\n1\nh\n1,2,500,20,0,200,10,0,0\n", error::kind::refused,
         "sitewave: "},
        {"Vp below Vs", false, soil_head + "1,2,100,20,0,200,10,0,0\n", error::kind::refused,
         "sitewave: "},
    };
    for (const auto& c : cases) {
        const std::string path =
            c.text.empty() ? (dir_ / "nothere.csv").string() : write("in.csv", c.text);
        const auto e =
            c.record ? sitewave::read_record(path).err() : sitewave::read_profile(path).err();
        EXPECT_EQ(e.what, c.kind) << c.what;
        EXPECT_EQ(e.report().substr(0, c.report.size()), c.report) << c.what;
        EXPECT_EQ(e.status(), c.kind == error::kind::refused ? 1 : 2) << c.what;
        if (c.kind == error::kind::fatal) {
            EXPECT_EQ(e.name, path) << c.what;
        } else {
            EXPECT_NE(e.message.find(path), std::string::npos) << c.what;
        }
    }
}

std::string slurp(const fs::path& p) { return read_file(p.string()); }

// Two different runs at once, each in its own folder with its own console streams: each ends
// as its reference case says, byte for byte.
TEST_F(library, two_dialogues_on_two_threads) {
    const fs::path cases = SITEWAVE_CASES;
    const char* names[] = {"real-elcentro", "transfer-beyond-critical-angle"};
    std::string console[2];
    std::thread threads[2];
    for (int k = 0; k < 2; ++k) {
        const fs::path dir = dir_ / names[k];
        fs::create_directories(dir);
        for (const auto& e : fs::directory_iterator(cases / names[k])) {
            if (e.is_regular_file()) {
                fs::copy_file(e.path(), dir / e.path().filename());
            }
        }
        threads[k] = std::thread([k, dir, &console] {
            std::FILE* in = std::fopen((dir / "stdin.txt").c_str(), "rb");
            std::FILE* out = std::tmpfile();
            // The first with the overlap, the second as the plain sequence.
            const auto r = sitewave::run_dialogue({in, out, dir.string(), k});
            EXPECT_TRUE(r.ok()) << (r ? "" : r.err().report());
            std::rewind(out);
            for (int ch; (ch = std::fgetc(out)) != EOF;) {
                console[k].push_back(static_cast<char>(ch));
            }
            std::fclose(in);
            std::fclose(out);
        });
    }
    for (int k = 0; k < 2; ++k) {
        threads[k].join();
        const fs::path want = cases / names[k] / "expected";
        EXPECT_EQ(console[k], slurp(want / "stdout.txt")) << names[k];
        for (const char* f : {"Amp-Factors.csv", "amp1.csv", "wave1.csv"}) {
            EXPECT_EQ(slurp(dir_ / names[k] / f), slurp(want / f)) << names[k] << " " << f;
        }
    }
}

// A caller that answers each question only once it is on the console (as a script driving the
// program through pipes does): every question comes out before the run waits for its answer,
// and the run ends as its reference case says.
TEST_F(library, each_question_is_out_before_its_answer_is_read) {
    const fs::path cases = SITEWAVE_CASES;
    const fs::path from = cases / "real-elcentro";
    for (const auto& e : fs::directory_iterator(from)) {
        if (e.is_regular_file() && e.path().filename() != "stdin.txt") {
            fs::copy_file(e.path(), dir_ / e.path().filename());
        }
    }
    const char* questions[] = {"e.g., wave.csv)\n", "(Enter -> 2):\n", "(Yes=1 or No=0) :\n"};
    const char* answers[] = {"elcentro.csv\n", "0\n", "0\n"};
    int to_run[2], from_run[2];
    ASSERT_EQ(::pipe(to_run), 0);
    ASSERT_EQ(::pipe(from_run), 0);
    std::FILE* in = ::fdopen(to_run[0], "rb");
    std::FILE* out = ::fdopen(from_run[1], "wb");
    std::thread run([&] {
        const auto r = sitewave::run_dialogue({in, out, dir_.string()});
        EXPECT_TRUE(r.ok()) << (r ? "" : r.err().report());
        std::fclose(out); // the end of the console for the reader below
    });
    std::string console;
    std::size_t asked = 0;
    char buf[4096];
    for (;;) {
        pollfd p{from_run[0], POLLIN, 0};
        const bool more = ::poll(&p, 1, 20000) > 0; // 20 s: the run is waiting for an answer
        const ssize_t n = more ? ::read(from_run[0], buf, sizeof buf) : -1;
        if (n <= 0) {
            EXPECT_TRUE(more) << "no question came out after:\n" << console;
            break;
        }
        console.append(buf, static_cast<std::size_t>(n));
        while (asked < std::size(questions) &&
               console.find(questions[asked]) != std::string::npos) {
            ASSERT_EQ(::write(to_run[1], answers[asked], std::strlen(answers[asked])),
                      static_cast<ssize_t>(std::strlen(answers[asked])));
            ++asked;
        }
    }
    ::close(to_run[1]);
    run.join();
    std::fclose(in);
    ::close(from_run[0]);
    EXPECT_EQ(asked, std::size(questions));
    EXPECT_EQ(console, slurp(from / "expected" / "stdout.txt"));
    for (const char* f : {"Amp-Factors.csv", "amp1.csv", "wave1.csv"}) {
        EXPECT_EQ(slurp(dir_ / f), slurp(from / "expected" / f)) << f;
    }
}

// ---------------------------------------------------------------------------------------------
// Arguments outside a function's contract: an error of kind `argument` naming the function,
// never a crash, an exception or a file written.

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float qnan = std::numeric_limits<float>::quiet_NaN();

// What a call gave: "ok", "refused", "argument" or another kind's name, so that a failing case
// prints what came instead.
template <class R> std::string outcome(const R& r) {
    if (r) {
        return "ok";
    }
    switch (r.err().what) {
    case error::kind::argument:
        return "argument";
    case error::kind::refused:
        return "refused";
    case error::kind::fatal:
        return "fatal: " + r.err().message;
    case error::kind::system:
        return "system: " + r.err().message;
    default:
        return "other: " + r.err().message;
    }
}

// Two complex values with the same parts.
::testing::AssertionResult same(sitewave::cplx a, sitewave::cplx b) {
    if (a.re == b.re && a.im == b.im) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "(" << a.re << ", " << a.im << ") is not (" << b.re << ", " << b.im << ")";
}

// An argument error's report names the function first.
template <class R> bool names(const R& r, const std::string& function) {
    return !r && r.err().report().rfind("sitewave: " + function + ": ", 0) == 0;
}

// n samples at 0.01 s: a ramp on H1, constants on H2 and V1.
sitewave::record small_record(int n) {
    sitewave::record rec;
    for (int i = 0; i < n; ++i) {
        rec.time.push_back(0.01f * static_cast<float>(i));
        rec.xr1.push_back(static_cast<float>(i));
        rec.yr1.push_back(1.0f);
        rec.zr1.push_back(-1.0f);
    }
    rec.nt = n;
    rec.dt = 0.01f;
    return rec;
}

sitewave::spectra filled_spectra(std::size_t nx, std::size_t ny, std::size_t nz) {
    const sitewave::cplx one{1.0f, 0.0f};
    return {std::vector<sitewave::cplx>(nx, one), std::vector<sitewave::cplx>(ny, one),
            std::vector<sitewave::cplx>(nz, one)};
}

sitewave::tables filled_tables(std::size_t rows, sitewave::cplx v = {1.0f, 0.0f}) {
    const std::vector<sitewave::cplx> col(rows, v);
    return {{{col, col}}, {{col, col}}};
}

// The grid of 8 points at 0.01 s, built by hand (nom 5).
sitewave::grid grid8() { return {0.08f, 6.2831855f / 0.08f, 1, 5, 5 * (6.2831855f / 0.08f)}; }

TEST(library_arguments, choose_length) {
    const struct {
        int nt, max_if1;
        const char* want; // "ok", "refused" or "argument"
        int nf;
    } cases[] = {
        {0, 15, "ok", 4},
        {3, 2, "ok", 4},
        {5, 2, "refused", 0},
        {32768, 15, "ok", 32768},
        {32769, 15, "refused", 0},
        {1 << 20, 20, "ok", 1 << 20},
        {(1 << 20) + 1, 20, "refused", 0},
        {INT_MAX, 20, "refused", 0},
        {-1, 15, "argument", 0},
        {INT_MIN, 15, "argument", 0},
        {5, 1, "argument", 0},
        {5, 0, "argument", 0},
        {5, -3, "argument", 0},
        {5, 21, "argument", 0},
        {5, 31, "argument", 0}, // 2^31 is not an int
        {INT_MAX, INT_MAX, "argument", 0},
    };
    for (const auto& c : cases) {
        const auto r = sitewave::choose_length(c.nt, c.max_if1);
        ASSERT_EQ(outcome(r), c.want) << c.nt << " " << c.max_if1;
        if (r) {
            EXPECT_EQ(r->nf, c.nf) << c.nt;
            EXPECT_EQ(1 << r->if1, c.nf) << c.nt;
        } else if (r.err().what == error::kind::argument) {
            EXPECT_TRUE(names(r, "choose_length")) << r.err().report();
        }
    }
}

TEST(library_arguments, make_grid) {
    const struct {
        int nf;
        float dt;
        bool ok;
    } cases[] = {
        {4, 0.01f, true},        {512, 0.01f, true},      {1 << 20, 0.001f, true},
        {0, 0.01f, false},       {-4, 0.01f, false},      {INT_MIN, 0.01f, false},
        {2, 0.01f, false},       {3, 0.01f, false},       {6, 0.01f, false},
        {1000, 0.01f, false},    {1 << 21, 0.01f, false}, {INT_MAX, 0.01f, false},
        {512, 0.0f, false},      {512, -0.0f, false},     {512, -0.01f, false},
        {512, qnan, false},      {512, inf, false},       {512, -inf, false},
        {4, 1e-45f, false},      // the frequency step 2 pi / 5.6e-45 overflows
        {1 << 20, 1e33f, false}, // the duration overflows
        {4, 3e38f, false},
    };
    for (const auto& c : cases) {
        const auto g = sitewave::make_grid(c.nf, c.dt);
        ASSERT_EQ(outcome(g), c.ok ? "ok" : "argument") << c.nf << " " << c.dt;
        if (g) {
            // Independent of the library's arithmetic: nf/2 + 1 rows up to the Nyquist frequency.
            EXPECT_EQ(g->nom, c.nf / 2 + 1);
            EXPECT_NEAR(g->dur, c.nf * static_cast<double>(c.dt),
                        1e-6 * static_cast<double>(g->dur));
            EXPECT_NEAR((g->nom - 1) * static_cast<double>(g->dom) / (2 * M_PI),
                        0.5 / static_cast<double>(c.dt), 1e-5 / static_cast<double>(c.dt));
            EXPECT_TRUE(std::isfinite(g->eom));
        } else {
            EXPECT_TRUE(names(g, "make_grid")) << g.err().report();
        }
    }
}

// The transform lengths forward_spectra takes: a power of two from 4 to 2^20, holding the record.
TEST(library_arguments, forward_spectra_lengths) {
    const sitewave::record rec = small_record(3);
    const struct {
        int nf;
        bool ok;
    } cases[] = {{4, true},        {8, true},        {1024, true},    {0, false},
                 {-4, false},      {INT_MIN, false}, {1, false},      {2, false},
                 {3, false},       {6, false},       {12, false},     {1000, false},
                 {1 << 21, false}, {1 << 30, false}, {INT_MAX, false}};
    for (const auto& c : cases) {
        const auto s = sitewave::forward_spectra(rec, c.nf);
        ASSERT_EQ(outcome(s), c.ok ? "ok" : "argument") << c.nf;
        if (s) {
            for (const auto* v : {&s->fx1, &s->fy1, &s->fz1}) {
                EXPECT_EQ(v->size(), static_cast<std::size_t>(c.nf));
            }
            // The zero-frequency entry is the sum of the samples times dt: (0+1+2)*0.01 for H1.
            EXPECT_NEAR(s->fx1[0].re, 0.03, 1e-6) << c.nf;
            EXPECT_NEAR(s->fz1[0].re, -0.03, 1e-6) << c.nf;
        } else {
            EXPECT_TRUE(names(s, "forward_spectra")) << s.err().report();
        }
    }
}

// Records whose arrays disagree with each other or with nt, and records the dialogue refuses.
TEST(library_arguments, forward_spectra_records) {
    const struct {
        const char* what;
        std::function<void(sitewave::record&)> change;
        const char* want;
    } cases[] = {
        {"sound", [](sitewave::record&) {}, "ok"},
        {"time shorter", [](sitewave::record& r) { r.time.pop_back(); }, "argument"},
        {"H1 shorter", [](sitewave::record& r) { r.xr1.pop_back(); }, "argument"},
        {"H2 longer", [](sitewave::record& r) { r.yr1.push_back(0.0f); }, "argument"},
        {"V1 empty", [](sitewave::record& r) { r.zr1.clear(); }, "argument"},
        {"nt above the samples", [](sitewave::record& r) { r.nt = 7; }, "argument"},
        {"nt below the samples", [](sitewave::record& r) { r.nt = 5; }, "argument"},
        {"nt negative", [](sitewave::record& r) { r.nt = -1; }, "argument"},
        {"longer than the transform", [](sitewave::record& r) { r = small_record(9); }, "argument"},
        {"one sample", [](sitewave::record& r) { r = small_record(1); }, "refused"},
        {"no sample", [](sitewave::record& r) { r = small_record(0); }, "refused"},
        {"time step zero", [](sitewave::record& r) { r.dt = 0.0f; }, "refused"},
        {"time step negative", [](sitewave::record& r) { r.dt = -0.01f; }, "refused"},
        {"time step NaN", [](sitewave::record& r) { r.dt = qnan; }, "refused"},
        {"duration overflows", [](sitewave::record& r) { r.dt = 1e38f; }, "refused"},
        {"sample infinite", [](sitewave::record& r) { r.yr1[2] = inf; }, "refused"},
    };
    for (const auto& c : cases) {
        sitewave::record rec = small_record(6);
        c.change(rec);
        const auto s = sitewave::forward_spectra(rec, 8, "rec.csv");
        ASSERT_EQ(outcome(s), c.want) << c.what;
        if (!s && s.err().what == error::kind::refused) {
            EXPECT_EQ(s.err().message.rfind("rec.csv: ", 0), 0u) << c.what;
        } else if (!s) {
            EXPECT_TRUE(names(s, "forward_spectra")) << s.err().report();
        }
    }
}

// Every step that takes spectra on a grid: three vectors of one transform length whose rows the
// grid's nom gives, and a grid of a positive finite frequency step.
TEST_F(library, spectra_on_their_grid) {
    const sitewave::grid g8 = grid8();
    const struct {
        const char* what;
        std::size_t nx, ny, nz;
        int nom;
        float dom;
        bool ok;
    } cases[] = {
        {"sound", 8, 8, 8, 5, g8.dom, true},
        {"H1 shorter", 7, 8, 8, 5, g8.dom, false},
        {"H2 shorter", 8, 7, 8, 5, g8.dom, false},
        {"V1 longer", 8, 8, 9, 5, g8.dom, false},
        {"V1 empty", 8, 8, 0, 5, g8.dom, false},
        {"not a power of two", 6, 6, 6, 4, g8.dom, false},
        {"two entries", 2, 2, 2, 2, g8.dom, false},
        {"none", 0, 0, 0, 1, g8.dom, false},
        {"nom of longer spectra", 8, 8, 8, 9, g8.dom, false},
        {"nom short of the Nyquist row", 8, 8, 8, 4, g8.dom, false},
        {"nom zero", 8, 8, 8, 0, g8.dom, false},
        {"nom negative", 8, 8, 8, -3, g8.dom, false},
        {"nom past any grid", 8, 8, 8, 1 << 20, g8.dom, false},
        {"dom zero", 8, 8, 8, 5, 0.0f, false},
        {"dom negative", 8, 8, 8, 5, -1.0f, false},
        {"dom NaN", 8, 8, 8, 5, qnan, false},
        {"dom infinite", 8, 8, 8, 5, inf, false},
    };
    const sitewave::tables t = filled_tables(16);
    const sitewave::record rec = small_record(8);
    const std::string path = (dir_ / "amp1.csv").string();
    for (const auto& c : cases) {
        sitewave::grid g = g8;
        g.nom = c.nom;
        g.dom = c.dom;
        const std::string want = c.ok ? "ok" : "argument";
        auto s = filled_spectra(c.nx, c.ny, c.nz);
        const auto a = sitewave::amplify(s, t, 1, g);
        EXPECT_EQ(outcome(a), want) << c.what;
        EXPECT_TRUE(a || names(a, "amplify")) << c.what;
        s = filled_spectra(c.nx, c.ny, c.nz);
        const auto p = sitewave::process(s, g, sitewave::pass_band{}, sitewave::integrate);
        EXPECT_EQ(outcome(p), want) << c.what;
        EXPECT_TRUE(p || names(p, "process")) << c.what;
        s = filled_spectra(c.nx, c.ny, c.nz);
        const auto w = sitewave::write_spectra(path, s, g, rec);
        EXPECT_EQ(outcome(w), want) << c.what;
        EXPECT_EQ(fs::exists(path), c.ok) << c.what;
        fs::remove(path);
        const auto h = sitewave::inverse_spectra(filled_spectra(c.nx, c.ny, c.nz), g);
        EXPECT_EQ(outcome(h), want) << c.what;
        EXPECT_TRUE(h || names(h, "inverse_spectra")) << c.what;
        if (h) {
            EXPECT_EQ(h->xr1.size(), c.nx) << c.what;
        }
    }
    // The inverse transform divides by the duration.
    for (const float dur : {0.0f, -0.08f, qnan, inf}) {
        sitewave::grid g = g8;
        g.dur = dur;
        EXPECT_EQ(outcome(sitewave::inverse_spectra(filled_spectra(8, 8, 8), g)), "argument")
            << dur;
    }
}

// The tables' columns hold the grid's rows: every step reading them checks.
TEST_F(library, tables_hold_the_grid_rows) {
    const sitewave::grid g = grid8();
    const std::string path = (dir_ / "Amp-Factors.csv").string();
    const struct {
        const char* what;
        int table, column; // the column cut short (table 0 SH, 1 vertical)
        std::size_t rows;
        bool ok;
    } cases[] = {
        {"nom rows", 0, 0, 5, true},    {"more rows", 1, 1, 9, true},
        {"SH 1 short", 0, 0, 4, false}, {"SH 2 short", 0, 1, 4, false},
        {"V 1 short", 1, 0, 4, false},  {"V 2 empty", 1, 1, 0, false},
    };
    for (const auto& c : cases) {
        sitewave::tables t = filled_tables(5);
        (c.table == 0 ? t.samp : t.pamp).col[static_cast<std::size_t>(c.column)].resize(c.rows);
        const std::string want = c.ok ? "ok" : "argument";
        const auto k = sitewave::check_tables(t, g);
        EXPECT_EQ(outcome(k), want) << c.what;
        EXPECT_TRUE(k || names(k, "check_tables")) << c.what;
        auto s = filled_spectra(8, 8, 8);
        const auto a = sitewave::amplify(s, t, 2, g);
        EXPECT_EQ(outcome(a), want) << c.what;
        const auto w = sitewave::write_factors(path, t, g);
        EXPECT_EQ(outcome(w), want) << c.what;
        EXPECT_EQ(fs::exists(path), c.ok) << c.what;
        fs::remove(path);
    }
}

// nin picks the column of both tables: 1 or 2, nothing else.
TEST(library_arguments, amplify_wave_type) {
    const sitewave::grid g = grid8();
    sitewave::tables t = filled_tables(5);
    t.samp.col[0].assign(5, {2.0f, 0.0f});
    t.samp.col[1].assign(5, {0.0f, 3.0f});
    t.pamp.col[0].assign(5, {5.0f, 0.0f});
    t.pamp.col[1].assign(5, {0.0f, -7.0f});
    const struct {
        int nin;
        std::optional<sitewave::cplx> h, v; // H1 and V1 entry 4 after it, from (1, 0)
    } cases[] = {
        {1, sitewave::cplx{2.0f, 0.0f}, sitewave::cplx{5.0f, 0.0f}},
        {2, sitewave::cplx{0.0f, 3.0f}, sitewave::cplx{0.0f, -7.0f}},
        {0, {}, {}},
        {3, {}, {}},
        {-1, {}, {}},
        {INT_MIN, {}, {}},
        {INT_MAX, {}, {}},
    };
    for (const auto& c : cases) {
        auto s = filled_spectra(8, 8, 8);
        const auto a = sitewave::amplify(s, t, c.nin, g);
        ASSERT_EQ(outcome(a), c.h ? "ok" : "argument") << c.nin;
        if (c.h) {
            EXPECT_TRUE(same(s.fx1[4], *c.h)) << c.nin;
            EXPECT_TRUE(same(s.fy1[4], *c.h)) << c.nin;
            EXPECT_TRUE(same(s.fz1[4], *c.v)) << c.nin;
            EXPECT_TRUE(same(s.fx1[5], {1.0f, 0.0f})) << "entries from nom on";
        } else {
            EXPECT_TRUE(names(a, "amplify")) << a.err().report();
            EXPECT_TRUE(same(s.fx1[4], {1.0f, 0.0f})) << "spectra changed";
        }
    }
}

// A layer over a half-space (rows: density, Vp, Qp, Fp, Vs, Qs, Fs, thickness): a 25 m layer of
// Vs 100 m/s (resonance at 1 Hz) on rock of five times its impedance, damping negligible.
sitewave::layer_table layer_over_rock() {
    sitewave::layer_table t;
    t.resize(2);
    const float rows[2][8] = {{1.6f, 300.0f, 1e6f, 0.0f, 100.0f, 1e6f, 0.0f, 25.0f},
                              {2.0f, 1000.0f, 1e6f, 0.0f, 400.0f, 1e6f, 0.0f, 0.0f}};
    for (std::size_t k = 0; k < 2; ++k) {
        std::size_t j = 0;
        for (auto* col : {&t.dns, &t.vp, &t.qp, &t.fp, &t.vs, &t.qs, &t.fs, &t.thk}) {
            (*col)[k] = rows[k][j++];
        }
    }
    return t;
}

TEST(library_arguments, compute_tables) {
    using lt = sitewave::layer_table;
    struct call {
        lt layers = layer_over_rock();
        float theta = 0.0f;
        sitewave::grid g = sitewave::make_grid(64, 1.0f / 64).value(); // rows at whole Hz
        int threads = 1;
    };
    const struct {
        const char* what;
        std::function<void(call&)> change;
        const char* says; // in the message; nullptr: the call succeeds
    } cases[] = {
        {"sound", [](call&) {}, nullptr},
        {"rows shared by threads", [](call& c) { c.threads = 4; }, nullptr},
        {"many threads", [](call& c) { c.threads = INT_MAX; }, nullptr},
        {"negative half-space thickness", [](call& c) { c.layers.thk[1] = -5.0f; }, nullptr},
        {"one row", [](call& c) { c.g.nom = 1; }, nullptr},
        {"no layer", [](call& c) { c.layers = lt{}; }, "no row"},
        {"resized to no layer", [](call& c) { c.layers.resize(-2); }, "no row"},
        {"dns short", [](call& c) { c.layers.dns.pop_back(); }, "1, 2, 2, 2, 2, 2, 2, 2 rows"},
        {"vp long", [](call& c) { c.layers.vp.push_back(1.0f); }, "2, 3, 2, 2, 2, 2, 2, 2 rows"},
        {"thk short", [](call& c) { c.layers.thk.pop_back(); }, "2, 2, 2, 2, 2, 2, 2, 1 rows"},
        {"qs empty", [](call& c) { c.layers.qs.clear(); }, "2, 2, 2, 2, 2, 0, 2, 2 rows"},
        {"density zero", [](call& c) { c.layers.dns[1] = 0.0f; }, "layer row 2: density 0 is"},
        {"Vs negative", [](call& c) { c.layers.vs[0] = -100.0f; }, "layer row 1: Vs -100 is"},
        {"Qs zero", [](call& c) { c.layers.qs[0] = 0.0f; }, "layer row 1: Qs 0 is not positive"},
        {"Qp negative", [](call& c) { c.layers.qp[1] = -1.0f; }, "layer row 2: Qp -1 is"},
        {"Vp equal to Vs", [](call& c) { c.layers.vp[0] = 100.0f; }, "Vp 100 is not greater"},
        {"Vp below Vs", [](call& c) { c.layers.vp[1] = 10.0f; }, "layer row 2: Vp 10 is not"},
        {"Fs NaN", [](call& c) { c.layers.fs[1] = qnan; }, "layer row 2: Fs is not a finite"},
        {"Fp infinite", [](call& c) { c.layers.fp[0] = inf; }, "layer row 1: Fp is not a finite"},
        {"density NaN", [](call& c) { c.layers.dns[0] = qnan; }, "layer row 1: density is not"},
        {"thickness infinite", [](call& c) { c.layers.thk[0] = inf; }, "thickness is not a"},
        {"thickness negative", [](call& c) { c.layers.thk[0] = -1.0f; }, "thickness -1 is"},
        {"theta NaN", [](call& c) { c.theta = qnan; }, "theta = nan is not finite"},
        {"theta infinite", [](call& c) { c.theta = -inf; }, "theta = -inf is not finite"},
        {"no grid row", [](call& c) { c.g.nom = 0; }, "nom = 0 is not from 1"},
        {"nom negative", [](call& c) { c.g.nom = -5; }, "nom = -5"},
        {"nom too large", [](call& c) { c.g.nom = INT_MAX; }, "nom = 2147483647"},
        {"dom zero", [](call& c) { c.g.dom = 0.0f; }, "dom = 0 is not"},
        {"dom negative", [](call& c) { c.g.dom = -1.0f; }, "dom = -1 is not"},
        {"dom NaN", [](call& c) { c.g.dom = qnan; }, "dom = nan is not"},
        {"dom infinite", [](call& c) { c.g.dom = inf; }, "dom = inf is not"},
        {"no thread", [](call& c) { c.threads = 0; }, "row_threads = 0 is less than 1"},
        {"threads negative", [](call& c) { c.threads = INT_MIN; }, "row_threads = -2147483648"},
    };
    for (const bool oblique : {false, true}) {
        for (const auto& c : cases) {
            call a;
            c.change(a);
            const auto t = sitewave::compute_tables(a.layers, a.theta, a.g, oblique, a.threads);
            const std::string what = std::string(c.what) + (oblique ? " (oblique)" : "");
            if (c.says != nullptr) {
                ASSERT_EQ(outcome(t), "argument") << what;
                EXPECT_TRUE(names(t, "compute_tables")) << t.err().report();
                EXPECT_NE(t.err().message.find(c.says), std::string::npos)
                    << what << ": " << t.err().message;
                continue;
            }
            ASSERT_EQ(outcome(t), "ok") << what;
            for (const auto* table : {&t->samp, &t->pamp}) {
                for (const auto& col : table->col) {
                    EXPECT_EQ(col.size(), static_cast<std::size_t>(a.g.nom)) << what;
                }
            }
            // 2 and 1 at zero frequency; at the layer's resonance the SH motion at the surface is
            // twice the impedance ratio of rock to layer over the incident wave.
            EXPECT_TRUE(same(t->samp.col[0][0], {2.0f, 0.0f})) << what;
            EXPECT_TRUE(same(t->samp.col[1][0], {1.0f, 0.0f})) << what;
            if (a.g.nom > 1) {
                const auto v = t->samp.col[0][1];
                EXPECT_NEAR(std::hypot(v.re, v.im), 10.0, 1e-2) << what;
            }
        }
    }
}

// Only the half-space: the surface motion is twice the incident wave and equal to the motion at
// the top of the half-space, at every frequency.
TEST(library_arguments, compute_tables_of_a_half_space) {
    sitewave::layer_table t = layer_over_rock();
    for (auto* col : {&t.dns, &t.vp, &t.qp, &t.fp, &t.vs, &t.qs, &t.fs, &t.thk}) {
        col->erase(col->begin());
    }
    const auto tables = sitewave::compute_tables(t, 0.3f, sitewave::make_grid(16, 0.01f).value());
    ASSERT_TRUE(tables) << tables.err().report();
    for (const auto* table : {&tables->samp, &tables->pamp}) {
        for (std::size_t i = 0; i < 9; ++i) {
            EXPECT_NEAR(table->col[0][i].re, 2.0, 1e-6) << i;
            EXPECT_NEAR(table->col[1][i].re, 1.0, 1e-6) << i;
            EXPECT_NEAR(table->col[0][i].im, 0.0, 1e-6) << i;
        }
    }
}

// The histories written are three of one length.
TEST_F(library, write_histories_lengths) {
    const std::string path = (dir_ / "wave1.csv").string();
    const sitewave::record rec = small_record(4);
    const struct {
        std::size_t nx, ny, nz;
        bool ok;
    } cases[] = {{4, 4, 4, true},  {6, 6, 6, true},  {0, 0, 0, true},  {4, 3, 4, false},
                 {4, 4, 5, false}, {3, 4, 4, false}, {0, 4, 4, false}, {4, 0, 0, false}};
    for (const auto& c : cases) {
        const sitewave::histories h{std::vector<float>(c.nx, 1.0f), std::vector<float>(c.ny),
                                    std::vector<float>(c.nz)};
        const auto w = sitewave::write_histories(path, h, rec);
        ASSERT_EQ(outcome(w), c.ok ? "ok" : "argument") << c.nx << " " << c.ny << " " << c.nz;
        EXPECT_TRUE(w || names(w, "write_histories")) << w.err().report();
        EXPECT_EQ(fs::exists(path), c.ok);
        if (c.ok) {
            // A heading line and one line per sample.
            const std::string text = read_file(path);
            EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')),
                      c.nx + 1);
        }
        fs::remove(path);
    }
}

// The readers and the dialogue: counts and streams outside their contract.
TEST_F(library, readers_and_dialogue_arguments) {
    const std::string record = write("r.csv", "t,a,b,c\n0,1,2,3\n0.01,1,2,3\n0.02,1,2,3\n");
    for (const int keep : {-1, -2, INT_MIN}) {
        const auto r = sitewave::read_record(record, keep);
        EXPECT_EQ(outcome(r), "argument") << keep;
        EXPECT_TRUE(names(r, "read_record")) << keep;
    }
    for (const int keep : {0, 2, INT_MAX}) {
        const auto r = sitewave::read_record(record, keep);
        ASSERT_EQ(outcome(r), "ok") << keep;
        EXPECT_EQ(r->nt, 3);
        EXPECT_EQ(r->xr1.size(), static_cast<std::size_t>(std::min(keep, 3)));
    }
    const std::string soil = write("s.csv", "t\n0\n1\nc\n2\nh\n1,2,500,20,0,200,10,0,5\n"
                                            "2,2,900,20,0,400,10,0,0\n");
    auto p = sitewave::read_profile(soil);
    ASSERT_TRUE(p) << p.err().report();
    const struct {
        const char* what;
        std::function<void(sitewave::profile&)> change;
        const char* want;
    } profiles[] = {
        {"as read", [](sitewave::profile&) {}, "ok"},
        {"nl above the rows", [](sitewave::profile& q) { q.nl = 3; }, "argument"},
        {"nl below the rows", [](sitewave::profile& q) { q.nl = 1; }, "argument"},
        {"nl zero with rows", [](sitewave::profile& q) { q.nl = 0; }, "argument"},
        {"ragged table", [](sitewave::profile& q) { q.layers.vs.pop_back(); }, "argument"},
        {"no rows, nl 0",
         [](sitewave::profile& q) {
             q.layers.resize(0);
             q.nl = 0;
         },
         "refused"},
        {"no rows, nl -4",
         [](sitewave::profile& q) {
             q.layers.resize(-4);
             q.nl = -4;
         },
         "refused"},
        {"Qs zero", [](sitewave::profile& q) { q.layers.qs[1] = 0.0f; }, "refused"},
    };
    for (const auto& c : profiles) {
        sitewave::profile q = *p;
        c.change(q);
        const auto r = sitewave::check_profile(q, "s.csv");
        EXPECT_EQ(outcome(r), c.want) << c.what;
        EXPECT_TRUE(r || r.err().what != error::kind::argument || names(r, "check_profile"))
            << c.what;
    }
    std::FILE* null_file = nullptr;
    for (const auto& io : {sitewave::dialogue_io{null_file, stdout, dir_.string()},
                           sitewave::dialogue_io{stdin, null_file, dir_.string()},
                           sitewave::dialogue_io{stdin, stdout, dir_.string(), -1}}) {
        const auto r = sitewave::run_dialogue(io);
        EXPECT_EQ(outcome(r), "argument");
        EXPECT_TRUE(names(r, "run_dialogue")) << r.err().report();
    }
    // Nothing but the two inputs in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

// The steps called one after the other as a caller would: the dialogue's result files, byte for
// byte, on reference cases with and without processing.
TEST_F(library, the_steps_write_the_dialogue_files) {
    const fs::path cases = SITEWAVE_CASES;
    for (const char* name : {"real-elcentro", "grid-nin2", "processing-integrate-filter",
                             "processing-overlapping-ramps"}) {
        const fs::path from = cases / name;
        std::string answers = slurp(from / "stdin.txt");
        std::replace(answers.begin(), answers.end(), ',', ' ');
        std::istringstream in(answers);
        std::string file;
        int nyes = 0, nbd = 0;
        float corners[4] = {};
        in >> file >> nyes >> nbd;
        if (nbd == 1) {
            in >> corners[0] >> corners[1] >> corners[2] >> corners[3];
        }
        const auto rec = sitewave::read_record((from / file).string());
        ASSERT_TRUE(rec) << name;
        const auto length = sitewave::choose_length(rec->nt);
        ASSERT_TRUE(length) << name;
        const auto g = sitewave::make_grid(length->nf, rec->dt);
        auto s = sitewave::forward_spectra(*rec, length->nf);
        const auto p = sitewave::read_profile((from / "soil_dat.csv").string());
        ASSERT_TRUE(g && s && p) << name;
        const auto t = sitewave::compute_tables(p->layers, p->theta, *g, false, 2);
        ASSERT_TRUE(t) << t.err().report();
        ASSERT_TRUE(sitewave::check_tables(*t, *g)) << name;
        ASSERT_TRUE(sitewave::write_factors((dir_ / "Amp-Factors.csv").string(), *t, *g));
        ASSERT_TRUE(sitewave::amplify(*s, *t, p->nin, *g)) << name;
        const auto band =
            nbd == 1 ? sitewave::band_from_corners(corners[0], corners[1], corners[2], corners[3])
                     : sitewave::result<sitewave::pass_band>(sitewave::pass_band{});
        ASSERT_TRUE(band) << name;
        ASSERT_TRUE(sitewave::process(*s, *g, *band, nyes)) << name;
        ASSERT_TRUE(sitewave::write_spectra((dir_ / "amp1.csv").string(), *s, *g, *rec));
        const auto h = sitewave::inverse_spectra(std::move(*s), *g);
        ASSERT_TRUE(h) << name;
        ASSERT_TRUE(sitewave::write_histories((dir_ / "wave1.csv").string(), *h, *rec));
        for (const char* f : {"Amp-Factors.csv", "amp1.csv", "wave1.csv"}) {
            EXPECT_EQ(slurp(dir_ / f), slurp(from / "expected" / f)) << name << " " << f;
        }
    }
}

TEST(library_arguments, layer_table_resize) {
    for (const int n : {-1, INT_MIN, 0, 3}) {
        sitewave::layer_table t;
        t.resize(5);
        t.resize(n);
        const std::size_t want = n > 0 ? static_cast<std::size_t>(n) : 0;
        for (const auto* col : {&t.dns, &t.vp, &t.qp, &t.fp, &t.vs, &t.qs, &t.fs, &t.thk}) {
            EXPECT_EQ(col->size(), want) << n;
        }
    }
}

} // namespace
