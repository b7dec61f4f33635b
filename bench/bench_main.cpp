// Timings at the largest sizes a run meets: a 32768-point record (16385 frequency rows) and the
// 50-row profile of the generated benchmark case (make_input.py, case max).
#include "arith/real.hpp"
#include "eql/fourier.hpp"
#include "fft/wvfast.hpp"
#include "layered/profile.hpp"
#include "layered/transfer.hpp"
#include "response/psa.hpp"
#include "sitewave/eql.hpp"
#include "sitewave/site.hpp"
#include "textio/fields.hpp"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

namespace {

using sitewave::cplx;
using sitewave::two_pi;
namespace layered = sitewave::layered;

constexpr int max_rows = 16385; // nf/2 + 1 for nf = 32768
constexpr int max_points = 32768;
constexpr int many_layers = 50; // 49 layers over the half-space
constexpr float dt = 0.005f;
const float theta = 20.0f * 0.017453292f;
const float dom = two_pi / (static_cast<float>(max_points) * dt);

// The rows of make_input.py's layers(50): velocities rising with depth, Q and exponents varying
// from layer to layer (nine distinct exponents, some layers without), 1 to 10 m thick.
layered::layer_table case_profile() {
    layered::layer_table lt;
    lt.resize(many_layers);
    for (int l = 1; l <= many_layers; ++l) {
        const auto k = static_cast<std::size_t>(l - 1);
        const double frac = static_cast<double>(l - 1) / (many_layers - 1);
        const double vs = 100.0 * std::pow(25.0, frac);
        const double qs = 5.0 + 45.0 * frac;
        // The text written to soil_dat.csv, read back: 1, 2 and 3 decimals.
        const auto rounded = [](double x, double scale) {
            return static_cast<float>(std::round(x * scale) / scale);
        };
        lt.vs[k] = rounded(vs, 10.0);
        lt.vp[k] = rounded(vs * (1.9 + 0.05 * (l % 5)), 10.0);
        lt.dns[k] = rounded(1.6 + frac, 1000.0);
        lt.qs[k] = rounded(qs, 100.0);
        lt.qp[k] = rounded(2.0 * qs, 100.0);
        lt.fs[k] = rounded(0.8 * ((3 * l) % 9) / 8.0, 1000.0);
        lt.fp[k] = rounded(0.8 * ((5 * l) % 9) / 8.0, 1000.0);
        lt.thk[k] = l == many_layers ? 0.0f : static_cast<float>(1 + (7 * l) % 10);
    }
    return lt;
}

layered::amp_table table_of(int rows) {
    layered::amp_table amp;
    amp.col[0].resize(static_cast<std::size_t>(rows));
    amp.col[1].resize(static_cast<std::size_t>(rows));
    return amp;
}

// Both tables in one pass; the argument is the number of row threads.
void BM_tables(benchmark::State& state) {
    const layered::layer_table lt = case_profile();
    layered::amp_table sh = table_of(max_rows), ud = table_of(max_rows);
    const int threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        layered::transfer_tables(0.0f, dom, max_rows, lt, theta, sh, ud, threads);
        benchmark::DoNotOptimize(sh.col[0].data());
        benchmark::DoNotOptimize(ud.col[0].data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * max_rows * (many_layers - 1));
}

void bench_one(benchmark::State& state, void (*fn)(float, float, int, const layered::layer_table&,
                                                   float, layered::amp_table&)) {
    const layered::layer_table lt = case_profile();
    layered::amp_table amp = table_of(max_rows);
    for (auto _ : state) {
        fn(0.0f, dom, max_rows, lt, theta, amp);
        benchmark::DoNotOptimize(amp.col[0].data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * max_rows * (many_layers - 1));
}

void BM_sbshml(benchmark::State& state) { bench_one(state, layered::sbshml); }
void BM_sbudml(benchmark::State& state) { bench_one(state, layered::sbudml); }

// The run's six transforms: three components forward, then back.
void BM_wvfast_three_components(benchmark::State& state) {
    std::vector<std::vector<cplx>> comp(3, std::vector<cplx>(max_points));
    for (std::size_t c = 0; c < comp.size(); ++c) {
        for (std::size_t i = 0; i < comp[c].size(); ++i) {
            comp[c][i] = {static_cast<float>((i * 7919 + c * 104729) % 2001) / 1000.0f - 1.0f,
                          0.0f};
        }
    }
    for (auto _ : state) {
        for (auto& a : comp) {
            sitewave::fft::wvfast(a, -1);
        }
        for (auto& a : comp) {
            sitewave::fft::wvfast(a, 1);
        }
        // Undo the factor n of the round trip so the data stay bounded from one iteration to
        // the next (exact: n is a power of two).
        for (auto& a : comp) {
            for (cplx& z : a) {
                z = z / static_cast<float>(max_points);
            }
        }
        benchmark::ClobberMemory();
    }
}

// The text of the 16385 lines of Amp-Factors.csv, (F8.4,4(',',E12.4)) and the trailing comma,
// from the moduli of the tables of the case.
void BM_factors_lines(benchmark::State& state) {
    const layered::layer_table lt = case_profile();
    layered::amp_table sh = table_of(max_rows), ud = table_of(max_rows);
    layered::transfer_tables(0.0f, dom, max_rows, lt, theta, sh, ud, 1);
    std::vector<float> values;
    for (std::size_t i = 0; i < static_cast<std::size_t>(max_rows); ++i) {
        values.push_back(static_cast<float>(i) * dom / two_pi);
        for (const auto* t : {&sh, &ud}) {
            for (const auto& col : t->col) {
                values.push_back(sitewave::cabs(col[i]));
            }
        }
    }
    std::string text;
    for (auto _ : state) {
        text.clear();
        for (std::size_t i = 0; i < values.size(); i += 5) {
            text += sitewave::textio::field_f(values[i], 8, 4);
            for (std::size_t j = 1; j < 5; ++j) {
                text += ',';
                text += sitewave::textio::field_e(values[i + j], 12, 4);
            }
            text += ",\n";
        }
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations() * max_rows);
}

// One field at a time over a spread of magnitudes.
std::vector<float> spread() {
    std::vector<float> v;
    for (int i = 0; i < 4096; ++i) {
        const float m = 1.0f + static_cast<float>((i * 7919) % 8999) / 1000.0f;
        v.push_back((i % 2 == 0 ? m : -m) * std::pow(10.0f, static_cast<float>(i % 13 - 7)));
    }
    return v;
}

void BM_field_e12_4(benchmark::State& state) {
    const std::vector<float> v = spread();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sitewave::textio::field_e(v[i++ % v.size()], 12, 4));
    }
}

void BM_field_f8_4(benchmark::State& state) {
    std::vector<float> v = spread();
    for (float& x : v) {
        x = std::fmod(x, 1000.0f);
    }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sitewave::textio::field_f(v[i++ % v.size()], 8, 4));
    }
}

// Two horizontals of El Centro size (5346 samples at 0.01 s): a decaying mix of sines, the
// second turned away from the first; the batch's default periods (0, 100 log-spaced, 0.2, 1.0).
struct horizontals {
    std::vector<float> h1, h2;
    std::vector<double> periods;
    horizontals() {
        for (int i = 0; i < 5346; ++i) {
            const double t = 0.01 * i;
            const double env = t / 5.0 * std::exp(1.0 - t / 5.0);
            const double a = env * (std::sin(7.3 * t) + 0.6 * std::sin(23.1 * t + 1.0) +
                                    0.3 * std::sin(3.1 * t + 2.0));
            const double b = env * (std::sin(5.9 * t + 0.4) + 0.5 * std::sin(17.7 * t) +
                                    0.4 * std::sin(2.3 * t + 1.0));
            h1.push_back(static_cast<float>(a));
            h2.push_back(static_cast<float>(0.6 * a + 0.8 * b));
        }
        periods = sitewave::response::log_periods(0.01, 10.0, 100);
        periods.insert(periods.begin(), 0.0);
        periods.push_back(0.2);
        periods.push_back(1.0);
    }
};

// The response spectra of both horizontals (Arg 0), and with RotD50 and RotD100 (Arg 1).
void BM_horizontal_spectra(benchmark::State& state) {
    const horizontals r;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            sitewave::response::horizontal(r.h1, r.h2, 0.01, r.periods, 0.05, state.range(0) != 0));
    }
}

} // namespace

// One pass of the equivalent-linear run of one component on the example soft clay site (22
// sublayers) on nf points: the column solved on every row, each sublayer's strain back to time.
void BM_eql_pass(benchmark::State& state) {
    const auto site = sitewave::site::read_site(SITEWAVE_SOFT_CLAY);
    if (!site) {
        state.SkipWithError(site.err().message.c_str());
        return;
    }
    const auto nf = static_cast<std::size_t>(state.range(0));
    sitewave::eql::input in;
    in.dt = 0.01;
    in.nt = nf / 2;
    in.dom = 2 * M_PI / (static_cast<double>(nf) * in.dt);
    in.spectrum.resize(nf / 2 + 1);
    for (std::size_t k = 0; k < in.spectrum.size(); ++k) {
        in.spectrum[k] =
            std::polar(1.0 / (1.0 + 0.01 * static_cast<double>(k)), 0.3 * static_cast<double>(k));
    }
    sitewave::eql::options o;
    o.max_iterations = 1;
    for (auto _ : state) {
        auto r = sitewave::eql::run(*site, in, sitewave::eql::input_kind::outcrop, o);
        benchmark::DoNotOptimize(r);
    }
}

// The loop's transform: two real histories of nf points from their spectra, and their peaks.
void BM_eql_transform(benchmark::State& state) {
    const auto nf = static_cast<std::size_t>(state.range(0));
    sitewave::eql::detail::split_complex a, b;
    a.assign(nf / 2 + 1);
    b.assign(nf / 2 + 1);
    for (std::size_t k = 0; k <= nf / 2; ++k) {
        a.re[k] = 1.0 / (1.0 + static_cast<double>(k));
        b.im[k] = 0.5 / (1.0 + static_cast<double>(k));
    }
    sitewave::eql::detail::inverse_pairs t(nf);
    for (auto _ : state) {
        t.run(a, &b);
        benchmark::DoNotOptimize(t.peaks(nf / 2, 0.01));
    }
}

BENCHMARK(BM_eql_transform)->Arg(8192)->Arg(16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_eql_pass)->Arg(8192)->Arg(32768)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_horizontal_spectra)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_tables)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_sbshml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_sbudml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_wvfast_three_components)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_factors_lines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_field_e12_4);
BENCHMARK(BM_field_f8_4);
