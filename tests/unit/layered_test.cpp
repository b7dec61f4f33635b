#include "arith/real.hpp"
#include "layered/oblique.hpp"
#include "layered/profile.hpp"
#include "layered/transfer.hpp"
#include "support/bits.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <string>
#include <vector>

// The reference values below are computed in double with std::complex<double>; only the program
// itself keeps to the float model of arith/real.hpp.
namespace {

using sitewave::cplx;
using sitewave::two_pi;
using namespace sitewave::layered;
using cd = std::complex<double>;

struct layer {
    float dns, vs, vp, qs, qp, fs, fp, thk;
};

layer_table make_table(const std::vector<layer>& rows) {
    layer_table lt;
    lt.resize(static_cast<int>(rows.size()));
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const layer& r = rows[k];
        lt.dns[k] = r.dns;
        lt.vs[k] = r.vs;
        lt.vp[k] = r.vp;
        lt.qs[k] = r.qs;
        lt.qp[k] = r.qp;
        lt.fs[k] = r.fs;
        lt.fp[k] = r.fp;
        lt.thk[k] = r.thk;
    }
    return lt;
}

// A quiet NaN with a payload: no computed value has these bits.
const cplx sentinel{std::bit_cast<float>(0x7fc0beefu), std::bit_cast<float>(0x7fc0cafeu)};

amp_table make_amp(std::size_t rows) {
    amp_table amp;
    amp.col[0].assign(rows, sentinel);
    amp.col[1].assign(rows, sentinel);
    return amp;
}

cd to_cd(cplx z) { return {static_cast<double>(z.re), static_cast<double>(z.im)}; }
double d(float x) { return static_cast<double>(x); }

::testing::AssertionResult near_rel(cplx got, cd want, double rel) {
    const double err = std::abs(to_cd(got) - want);
    if (std::isfinite(d(got.re)) && std::isfinite(d(got.im)) && err <= rel * std::abs(want)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got (" << got.re << ", " << got.im << ") want " << want
                                         << " relative error " << err / std::abs(want);
}

using transfer_fn = void (*)(float, float, int, const layer_table&, float, amp_table&);

enum class wave { sh, vertical };

struct function_case {
    const char* name;
    transfer_fn fn;
    wave kind;
};

const function_case both_functions[] = {
    {"sbshml", sbshml, wave::sh},
    {"sbudml", sbudml, wave::vertical},
};

// ---- Reference model in double -------------------------------------------------------------

cd damped_d(double v, double q0, double n, double f) {
    const double q = std::max(q0 * std::pow(f, n), q0);
    return v * cd(1.0, 0.5 / q);
}

// Velocity of a layer for the wave type: damped Vs, or the damped effective velocity
// Vs*sqrt(3/(1 - Vs^2/Vp^2)).
cd velocity_d(const layer& l, double f, wave kind) {
    const cd vs = damped_d(d(l.vs), d(l.qs), d(l.fs), f);
    if (kind == wave::sh) {
        return vs;
    }
    const cd vp = damped_d(d(l.vp), d(l.qp), d(l.fp), f);
    return vs * std::sqrt(3.0 / (1.0 - vs * vs / (vp * vp)));
}

// Horizontal slowness from the undamped velocity of the half-space (Snell's law).
double slowness_d(const layer& hs, double theta, wave kind) {
    double v = d(hs.vs);
    if (kind == wave::vertical) {
        const double r = d(hs.vs) / d(hs.vp);
        v *= std::sqrt(3.0 / (1.0 - r * r));
    }
    return std::sin(theta) / v;
}

struct columns {
    cd col1, col2;
    double phase = 0.0; // sum of |nu h| over the layers
};

// Up- and down-going amplitudes carried from the free surface (E = F = 1) down to the top of the
// half-space, layer by layer, with the impedance ratio alpha = rho1 V1 / (rho2 V2) (no obliquity
// factor) and the vertical wavenumber nu = omega sqrt(1/V^2 - p^2), principal root:
//   E' = ((1 + alpha) e^(i nu h) E + (1 - alpha) e^(-i nu h) F) / 2
//   F' = ((1 - alpha) e^(i nu h) E + (1 + alpha) e^(-i nu h) F) / 2
// Column 1 is the surface motion 2 over E_n, column 2 over E_n + F_n.
columns stack_d(const std::vector<layer>& rows, double om, double theta, wave kind) {
    const double f = om / (2.0 * std::numbers::pi);
    const double p = slowness_d(rows.back(), theta, kind);
    const cd i(0.0, 1.0);
    cd e = 1.0, fdown = 1.0;
    for (std::size_t k = 0; k + 1 < rows.size(); ++k) {
        const cd v1 = velocity_d(rows[k], f, kind);
        const cd v2 = velocity_d(rows[k + 1], f, kind);
        const cd alpha = d(rows[k].dns) * v1 / (d(rows[k + 1].dns) * v2);
        const cd nu = om * std::sqrt(1.0 / (v1 * v1) - p * p);
        const cd up = std::exp(i * nu * d(rows[k].thk));
        const cd dn = std::exp(-i * nu * d(rows[k].thk));
        const cd e2 = 0.5 * ((1.0 + alpha) * up * e + (1.0 - alpha) * dn * fdown);
        const cd f2 = 0.5 * ((1.0 - alpha) * up * e + (1.0 + alpha) * dn * fdown);
        e = e2;
        fdown = f2;
    }
    return {2.0 / e, 2.0 / (e + fdown)};
}

// One layer over a half-space in closed form: column 2 = 1/cos(nu h), column 1 =
// 2/(cos(nu h) + i alpha sin(nu h)).
columns one_layer_d(const layer& top, const layer& hs, double om, double theta, wave kind) {
    const double f = om / (2.0 * std::numbers::pi);
    const double p = slowness_d(hs, theta, kind);
    const cd v1 = velocity_d(top, f, kind);
    const cd v2 = velocity_d(hs, f, kind);
    const cd alpha = d(top.dns) * v1 / (d(hs.dns) * v2);
    const cd nuh = om * std::sqrt(1.0 / (v1 * v1) - p * p) * d(top.thk);
    return {2.0 / (std::cos(nuh) + cd(0.0, 1.0) * alpha * std::sin(nuh)), 1.0 / std::cos(nuh)};
}

// A soft site: 400 m/s over rock; vp = 2 vs, so the vertical motion sees about 800 m/s.
const std::vector<layer> one_layer_site = {
    {1.8f, 400.0f, 800.0f, 20.0f, 25.0f, 0.0f, 0.0f, 10.0f},
    {2.5f, 1600.0f, 3200.0f, 100.0f, 100.0f, 0.0f, 0.0f, 0.0f},
};

// Seven rows with contrasts both ways, frequency-dependent damping and a stiff layer that turns
// evanescent at oblique incidence.
const std::vector<layer> deep_site = {
    {1.6f, 120.0f, 450.0f, 8.0f, 12.0f, 0.3f, 0.2f, 3.0f},
    {1.7f, 180.0f, 600.0f, 10.0f, 15.0f, 0.5f, 0.0f, 5.5f},
    {1.9f, 320.0f, 1500.0f, 15.0f, 20.0f, 0.0f, 0.4f, 7.0f},
    {2.2f, 1200.0f, 2600.0f, 40.0f, 50.0f, 0.8f, 0.8f, 20.0f},
    {1.8f, 260.0f, 1450.0f, 12.0f, 18.0f, 0.2f, 0.1f, 4.5f},
    {2.0f, 450.0f, 1700.0f, 25.0f, 30.0f, 0.0f, 0.0f, 12.0f},
    {2.4f, 800.0f, 1600.0f, 60.0f, 80.0f, 0.1f, 0.1f, 0.0f},
};

// ---- Independent checks, with tolerances ---------------------------------------------------

// Through the quarter-wavelength resonances of the layer (10 Hz for SH, 20 Hz for the vertical
// motion) on a 0.25 Hz grid up to 25 Hz, at vertical and oblique incidence.
TEST(transfer, one_layer_matches_closed_form) {
    const layer_table lt = make_table(one_layer_site);
    const float dom = two_pi * 0.25f;
    const int nom = 101;
    for (const auto& fc : both_functions) {
        for (float theta : {0.0f, 0.5f}) {
            amp_table amp = make_amp(nom);
            fc.fn(0.0f, dom, nom, lt, theta, amp);
            for (int io = 1; io < nom; ++io) {
                const double om = d(static_cast<float>(io) * dom);
                const columns want =
                    one_layer_d(one_layer_site[0], one_layer_site[1], om, d(theta), fc.kind);
                const auto row = static_cast<std::size_t>(io);
                EXPECT_TRUE(near_rel(amp.col[0][row], want.col1, 1e-4))
                    << fc.name << " theta " << theta << " row " << io << " column 1";
                EXPECT_TRUE(near_rel(amp.col[1][row], want.col2, 1e-4))
                    << fc.name << " theta " << theta << " row " << io << " column 2";
            }
        }
    }
}

// 400 m/s effective velocity (vp = 2 vs), 10 m, impedance ratio 0.18, next to no damping: at the
// quarter-wavelength frequency of 10 Hz column 1 is about -(2/0.18) i and column 2 blows up.
// fom is the 10 Hz row itself, so row 0 is evaluated, not set.
TEST(transfer, vertical_quarter_wavelength_resonance) {
    const layer_table lt = make_table({
        {1.8f, 200.0f, 400.0f, 1e7f, 1e7f, 0.0f, 0.0f, 10.0f},
        {2.5f, 800.0f, 1600.0f, 1e7f, 1e7f, 0.0f, 0.0f, 0.0f},
    });
    amp_table amp = make_amp(1);
    sbudml(10.0f * two_pi, 1.0f, 1, lt, 0.0f, amp);
    const double alpha = 1.8 * 400.0 / (2.5 * 1600.0);
    EXPECT_TRUE(near_rel(amp.col[0][0], cd(0.0, -2.0 / alpha), 1e-3));
    EXPECT_GT(std::abs(to_cd(amp.col[1][0])), 1e4);
}

// Many layers against the layer-by-layer amplitude recursion, on a 0.125 Hz grid up to 25 Hz.
// At 50 degrees the 1200 m/s layer is beyond its critical angle (p > 1/1200 s/m): the radicand
// of its wavenumber has a negative real part, and only the principal root (std::sqrt here)
// matches; the other root swaps the roles of e^(i nu h) and e^(-i nu h).
TEST(transfer, many_layers_match_amplitude_recursion) {
    const layer_table lt = make_table(deep_site);
    const float dom = two_pi * 0.125f;
    const int nom = 201;
    const float beyond_critical = 50.0f * 0.017453292f;
    for (const auto& fc : both_functions) {
        for (float theta : {0.0f, 0.3f, beyond_critical}) {
            amp_table amp = make_amp(nom);
            fc.fn(0.0f, dom, nom, lt, theta, amp);
            for (int io = 1; io < nom; ++io) {
                const double om = d(static_cast<float>(io) * dom);
                const columns want = stack_d(deep_site, om, d(theta), fc.kind);
                const auto row = static_cast<std::size_t>(io);
                EXPECT_TRUE(near_rel(amp.col[0][row], want.col1, 2e-4))
                    << fc.name << " theta " << theta << " row " << io << " column 1";
                EXPECT_TRUE(near_rel(amp.col[1][row], want.col2, 2e-4))
                    << fc.name << " theta " << theta << " row " << io << " column 2";
            }
        }
    }
}

// Effective velocity of the vertical motion: Vp when vp = 2 vs, sqrt(3) vs when vs/vp -> 0. The
// vertical table must then match the SH table of a profile with that S-wave velocity (same
// damping in vs and vp, so the damped velocities scale alike).
TEST(transfer, vertical_uses_effective_velocity) {
    const struct {
        const char* what;
        float vp_over_vs;
        float veff_over_vs;
    } cases[] = {
        {"vp = 2 vs", 2.0f, 2.0f},
        {"vp >> vs", 3000.0f, 1.7320508f},
    };
    const std::vector<layer> base = {
        {1.7f, 150.0f, 0.0f, 10.0f, 10.0f, 0.4f, 0.4f, 6.0f},
        {1.9f, 300.0f, 0.0f, 20.0f, 20.0f, 0.0f, 0.0f, 15.0f},
        {2.3f, 700.0f, 0.0f, 50.0f, 50.0f, 0.2f, 0.2f, 0.0f},
    };
    const float dom = two_pi * 0.2f;
    const int nom = 80;
    for (const auto& c : cases) {
        std::vector<layer> vertical = base, sh = base;
        for (std::size_t k = 0; k < base.size(); ++k) {
            vertical[k].vp = base[k].vs * c.vp_over_vs;
            sh[k].vs = base[k].vs * c.veff_over_vs;
        }
        amp_table got = make_amp(nom), want = make_amp(nom);
        sbudml(0.0f, dom, nom, make_table(vertical), 0.4f, got);
        sbshml(0.0f, dom, nom, make_table(sh), 0.4f, want);
        for (std::size_t row = 0; row < static_cast<std::size_t>(nom); ++row) {
            for (std::size_t col = 0; col < 2; ++col) {
                EXPECT_TRUE(near_rel(got.col[col][row], to_cd(want.col[col][row]), 1e-4))
                    << c.what << " row " << row << " column " << col + 1;
            }
        }
    }
}

// ---- Exact cases ------------------------------------------------------------------------------

TEST(transfer, zero_frequency_row_is_set_exactly) {
    const layer_table lt = make_table(deep_site);
    for (const auto& fc : both_functions) {
        amp_table amp = make_amp(4);
        fc.fn(0.0f, 0.5f, 4, lt, 0.2f, amp);
        EXPECT_TRUE(same_bits(amp.col[0][0], {2.0f, 0.0f})) << fc.name;
        EXPECT_TRUE(same_bits(amp.col[1][0], {1.0f, 0.0f})) << fc.name;
        EXPECT_FALSE(bits_equal(amp.col[0][1], sentinel)) << fc.name << ": row 1 computed";
    }
}

// A half-space alone: no layer step, the identity matrix, (2,0) and (1,0) in every row.
TEST(transfer, half_space_alone_gives_static_values) {
    const layer_table lt = make_table({{2.0f, 500.0f, 1200.0f, 10.0f, 20.0f, 0.5f, 0.5f, 30.0f}});
    for (const auto& fc : both_functions) {
        for (float fom : {0.0f, 0.37f}) {
            amp_table amp = make_amp(50);
            fc.fn(fom, 1.3f, 50, lt, 0.6f, amp);
            for (std::size_t row = 0; row < 50; ++row) {
                ASSERT_TRUE(same_bits(amp.col[0][row], {2.0f, 0.0f}))
                    << fc.name << " fom " << fom << " row " << row;
                ASSERT_TRUE(same_bits(amp.col[1][row], {1.0f, 0.0f}))
                    << fc.name << " fom " << fom << " row " << row;
            }
        }
    }
}

TEST(transfer, rows_from_nom_on_are_untouched) {
    const layer_table lt = make_table(deep_site);
    const std::size_t rows = 12;
    const struct {
        float fom;
        int nom;
    } cases[] = {{0.0f, 0}, {0.0f, 1}, {0.0f, 7}, {0.8f, 0}, {0.8f, 1}, {0.8f, 7}};
    for (const auto& fc : both_functions) {
        for (const auto& c : cases) {
            amp_table amp = make_amp(rows);
            fc.fn(c.fom, 0.9f, c.nom, lt, 0.1f, amp);
            for (std::size_t row = 0; row < rows; ++row) {
                const bool written = row < static_cast<std::size_t>(c.nom);
                for (std::size_t col = 0; col < 2; ++col) {
                    EXPECT_EQ(!bits_equal(amp.col[col][row], sentinel), written)
                        << fc.name << " fom " << c.fom << " nom " << c.nom << " row " << row
                        << " column " << col + 1;
                }
            }
        }
    }
}

TEST(transfer, sign_of_incidence_angle_does_not_matter) {
    const layer_table lt = make_table(deep_site);
    for (const auto& fc : both_functions) {
        amp_table plus = make_amp(60), minus = make_amp(60);
        fc.fn(0.0f, 0.7f, 60, lt, 0.45f, plus);
        fc.fn(0.0f, 0.7f, 60, lt, -0.45f, minus);
        for (std::size_t row = 0; row < 60; ++row) {
            for (std::size_t col = 0; col < 2; ++col) {
                ASSERT_TRUE(same_bits(minus.col[col][row], plus.col[col][row]))
                    << fc.name << " row " << row << " column " << col + 1;
            }
        }
    }
}

// Every value stays finite beyond the critical angle, where a layer's wave is evanescent, up to
// the highest frequency of a fine record (grid of a 32768-point transform at 0.005 s).
TEST(transfer, finite_beyond_critical_angle) {
    const layer_table lt = make_table(deep_site);
    const float dom = two_pi / (32768.0f * 0.005f);
    const int nom = 16385;
    for (const auto& fc : both_functions) {
        amp_table amp = make_amp(static_cast<std::size_t>(nom));
        fc.fn(0.0f, dom, nom, lt, 60.0f * 0.017453292f, amp);
        for (std::size_t row = 0; row < static_cast<std::size_t>(nom); ++row) {
            for (std::size_t col = 0; col < 2; ++col) {
                ASSERT_TRUE(std::isfinite(d(amp.col[col][row].re)) &&
                            std::isfinite(d(amp.col[col][row].im)))
                    << fc.name << " row " << row << " column " << col + 1;
            }
        }
    }
}

// Damping rule: Q = max(Q0 f^n, Q0), V* = (V, V (0.5/Q)).
TEST(damped_velocity, quality_factor_and_floor) {
    const struct {
        const char* what;
        float v, q0, n, freq, q;
    } cases[] = {
        {"floor below 1 Hz", 400.0f, 10.0f, 0.8f, 0.5f, 10.0f},
        {"floor just below 1 Hz", 250.0f, 7.0f, 1.0f, 0.99f, 7.0f},
        {"no exponent", 400.0f, 10.0f, 0.0f, 7.3f, 10.0f},
        {"fs 0.5 at 4 Hz doubles Q", 400.0f, 10.0f, 0.5f, 4.0f, 20.0f},
        {"linear in frequency", 1500.0f, 30.0f, 1.0f, 3.0f, 90.0f},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(same_bits(damped_velocity(c.v, c.q0, c.n, c.freq), {c.v, c.v * (0.5f / c.q)}))
            << c.what;
    }
}

// The same rule seen through the tables: a profile whose quality factors follow f^n must give
// the table of the profile with the resulting constant Q, bit for bit: below 1 Hz the floor
// (Q = Q0), at 4 Hz with n = 0.5 the doubled Q.
TEST(transfer, frequency_dependent_damping_in_the_tables) {
    const struct {
        const char* what;
        float freq, n, q_factor;
    } cases[] = {
        {"0.3 Hz, n 0.8: floor", 0.3f, 0.8f, 1.0f},
        {"0.9 Hz, n 1.0: floor", 0.9f, 1.0f, 1.0f},
        {"4 Hz, n 0.5: Q doubled", 4.0f, 0.5f, 2.0f},
    };
    for (const auto& fc : both_functions) {
        for (const auto& c : cases) {
            std::vector<layer> varying = deep_site, constant = deep_site;
            for (std::size_t k = 0; k < deep_site.size(); ++k) {
                varying[k].fs = varying[k].fp = c.n;
                constant[k].fs = constant[k].fp = 0.0f;
                constant[k].qs = deep_site[k].qs * c.q_factor;
                constant[k].qp = deep_site[k].qp * c.q_factor;
            }
            // fom is the frequency itself, so row 0 is evaluated at freq = fom/2pi exactly.
            const float fom = c.freq * two_pi;
            ASSERT_EQ(fom / two_pi, c.freq);
            amp_table got = make_amp(1), want = make_amp(1);
            fc.fn(fom, 1.0f, 1, make_table(varying), 0.2f, got);
            fc.fn(fom, 1.0f, 1, make_table(constant), 0.2f, want);
            for (std::size_t col = 0; col < 2; ++col) {
                EXPECT_TRUE(same_bits(got.col[col][0], want.col[col][0]))
                    << fc.name << " " << c.what << " column " << col + 1;
            }
        }
    }
}

// The damping rule is evaluated at freq = om / 2pi, one float division: with n = 1 the power is
// exact, so Q0 f^1 must give the table of the constant Q = Q0 * (om / 2pi), bit for bit, at any
// angular frequency above 1 Hz (each one set as fom, so that row 0 is evaluated at om = fom).
TEST(transfer, quality_factor_follows_om_over_two_pi) {
    for (const auto& fc : both_functions) {
        for (int step = 1; step <= 40; ++step) {
            const float om = 7.013f + 3.7f * static_cast<float>(step); // above 1 Hz: no floor
            const float freq = om / two_pi;
            std::vector<layer> varying = deep_site, constant = deep_site;
            for (std::size_t k = 0; k < deep_site.size(); ++k) {
                varying[k].fs = varying[k].fp = 1.0f;
                constant[k].fs = constant[k].fp = 0.0f;
                constant[k].qs = deep_site[k].qs * freq;
                constant[k].qp = deep_site[k].qp * freq;
            }
            amp_table got = make_amp(1), want = make_amp(1);
            fc.fn(om, 1.0f, 1, make_table(varying), 0.2f, got);
            fc.fn(om, 1.0f, 1, make_table(constant), 0.2f, want);
            for (std::size_t col = 0; col < 2; ++col) {
                EXPECT_TRUE(same_bits(got.col[col][0], want.col[col][0]))
                    << fc.name << " om " << om << " column " << col + 1;
            }
        }
    }
}

// ---- Overflowing rows --------------------------------------------------------------------

// The layer recursion of stack_d with the exponentials and the running amplitudes kept as a
// mantissa and a power of two, so that nothing overflows even in double: e^(i nu h) of a layer
// is e^(i nu h - s ln2) * 2^s, and (E, F) is rescaled after every layer.
columns stack_scaled_d(const std::vector<layer>& rows, double om, double theta, wave kind) {
    const double f = om / (2.0 * std::numbers::pi);
    const double p = slowness_d(rows.back(), theta, kind);
    const double ln2 = std::numbers::ln2;
    const cd i(0.0, 1.0);
    cd e = 1.0, fdown = 1.0;
    long scale = 0;
    double phase = 0.0;
    for (std::size_t k = 0; k + 1 < rows.size(); ++k) {
        const cd v1 = velocity_d(rows[k], f, kind);
        const cd v2 = velocity_d(rows[k + 1], f, kind);
        const cd alpha = d(rows[k].dns) * v1 / (d(rows[k + 1].dns) * v2);
        const cd nuh = om * std::sqrt(1.0 / (v1 * v1) - p * p) * d(rows[k].thk);
        phase += std::abs(nuh);
        const double s = std::floor(std::fabs((i * nuh).real()) / ln2);
        const cd up = std::exp(i * nuh - s * ln2);
        const cd dn = std::exp(-i * nuh - s * ln2);
        const cd e2 = 0.5 * ((1.0 + alpha) * up * e + (1.0 - alpha) * dn * fdown);
        const cd f2 = 0.5 * ((1.0 - alpha) * up * e + (1.0 + alpha) * dn * fdown);
        const int t = std::ilogb(std::max(std::abs(e2), std::abs(f2)));
        e = std::ldexp(1.0, -t) * e2;
        fdown = std::ldexp(1.0, -t) * f2;
        scale += static_cast<long>(s) + t;
    }
    const auto back = [scale](cd z) {
        return cd(std::ldexp(z.real(), static_cast<int>(-scale)),
                  std::ldexp(z.imag(), static_cast<int>(-scale)));
    };
    return {back(2.0 / e), back(2.0 / (e + fdown)), phase};
}

// Relative error max(1e-5, nl 2^-22), plus 2^-140 absolute for values below the normal floats.
// Each layer's phase nu h is a float product, good to a few units of 2^-24 of its size: over
// hundreds of radians that alone exceeds 1e-5, so the bound also allows 2^-21 of the summed
// phase.
::testing::AssertionResult near_scaled(cplx got, const columns& c, cd want, std::size_t nl) {
    const double err = std::abs(to_cd(got) - want);
    const double rel = std::max(
        {1e-5, static_cast<double>(nl) * std::ldexp(1.0, -22), c.phase * std::ldexp(1.0, -21)});
    if (sitewave::is_finite(got) && err <= rel * std::abs(want) + std::ldexp(1.0, -140)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "got (" << got.re << ", " << got.im << ") want " << want << " error " << err;
}

// A 600 m basin (e^(omega h/2QV) leaves the float range near 94 Hz) and 10000 rows of 1 m (the
// running product leaves even the double range near 46 Hz): every row finite and as small as the
// true ratio, subnormal or 0 where it is that small, up to 100 Hz.
TEST(transfer, overflowing_rows_are_recomputed_without_overflow) {
    const layer soft{1.9f, 200.0f, 400.0f, 10.0f, 20.0f, 0.0f, 0.0f, 600.0f};
    const layer rock{2.3f, 1200.0f, 2500.0f, 50.0f, 100.0f, 0.0f, 0.0f, 0.0f};
    layer thin = soft;
    thin.thk = 1.0f;
    std::vector<layer> many(10000, thin);
    many.push_back(rock);
    const struct {
        const char* name;
        std::vector<layer> rows;
        int nom;
    } profiles[] = {{"basin", {soft, rock}, 401}, {"10000 rows", many, 51}};
    for (const auto& pr : profiles) {
        const float dom = two_pi * (100.0f / static_cast<float>(pr.nom - 1));
        const layer_table lt = make_table(pr.rows);
        for (const auto& fc : both_functions) {
            for (float theta : {0.0f, 0.4f}) {
                amp_table amp = make_amp(static_cast<std::size_t>(pr.nom));
                fc.fn(0.0f, dom, pr.nom, lt, theta, amp);
                bool tiny = false;
                for (int io = 1; io < pr.nom; ++io) {
                    const double om = d(static_cast<float>(io) * dom);
                    const columns want = stack_scaled_d(pr.rows, om, d(theta), fc.kind);
                    const auto row = static_cast<std::size_t>(io);
                    tiny = tiny || std::abs(want.col1) < 1e-30;
                    EXPECT_TRUE(near_scaled(amp.col[0][row], want, want.col1, pr.rows.size()))
                        << pr.name << " " << fc.name << " theta " << theta << " row " << io;
                    EXPECT_TRUE(near_scaled(amp.col[1][row], want, want.col2, pr.rows.size()))
                        << pr.name << " " << fc.name << " theta " << theta << " row " << io;
                }
                EXPECT_TRUE(tiny || fc.kind == wave::vertical) << pr.name << " reaches no overflow";
            }
        }
    }
}

// With the obliquity factor the impedance ratio of one layer over the half-space is
// alpha = rho1 V1 cos j1 / (rho2 V2 cos j2), cos j = V nu / omega, and column 1 is
// 2 / (cos nu h + i alpha sin nu h): at 0, 30 and 60 degrees, both wave types.
TEST(transfer, oblique_impedance_matches_closed_form) {
    const layer_table lt = make_table(one_layer_site);
    const float dom = two_pi * 0.25f;
    const int nom = 101;
    for (const float deg : {0.0f, 30.0f, 60.0f}) {
        const float theta = deg * 0.017453292f;
        amp_table sh = make_amp(nom), ud = make_amp(nom);
        oblique_tables(dom, nom, lt, theta, sh, ud);
        for (const auto& fc : both_functions) {
            const amp_table& amp = fc.kind == wave::sh ? sh : ud;
            for (int io = 1; io < nom; ++io) {
                const double om = d(static_cast<float>(io) * dom);
                const double f = om / (2.0 * std::numbers::pi);
                const double p = slowness_d(one_layer_site[1], d(theta), fc.kind);
                const cd v1 = velocity_d(one_layer_site[0], f, fc.kind);
                const cd v2 = velocity_d(one_layer_site[1], f, fc.kind);
                const cd cos1 = std::sqrt(1.0 - p * p * v1 * v1);
                const cd cos2 = std::sqrt(1.0 - p * p * v2 * v2);
                const cd alpha =
                    d(one_layer_site[0].dns) * v1 * cos1 / (d(one_layer_site[1].dns) * v2 * cos2);
                const cd nuh = om * std::sqrt(1.0 / (v1 * v1) - p * p) * d(one_layer_site[0].thk);
                const cd want = 2.0 / (std::cos(nuh) + cd(0.0, 1.0) * alpha * std::sin(nuh));
                EXPECT_TRUE(near_rel(amp.col[0][static_cast<std::size_t>(io)], want, 1e-4))
                    << fc.name << " " << deg << " deg, row " << io;
            }
        }
    }
}

} // namespace
