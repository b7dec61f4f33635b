// Timings at the largest sizes a run meets: a 32768-point record (16385 frequency rows) and a
// 50-layer profile.
#include "common/real.hpp"
#include "fft/wvfast.hpp"
#include "layered/profile.hpp"
#include "layered/transfer.hpp"

#include <benchmark/benchmark.h>
#include <cstddef>
#include <vector>

namespace {

using sitewave::cplx;
using sitewave::two_pi;
namespace layered = sitewave::layered;

constexpr int max_rows = 16385; // nf/2 + 1 for nf = 32768
constexpr int max_points = 32768;
constexpr int many_layers = 50; // 49 layers over the half-space

// Velocities rising with depth, frequency-dependent damping, 2 m layers; a record at 0.01 s.
layered::layer_table deep_profile() {
    layered::layer_table lt;
    lt.resize(many_layers);
    for (std::size_t k = 0; k < static_cast<std::size_t>(many_layers); ++k) {
        const float depth = 2.0f * static_cast<float>(k);
        lt.dns[k] = 1.6f + 0.01f * depth;
        lt.vs[k] = 150.0f + 6.0f * depth;
        lt.vp[k] = 2.5f * lt.vs[k];
        lt.qs[k] = 10.0f + 0.2f * depth;
        lt.qp[k] = 2.0f * lt.qs[k];
        lt.fs[k] = 0.3f;
        lt.fp[k] = 0.2f;
        lt.thk[k] = 2.0f;
    }
    return lt;
}

const float dom = two_pi / (static_cast<float>(max_points) * 0.01f);

void bench_table(benchmark::State& state, void (*fn)(float, float, int, const layered::layer_table&,
                                                     float, layered::amp_table&)) {
    const layered::layer_table lt = deep_profile();
    layered::amp_table amp;
    amp.col[0].resize(max_rows);
    amp.col[1].resize(max_rows);
    for (auto _ : state) {
        fn(0.0f, dom, max_rows, lt, 0.3f, amp);
        benchmark::DoNotOptimize(amp.col[0].data());
        benchmark::DoNotOptimize(amp.col[1].data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * max_rows * (many_layers - 1));
}

void BM_sbshml(benchmark::State& state) { bench_table(state, layered::sbshml); }
void BM_sbudml(benchmark::State& state) { bench_table(state, layered::sbudml); }

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

// The first half of a run on a 32768-sample record over the 50-row profile, without the text
// input and output: three forward transforms scaled by dt, both tables, and the amplification
// of the spectra by column 1.
void BM_first_half(benchmark::State& state) {
    const layered::layer_table lt = deep_profile();
    const float dt = 0.01f;
    std::vector<float> samples(max_points);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<float>((i * 7919) % 2001) / 1000.0f - 1.0f;
    }
    for (auto _ : state) {
        std::vector<std::vector<cplx>> comp(3, std::vector<cplx>(max_points));
        for (auto& a : comp) {
            for (std::size_t i = 0; i < a.size(); ++i) {
                a[i] = {samples[i], 0.0f};
            }
            sitewave::fft::wvfast(a, -1);
            for (cplx& z : a) {
                z = z * cplx{dt, 0.0f};
            }
        }
        layered::amp_table samp, pamp;
        for (auto* t : {&samp, &pamp}) {
            t->col[0].resize(max_rows);
            t->col[1].resize(max_rows);
        }
        layered::sbshml(0.0f, dom, max_rows, lt, 0.3f, samp);
        layered::sbudml(0.0f, dom, max_rows, lt, 0.3f, pamp);
        for (std::size_t i = 0; i < static_cast<std::size_t>(max_rows); ++i) {
            comp[0][i] = comp[0][i] * samp.col[0][i];
            comp[1][i] = comp[1][i] * samp.col[0][i];
            comp[2][i] = comp[2][i] * pamp.col[0][i];
        }
        benchmark::DoNotOptimize(comp[2].data());
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_first_half)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_sbshml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_sbudml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_wvfast_three_components)->Unit(benchmark::kMillisecond);
