#include "arith/real.hpp"
#include "fft/wvfast.hpp"
#include "support/bits.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <vector>

// The reference transforms below are computed in double with std::complex<double>; only the
// program itself keeps to the float model of arith/real.hpp.
namespace {

using sitewave::cplx;
using sitewave::fft::wvfast;
using cd = std::complex<double>;

constexpr double eps = 1.0 / (1 << 23); // float ulp at 1

cd to_cd(cplx z) { return {static_cast<double>(z.re), static_cast<double>(z.im)}; }

std::vector<cplx> random_data(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<cplx> x(n);
    for (auto& z : x) {
        z.re = u(gen);
        z.im = u(gen);
    }
    return x;
}

double max_abs(const std::vector<cplx>& x) {
    double m = 0.0;
    for (cplx z : x) {
        m = std::max(m, std::abs(to_cd(z)));
    }
    return m;
}

// Bin m of sum_j x[j] e^(ind*2*pi*i*j*m/n), directly, in double.
cd direct_dft_bin(const std::vector<cplx>& x, std::size_t m, int ind) {
    const std::size_t n = x.size();
    cd sum = 0.0;
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t r = (j * m) % n; // exact reduction of the phase
        const double phase =
            ind * 2.0 * std::numbers::pi * static_cast<double>(r) / static_cast<double>(n);
        sum += to_cd(x[j]) * std::polar(1.0, phase);
    }
    return sum;
}

TEST(wvfast, length_one_is_unchanged) {
    for (int ind : {-1, 1}) {
        std::vector<cplx> a{{0.75f, -3.5f}};
        wvfast(a, ind);
        EXPECT_TRUE(same_bits(a[0], {0.75f, -3.5f})) << "ind " << ind;
    }
}

TEST(wvfast, length_two_is_sum_and_difference) {
    const struct {
        cplx x1, x2;
    } cases[] = {
        {{1.0f, 2.0f}, {3.0f, -5.0f}},
        {{0.1f, -0.7f}, {0.3f, 0.9f}},
        {{1e20f, 3e-20f}, {-2.5e19f, 7.0f}},
    };
    for (const auto& c : cases) {
        for (int ind : {-1, 1}) {
            std::vector<cplx> a{c.x1, c.x2};
            wvfast(a, ind);
            EXPECT_TRUE(same_bits(a[0], {c.x1.re + c.x2.re, c.x1.im + c.x2.im})) << "ind " << ind;
            EXPECT_TRUE(same_bits(a[1], {c.x1.re - c.x2.re, c.x1.im - c.x2.im})) << "ind " << ind;
        }
    }
}

// An impulse at position p must come out as the phase ramp e^(ind*2*pi*i*p*m/8). The reordering
// moves the impulse to its bit-reversed partner (1<->4 and 3<->6 counted from 0); a wrong partner
// produces the ramp of another position, off by order one.
TEST(wvfast, n8_impulse_at_each_position_gives_its_phase_ramp) {
    constexpr std::size_t n = 8;
    for (int ind : {-1, 1}) {
        for (std::size_t p = 0; p < n; ++p) {
            std::vector<cplx> a(n);
            a[p] = {1.0f, 0.0f};
            wvfast(a, ind);
            for (std::size_t m = 0; m < n; ++m) {
                const double phase = ind * 2.0 * std::numbers::pi *
                                     static_cast<double>((p * m) % n) / static_cast<double>(n);
                EXPECT_LT(std::abs(to_cd(a[m]) - std::polar(1.0, phase)), 4 * eps)
                    << "ind " << ind << " impulse at " << p << " bin " << m;
            }
        }
    }
}

// An impulse at the origin only ever meets zero partners: every bin is exactly 1.
TEST(wvfast, impulse_at_origin_is_exactly_one_everywhere) {
    for (std::size_t n : {2u, 8u, 1024u}) {
        for (int ind : {-1, 1}) {
            std::vector<cplx> a(n);
            a[0] = {1.0f, 0.0f};
            wvfast(a, ind);
            for (std::size_t m = 0; m < n; ++m) {
                ASSERT_TRUE(same_bits(a[m], {1.0f, 0.0f})) << "n " << n << " bin " << m;
            }
        }
    }
}

TEST(wvfast, constant_goes_to_the_zero_bin) {
    const cplx v{0.625f, -1.25f};
    for (std::size_t n : {4u, 64u, 4096u}) {
        for (int ind : {-1, 1}) {
            std::vector<cplx> a(n, v);
            wvfast(a, ind);
            const double nd = static_cast<double>(n);
            const double tol = 4 * eps * std::log2(nd) * nd * std::abs(to_cd(v));
            EXPECT_LT(std::abs(to_cd(a[0]) - nd * to_cd(v)), tol) << "n " << n;
            for (std::size_t m = 1; m < n; ++m) {
                ASSERT_LT(std::abs(to_cd(a[m])), tol) << "n " << n << " bin " << m;
            }
        }
    }
}

TEST(wvfast, inverse_is_n_times_input) {
    for (std::size_t n : {4u, 16u, 512u, 8192u, 32768u}) {
        const auto x = random_data(n, static_cast<unsigned>(n));
        auto a = x;
        wvfast(a, -1);
        wvfast(a, 1);
        const double nd = static_cast<double>(n);
        const double tol = 4 * eps * std::log2(nd) * nd * max_abs(x);
        double worst = 0.0;
        for (std::size_t m = 0; m < n; ++m) {
            worst = std::max(worst, std::abs(to_cd(a[m]) - nd * to_cd(x[m])));
        }
        EXPECT_LT(worst, tol) << "n " << n;
    }
}

// Against the sum written out, in double. The float transform's error grows like
// sqrt(n)*max|x| per bin (log2(n) roundings per path, random signs); the bound has room for that
// and for the twiddle angles made with pai one ulp below pi, but not for a wrong twiddle, sign or
// ordering, which is off by order sqrt(n)*max|x|.
TEST(wvfast, agrees_with_direct_dft) {
    for (std::size_t n : {4u, 16u, 64u, 256u, 1024u, 4096u, 32768u}) {
        const auto x = random_data(n, 1000u + static_cast<unsigned>(n));
        const double nd = static_cast<double>(n);
        const double tol = 2 * eps * std::log2(nd) * std::sqrt(nd) * max_abs(x);

        // Every bin up to 4096; for 32768 the edges, the Nyquist bin and a random sample.
        std::vector<std::size_t> bins;
        if (n <= 4096) {
            for (std::size_t m = 0; m < n; ++m) {
                bins.push_back(m);
            }
        } else {
            bins = {0, 1, 2, n / 2 - 1, n / 2, n / 2 + 1, n - 2, n - 1};
            std::mt19937 gen(7);
            std::uniform_int_distribution<std::size_t> pick(0, n - 1);
            for (int r = 0; r < 24; ++r) {
                bins.push_back(pick(gen));
            }
        }

        for (int ind : {-1, 1}) {
            auto a = x;
            wvfast(a, ind);
            double worst = 0.0;
            for (std::size_t m : bins) {
                worst = std::max(worst, std::abs(to_cd(a[m]) - direct_dft_bin(x, m, ind)));
            }
            EXPECT_LT(worst, tol) << "n " << n << " ind " << ind;
        }
    }
}

// The quarter-turn twiddle of the n = 4 pass is e^(-i*pai/2) with pai = 3.1415925f: its real
// part is cos(1.5707962f) = +7.5497901e-8, where the float nearest pi would give -4.3711388e-8.
// An impulse at position 1 comes out in bin 1 as that twiddle, bit for bit.
TEST(wvfast, quarter_turn_twiddle_uses_pai_one_ulp_below_pi) {
    std::vector<cplx> a(4);
    a[1] = {1.0f, 0.0f};
    wvfast(a, -1);
    EXPECT_TRUE(same_bits(a[1], {0x1.4442d2p-24f, -1.0f}));
}

// An impulse at position 1 reaches the last pass as ones in the upper half and zeros in the
// lower half, so bin k (k < n/2) is exactly the last pass's twiddle factor e^(i*angle) and bin
// k + n/2 its negative. The angle is float(k*ind) * pai, rounded, then / (n/2), rounded; the
// twiddle is cos and sin in double, rounded. Another order of the float operations moves bits.
TEST(wvfast, impulse_at_one_gives_last_pass_twiddles_bit_for_bit) {
    constexpr float pai = 3.1415925f;
    for (std::size_t n : {8u, 4096u, 32768u}) {
        const float kmax = static_cast<float>(n / 2);
        for (int ind : {-1, 1}) {
            std::vector<cplx> a(n);
            a[1] = {1.0f, 0.0f};
            wvfast(a, ind);
            for (std::size_t k = 0; k < n / 2; ++k) {
                const float turned = static_cast<float>(static_cast<int>(k) * ind) * pai;
                const double angle = static_cast<double>(turned / kmax);
                const cplx w{static_cast<float>(std::cos(angle)),
                             static_cast<float>(std::sin(angle))};
                ASSERT_TRUE(same_bits(a[k], w)) << "n " << n << " ind " << ind << " bin " << k;
                ASSERT_TRUE(same_bits(a[k + n / 2], {0.0f - w.re, 0.0f - w.im}))
                    << "n " << n << " ind " << ind << " bin " << k + n / 2;
            }
        }
    }
}

// Every pass's twiddle factor, from its own angle (k*ind) * pai / kmax, is the last pass's factor
// k * (n/2)/kmax that the transform uses, bit for bit.
TEST(wvfast, each_pass_twiddle_is_a_last_pass_one) {
    constexpr float pai = 3.1415925f;
    constexpr std::size_t n = 32768;
    for (int ind : {-1, 1}) {
        const sitewave::fft::twiddles tw(n, ind);
        for (std::size_t kmax = 1; kmax < n; kmax *= 2) {
            for (std::size_t k = 0; k < kmax; ++k) {
                const float angle =
                    static_cast<float>(static_cast<int>(k) * ind) * pai / static_cast<float>(kmax);
                const cplx w{sitewave::cos_d(angle), sitewave::sin_d(angle)};
                ASSERT_TRUE(same_bits(tw.last()[k * (n / 2 / kmax)], w)) << kmax << " " << k;
            }
        }
    }
}

// Against the butterflies written out one at a time, with every kind of butterfly code: the
// reordering by reversed bits, then per pass temp = hi * w in double rounded once, hi = lo - temp,
// lo = lo + temp in float. Data of mixed magnitudes; every bit must agree.
TEST(wvfast, butterflies_agree_bit_for_bit_with_one_at_a_time) {
    using sitewave::fft::butterflies;
    std::mt19937 gen(11);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::uniform_int_distribution<int> e(-24, 24);
    for (std::size_t n = 1; n <= 32768; n *= 2) {
        std::vector<cplx> x(n);
        for (cplx& z : x) {
            z = {std::ldexp(u(gen), e(gen)), std::ldexp(u(gen), e(gen))};
        }
        const int bits = std::countr_zero(n);
        for (int ind : {-1, 1}) {
            const sitewave::fft::twiddles tw(n, ind);
            std::vector<cplx> want(n);
            for (std::size_t i = 0; i < n; ++i) {
                std::size_t r = 0;
                for (int b = 0; b < bits; ++b) {
                    r |= ((i >> b) & 1u) << (bits - 1 - b);
                }
                want[r] = x[i];
            }
            for (std::size_t kmax = 1; kmax < n; kmax *= 2) {
                for (std::size_t k = 0; k < kmax; ++k) {
                    const cplx w = tw.last()[k * (n / 2 / kmax)];
                    const double br = static_cast<double>(w.re), bi = static_cast<double>(w.im);
                    for (std::size_t i = k; i < n; i += 2 * kmax) {
                        const cplx l = want[i], h = want[i + kmax];
                        const double ar = static_cast<double>(h.re), ai = static_cast<double>(h.im);
                        const float tr = static_cast<float>(ar * br - ai * bi);
                        const float ti = static_cast<float>(ar * bi + ai * br);
                        want[i + kmax] = {l.re - tr, l.im - ti};
                        want[i] = {l.re + tr, l.im + ti};
                    }
                }
            }
            for (butterflies kind :
                 {butterflies::widest, butterflies::baseline, butterflies::scalar}) {
                auto a = x;
                wvfast(a, ind, tw, kind);
                for (std::size_t m = 0; m < n; ++m) {
                    ASSERT_TRUE(same_bits(a[m], want[m])) << "n " << n << " ind " << ind << " kind "
                                                          << static_cast<int>(kind) << " bin " << m;
                }
            }
        }
    }
}

TEST(wvfast, elements_past_n_are_left_alone) {
    const cplx sentinel{std::bit_cast<float>(0x7fc0beefu), -123.0f};
    for (std::size_t n : {1u, 2u, 16u}) {
        std::vector<cplx> buf(n + 5, sentinel);
        const auto x = random_data(n, 3u);
        std::copy(x.begin(), x.end(), buf.begin());
        wvfast(std::span<cplx>(buf).first(n), -1);
        for (std::size_t m = n; m < buf.size(); ++m) {
            EXPECT_TRUE(same_bits(buf[m], sentinel)) << "n " << n << " element " << m;
        }
    }
}

#ifndef NDEBUG
TEST(wvfastDeathTest, length_not_a_power_of_two_is_rejected) {
    std::vector<cplx> a(12);
    EXPECT_DEATH(wvfast(a, -1), "is_pow2");
}
#endif

} // namespace

// The factors of one direction taken from the other's are those evaluated directly, bit for
// bit, for every length the program transforms (up to 2^15 points), both ways.
TEST(wvfast, opposite_factors_are_the_evaluated_ones) {
    for (std::size_t n = 2; n <= (std::size_t{1} << 15); n *= 2) {
        for (const int ind : {-1, 1}) {
            const sitewave::fft::twiddles direct(n, -ind);
            const sitewave::fft::twiddles taken = sitewave::fft::twiddles(n, ind).opposite();
            ASSERT_EQ(taken.size(), n);
            ASSERT_EQ(taken.direction(), -ind);
            for (std::size_t k = 0; k < n / 2; ++k) {
                ASSERT_TRUE(same_bits(taken.last()[k], direct.last()[k])) << n << " " << k;
            }
        }
    }
}
