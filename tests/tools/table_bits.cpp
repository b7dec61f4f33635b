// Prints a digest of the bits of both transfer tables for a few hundred pseudo-random profiles,
// thick and strongly damped ones among them (rows that overflow in float and are rescaled). Run
// by two builds with different optimisation, the outputs must be identical: any difference means
// the compiler changed a rounding.
//
//   table_bits [--rows]     --rows: every row's bits instead of one digest per profile

#include "arith/real.hpp"
#include "layered/transfer.hpp"
#include "support/random_profile.hpp"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

namespace {

using namespace sitewave;

std::uint64_t mix(std::uint64_t h, float x) {
    h ^= std::bit_cast<std::uint32_t>(x);
    return h * 1099511628211ull;
}

} // namespace

int main(int argc, char** argv) {
    const bool rows = argc > 1 && std::strcmp(argv[1], "--rows") == 0;
    std::mt19937 g(20261208u);
    for (int p = 0; p < 300; ++p) {
        const int nl = p == 0 ? 3000 : 1 + static_cast<int>(g() % 60);
        // A quarter of the profiles thick and strongly damped.
        const test_profiles::kind k =
            g() % 4 == 0 ? test_profiles::kind::thick : test_profiles::kind::ordinary;
        const layered::layer_table lt = test_profiles::random_profile(g, k, nl);
        const float theta = g() % 3 == 0 ? 0.0f : test_profiles::uniform(g, 0.0f, 1.4f);
        const float dom = test_profiles::uniform(g, 0.01f, 2.0f);
        const int nom = 257;
        for (int fn = 0; fn < 2; ++fn) {
            layered::amp_table amp;
            amp.col[0].resize(nom);
            amp.col[1].resize(nom);
            (fn == 0 ? layered::sbshml : layered::sbudml)(0.0f, dom, nom, lt, theta, amp);
            std::uint64_t h = 14695981039346656037ull;
            int zero = 0;
            for (std::size_t i = 0; i < static_cast<std::size_t>(nom); ++i) {
                for (const auto& col : amp.col) {
                    h = mix(mix(h, col[i].re), col[i].im);
                    zero += col[i].re == 0.0f && col[i].im == 0.0f ? 1 : 0;
                    if (rows) {
                        std::printf("%d %d %zu %08x %08x\n", p, fn, i,
                                    std::bit_cast<std::uint32_t>(col[i].re),
                                    std::bit_cast<std::uint32_t>(col[i].im));
                    }
                }
            }
            if (!rows) {
                std::printf("profile %3d %s nl %4d zero entries %3d digest %016llx\n", p,
                            fn == 0 ? "sbshml" : "sbudml", nl, zero,
                            static_cast<unsigned long long>(h));
            }
        }
    }
}
