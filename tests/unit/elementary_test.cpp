// The vector exponential, power, sine and cosine of the tables against the library's double
// results: within 2^-48 wherever they claim to hold, and `settled` only where rounding to float
// cannot tell them apart.
#include "arith/elementary.hpp"
#include "arith/real.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

using namespace sitewave;
using vd = vd_t<2>;

double rel(double got, double want) { return std::fabs(got - want) / std::fabs(want); }

// Float arguments of every magnitude the tables meet, and those nearest the multiples of pi/2
// (where the reduced argument is smallest).
std::vector<float> arguments(double limit) {
    std::mt19937 gen(11);
    std::vector<float> out;
    for (int i = 0; i < 200000; ++i) {
        const float m = std::ldexp(std::uniform_real_distribution<float>(0.5f, 1.0f)(gen),
                                   static_cast<int>(gen() % 60) - 40);
        if (static_cast<double>(m) < limit) {
            out.push_back(gen() % 2 ? m : -m);
        }
    }
    for (double k = 1; k * 1.5707963267948966 < limit; k = std::ceil(k * 1.01)) {
        const auto x = static_cast<float>(k * 1.5707963267948966);
        out.insert(out.end(), {x, std::nextafter(x, 0.0f), std::nextafter(x, 2.0f * x), -x});
    }
    return out;
}

TEST(elementary, exp_within_bound_of_library) {
    for (const float x : arguments(699.0)) {
        vd up, down;
        exp_pair_v<2>(vd{x, x}, up, down);
        EXPECT_LE(rel(up[0], std::exp(static_cast<double>(x))), 0x1p-48) << x;
        EXPECT_LE(rel(down[0], std::exp(-static_cast<double>(x))), 0x1p-48) << x;
    }
}

// Powers of float frequencies in the vector range, with float exponents of the soil files'
// kind; and, through pow_floats, every argument (zero, out of range, |n| > 1) giving the
// library's float.
TEST(elementary, power_within_bound_of_library) {
    std::mt19937 gen(12);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int i = 0; i < 200000; ++i) {
        const float x = std::ldexp(std::uniform_real_distribution<float>(1.0f, 2.0f)(gen),
                                   static_cast<int>(gen() % 22) - 11);
        const float n = i % 7 == 0 ? std::round(unit(gen) * 10.0f) / 10.0f : unit(gen);
        const vd v =
            pow_v<2>(vd{static_cast<double>(x), static_cast<double>(x)}, static_cast<double>(n));
        EXPECT_LE(rel(v[0], std::pow(static_cast<double>(x), static_cast<double>(n))), 0x1p-48)
            << x << " ^ " << n;
    }
    const float xs[] = {0.0f, 1e-30f, 0x1p-11f, 0.0244f, 1.0f, 99.9f, 0x1p11f, 3e5f, 1e30f};
    const float ns[] = {-1.0f, -0.3f, 0.1f, 0.5f, 0.7f, 1.0f, 1.5f, 3.0f};
    for (const float n : ns) {
        for (const float x : xs) {
            float out[2];
            const float in[2] = {x, std::nextafter(x, 1e38f)};
            pow_floats<2>(in, 2, n, out);
            EXPECT_EQ(out[0], pow_d(in[0], n)) << x << " ^ " << n;
            EXPECT_EQ(out[1], pow_d(in[1], n)) << in[1] << " ^ " << n;
        }
    }
}

TEST(elementary, sine_and_cosine_within_bound_where_held) {
    int held = 0, total = 0;
    for (const float y : arguments(trig_limit)) {
        vd s, c;
        vi_t<2> ok;
        sincos_v<2>(vd{y, y}, s, c, ok);
        ++total;
        if (ok[0] == 0) {
            continue;
        }
        ++held;
        EXPECT_LE(rel(s[0], std::sin(static_cast<double>(y))), 0x1p-48) << y;
        EXPECT_LE(rel(c[0], std::cos(static_cast<double>(y))), 0x1p-48) << y;
    }
    EXPECT_GT(held, total * 99 / 100);
}

TEST(elementary, modulus_is_the_rounded_hypot) {
    std::mt19937 gen(5);
    const auto any_float = [&] {
        float f = 0;
        const std::uint32_t bits = static_cast<std::uint32_t>(gen());
        std::memcpy(&f, &bits, sizeof f);
        return f;
    };
    for (int i = 0; i < 1000000; ++i) {
        const sitewave::cplx z{any_float(), i % 3 == 0 ? 0.0f : any_float()};
        const auto want =
            static_cast<float>(std::hypot(static_cast<double>(z.re), static_cast<double>(z.im)));
        const float got = sitewave::cabs(z);
        ASSERT_TRUE(std::memcmp(&got, &want, sizeof got) == 0 || (got != got && want != want))
            << z.re << " " << z.im;
    }
}

TEST(elementary, settled_only_away_from_float_midpoints) {
    const double one_plus = 1.0 + 0x1p-24; // halfway between 1 and the next float
    const struct {
        double x;
        bool settled;
    } cases[] = {{1.0, true},
                 {one_plus, false},
                 {one_plus * (1 + 0x1p-41), false},
                 {one_plus * (1 + 0x1p-30), true},
                 {-3.1e10, true},
                 {0.0, false},
                 {0x1p-1020, false},
                 {1e-40, false},
                 {INFINITY, false},
                 {NAN, false},
                 {1e300, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(settled<2>(vd{c.x, c.x})[0] != 0, c.settled) << c.x;
        EXPECT_EQ(sitewave::settled(c.x), c.settled) << c.x;
    }
}

} // namespace
