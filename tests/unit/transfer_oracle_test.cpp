// The transfer tables against a plain row-by-row recursion written here in the arithmetic model
// of arith/real.hpp: one frequency at a time, one interface at a time, every velocity, root,
// quotient and exponential formed where the recursion needs it, and a row whose float
// recursion meets a value that is not finite carried through again with power-of-two
// rescaling. The tables must hold the same bits, whatever the grouping of rows, the sharing of
// work between the two tables and the number of row threads.
#include "arith/real.hpp"
#include "layered/transfer.hpp"
#include "support/random_profile.hpp"
#include "threads/helper_thread.hpp"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace sitewave;
using layered::amp_table;
using layered::layer_table;
using test_profiles::kind;
using test_profiles::random_profile;
using test_profiles::uniform;

std::size_t at(int i) { return static_cast<std::size_t>(i); }

// ---------------------------------------------------------------------------------------------
// The reference recursion.

namespace oracle {

struct matrix {
    cplx a11{1.0f, 0.0f}, a12{}, a21{}, a22{1.0f, 0.0f};
};

matrix times_layer(const matrix& sa, cplx am, cplx ex1, cplx ex2) {
    const cplx one{1.0f, 0.0f};
    const cplx sb11 = ((one + am) * ex1) / 2.0f;
    const cplx sb12 = ((one - am) * ex2) / 2.0f;
    const cplx sb21 = ((one - am) * ex1) / 2.0f;
    const cplx sb22 = ((one + am) * ex2) / 2.0f;
    return {sa.a11 * sb11 + sa.a12 * sb21, sa.a11 * sb12 + sa.a12 * sb22,
            sa.a21 * sb11 + sa.a22 * sb21, sa.a21 * sb12 + sa.a22 * sb22};
}

bool finite(const matrix& a) {
    return is_finite(a.a11) && is_finite(a.a12) && is_finite(a.a21) && is_finite(a.a22);
}

int exponent_of(const matrix& a) {
    int e = INT_MIN;
    for (const cplx z : {a.a11, a.a12, a.a21, a.a22}) {
        for (const float x : {z.re, z.im}) {
            if (x != 0.0f) {
                e = std::max(e, std::ilogb(x));
            }
        }
    }
    return e == INT_MIN ? 0 : e;
}

cplx damped(float v, float q0, float n, float freq) {
    float q = q0 * pow_d(freq, n);
    if (q < q0) {
        q = q0;
    }
    return {v, v * (0.5f / q)};
}

cplx velocity(const layer_table& lt, int k, float freq, bool vertical) {
    const cplx vs1 = damped(lt.vs[at(k)], lt.qs[at(k)], lt.fs[at(k)], freq);
    if (!vertical) {
        return vs1;
    }
    const cplx vp1 = damped(lt.vp[at(k)], lt.qp[at(k)], lt.fp[at(k)], freq);
    const cplx ratio = (vs1 * vs1) / (vp1 * vp1);
    return vs1 * csqrt(cplx{3.0f, 0.0f} / (cplx{1.0f, 0.0f} - ratio));
}

float slowness2(const layer_table& lt, float theta, bool vertical) {
    const int h = lt.nl() - 1;
    const float vsh = lt.vs[at(h)];
    float vsn2 = vsh * vsh;
    if (vertical) {
        const float vph = lt.vp[at(h)];
        vsn2 = (vsh * vsh) * (3.0f / (1.0f - (vsh * vsh) / (vph * vph)));
    }
    const float tsin = sin_d(theta);
    return tsin * tsin / vsn2;
}

// Fills rows 0..nom-1; `rescaled` counts the rows that took the rescaled recursion.
void table(float fom, float dom, int nom, const layer_table& lt, float theta, bool vertical,
           amp_table& amp, int& rescaled) {
    const int nl = lt.nl();
    const float cinv2 = slowness2(lt, theta, vertical);
    const cplx one{1.0f, 0.0f}, two{2.0f, 0.0f};
    for (int io = 0; io < nom; ++io) {
        if (io == 0 && fom == 0.0f) {
            amp.col[0][0] = {2.0f, 0.0f};
            amp.col[1][0] = {1.0f, 0.0f};
            continue;
        }
        const float om = fom + static_cast<float>(io) * dom;
        const float freq = om / two_pi;
        std::vector<cplx> am(at(nl)), wnd(at(nl));
        for (int il = 0; il + 1 < nl; ++il) {
            const cplx v1 = velocity(lt, il, freq, vertical);
            const cplx v2 = velocity(lt, il + 1, freq, vertical);
            am[at(il)] = (lt.dns[at(il)] * v1) / (lt.dns[at(il + 1)] * v2);
            const cplx wn = om * csqrt(one / (v1 * v1) - cplx{cinv2, 0.0f});
            wnd[at(il)] = {-wn.im * lt.thk[at(il)], wn.re * lt.thk[at(il)]};
        }
        matrix a;
        bool ok = true;
        for (int il = nl - 2; il >= 0; --il) {
            const cplx w = wnd[at(il)];
            const cplx ex1 = cexp(w);
            const cplx ex2 = cexp(-w);
            ok = ok && is_finite(am[at(il)]) && is_finite(w) && is_finite(ex1) && is_finite(ex2);
            a = times_layer(a, am[at(il)], ex1, ex2);
            ok = ok && finite(a);
        }
        if (ok) {
            amp.col[0][at(io)] = two / (a.a11 + a.a12);
            amp.col[1][at(io)] = two / (((a.a11 + a.a12) + a.a21) + a.a22);
            continue;
        }
        ++rescaled;
        matrix b;
        int scale = 0;
        for (int il = nl - 2; il >= 0; --il) {
            const scaled_exp_pair ex = cexp_pair_scaled(wnd[at(il)]);
            b = times_layer(b, am[at(il)], ex.up, ex.down);
            const int e = exponent_of(b);
            b = {scale2(b.a11, -e), scale2(b.a12, -e), scale2(b.a21, -e), scale2(b.a22, -e)};
            scale += ex.s + e;
        }
        amp.col[0][at(io)] = scaled_quotient(two, b.a11 + b.a12, scale);
        amp.col[1][at(io)] = scaled_quotient(two, ((b.a11 + b.a12) + b.a21) + b.a22, scale);
    }
}

} // namespace oracle

// ---------------------------------------------------------------------------------------------
// Profiles and comparison.

// A quiet NaN with a payload: no computed value has these bits, so a row left unwritten shows.
const cplx sentinel{std::bit_cast<float>(0x7fc0beefu), std::bit_cast<float>(0x7fc0cafeu)};

amp_table make_amp(int rows) {
    amp_table amp;
    amp.col[0].assign(at(rows), sentinel);
    amp.col[1].assign(at(rows), sentinel);
    return amp;
}

std::uint64_t bits(cplx z) {
    return (static_cast<std::uint64_t>(std::bit_cast<std::uint32_t>(z.re)) << 32) |
           std::bit_cast<std::uint32_t>(z.im);
}

// The first row (of `rows`, sentinel rows after nom included) where the tables differ, or -1.
int first_difference(const amp_table& a, const amp_table& b, int rows) {
    for (int i = 0; i < rows; ++i) {
        for (std::size_t c = 0; c < 2; ++c) {
            if (bits(a.col[c][at(i)]) != bits(b.col[c][at(i)])) {
                return i;
            }
        }
    }
    return -1;
}

struct run {
    layer_table lt;
    float fom, dom, theta;
    int nom;
    std::string name;
};

// Compares sbshml, sbudml and transfer_tables (1 to 3 row threads, both kernel widths, or
// only two of those settings) to the reference. Returns the number of rescaled rows of the
// reference.
int check(const run& r, bool all_configs = true) {
    const int rows = r.nom + 9; // rows past nom must stay untouched
    int rescaled = 0;
    amp_table want[2] = {make_amp(rows), make_amp(rows)};
    oracle::table(r.fom, r.dom, r.nom, r.lt, r.theta, false, want[0], rescaled);
    oracle::table(r.fom, r.dom, r.nom, r.lt, r.theta, true, want[1], rescaled);

    amp_table sh = make_amp(rows), ud = make_amp(rows);
    layered::sbshml(r.fom, r.dom, r.nom, r.lt, r.theta, sh);
    layered::sbudml(r.fom, r.dom, r.nom, r.lt, r.theta, ud);
    EXPECT_EQ(first_difference(sh, want[0], rows), -1) << r.name << " sbshml";
    EXPECT_EQ(first_difference(ud, want[1], rows), -1) << r.name << " sbudml";
    // Row threads 1 to 3, with the kernels this processor runs best and with the baseline ones.
    const layered::table_options configs[] = {
        {1, false}, {2, false}, {3, false}, {1, true}, {2, true}};
    for (const auto& o : configs) {
        if (!all_configs && o.row_threads != (o.baseline_kernels ? 2 : 1)) {
            continue; // 1 thread with the best kernels, 2 with the baseline ones
        }
        amp_table both_sh = make_amp(rows), both_ud = make_amp(rows);
        layered::transfer_tables(r.fom, r.dom, r.nom, r.lt, r.theta, both_sh, both_ud, o);
        const std::string how = std::to_string(o.row_threads) + " thread(s)" +
                                (o.baseline_kernels ? ", baseline kernels" : "");
        EXPECT_EQ(first_difference(both_sh, want[0], rows), -1) << r.name << " SH, " << how;
        EXPECT_EQ(first_difference(both_ud, want[1], rows), -1) << r.name << " vertical, " << how;
    }
    // Shared between a helper and the caller.
    {
        amp_table both_sh = make_amp(rows), both_ud = make_amp(rows);
        layered::shared_tables shared(r.fom, r.dom, r.nom, r.lt, r.theta, both_sh, both_ud);
        background helper;
        auto done = helper.post([&shared] { shared.run(1); });
        shared.run(0);
        done.get();
        EXPECT_EQ(first_difference(both_sh, want[0], rows), -1) << r.name << " SH, shared";
        EXPECT_EQ(first_difference(both_ud, want[1], rows), -1) << r.name << " vertical, shared";
    }
    return rescaled;
}

TEST(transfer_oracle, random_profiles_bit_for_bit) {
    std::mt19937 g(20261209u);
    const kind kinds[] = {kind::ordinary, kind::thick, kind::exponents, kind::fast_layers,
                          kind::repeated};
    int rescaled = 0;
    int oblique_beyond = 0;
    for (int p = 0; p < 300; ++p) {
        const kind k = kinds[p % 5];
        const int nl = 1 + static_cast<int>(g() % 40);
        run r{random_profile(g, k, nl),        0.0f, uniform(g, 0.01f, 2.0f), 0.0f,
              1 + static_cast<int>(g() % 300), ""};
        // Vertical incidence, oblique, and (for the fast layers) beyond their critical angle.
        const auto a = g() % 3;
        r.theta = a == 0 ? 0.0f : (a == 1 ? uniform(g, 0.0f, 0.6f) : uniform(g, 0.6f, 1.5f));
        oblique_beyond += k == kind::fast_layers && a == 2 ? 1 : 0;
        // Some grids start above zero frequency.
        if (g() % 5 == 0) {
            r.fom = uniform(g, 0.001f, 3.0f);
        }
        r.name = "profile " + std::to_string(p) + " nl " + std::to_string(nl) + " nom " +
                 std::to_string(r.nom);
        rescaled += check(r, p % 4 == 0);
    }
    // The sample reaches the rescaled rows and the critical angle.
    EXPECT_GT(rescaled, 1000);
    EXPECT_GT(oblique_beyond, 5);
}

// Grids of the sizes a run meets, and the edges of the row blocks: nom of 1, 2, a multiple of
// the block and one past it, with and without the zero-frequency row.
TEST(transfer_oracle, grid_sizes_and_starts) {
    std::mt19937 g(5u);
    const layer_table lt = random_profile(g, kind::exponents, 12);
    for (const int nom : {1, 2, 7, 8, 9, 31, 32, 33, 64, 65, 257, 1025}) {
        for (const float fom : {0.0f, 0.25f}) {
            check({lt, fom, 0.37f, 0.3f, nom, "nom " + std::to_string(nom)});
        }
    }
}

// The half-space alone, and a 3000-row profile.
TEST(transfer_oracle, one_row_and_many_rows) {
    std::mt19937 g(11u);
    check({random_profile(g, kind::ordinary, 1), 0.0f, 0.5f, 0.2f, 40, "half-space"});
    check({random_profile(g, kind::ordinary, 3000), 0.0f, 0.05f, 0.2f, 20, "3000 rows"});
}

// Strongly damped thick layers at high frequency: most rows rescaled, many underflowing to
// subnormal values or 0.
TEST(transfer_oracle, overflowing_rows) {
    layer_table lt;
    lt.resize(3);
    const float v[3][8] = {{1.9f, 400.0f, 10.0f, 0.0f, 200.0f, 5.0f, 0.0f, 600.0f},
                           {2.0f, 600.0f, 4.0f, 0.5f, 300.0f, 2.0f, 0.7f, 900.0f},
                           {2.3f, 2500.0f, 100.0f, 0.0f, 1200.0f, 50.0f, 0.0f, 0.0f}};
    for (std::size_t i = 0; i < 3; ++i) {
        lt.dns[i] = v[i][0];
        lt.vp[i] = v[i][1];
        lt.qp[i] = v[i][2];
        lt.fp[i] = v[i][3];
        lt.vs[i] = v[i][4];
        lt.qs[i] = v[i][5];
        lt.fs[i] = v[i][6];
        lt.thk[i] = v[i][7];
    }
    EXPECT_GT(check({lt, 0.0f, two_pi * 0.25f, 0.4f, 401, "damped basin"}), 300);
}

} // namespace
