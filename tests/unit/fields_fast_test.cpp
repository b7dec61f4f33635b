// The E and F fields against a reference written here from std::to_chars with an explicit
// precision: the digits exactly as std::to_chars gives them, laid out by the field rules. The
// fields compute their digits in double arithmetic and fall back to std::to_chars only where
// the rounding could be in doubt, so the cases below aim at those places: exact ties, values
// next to a rounding boundary, powers of ten and their neighbours, the ends of the float range.
#include "support/field_reference.hpp"
#include "textio/fields.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using sitewave::textio::field_e;
using sitewave::textio::field_f;

using field_reference::reference_e;
using field_reference::reference_f;

struct layout {
    char kind;
    int w, d;
};

// The fields of the result files and of the soil echo, and a few narrow ones.
const layout layouts[] = {{'E', 12, 4}, {'F', 8, 4},  {'F', 10, 5}, {'F', 9, 3}, {'F', 9, 2},
                          {'F', 7, 3},  {'F', 12, 3}, {'E', 10, 4}, {'E', 9, 4}, {'E', 15, 8},
                          {'F', 5, 4},  {'F', 6, 1},  {'E', 8, 1}};

std::string fast(const layout& l, float v) {
    return l.kind == 'E' ? field_e(v, l.w, l.d) : field_f(v, l.w, l.d);
}
std::string reference(const layout& l, float v) {
    return l.kind == 'E' ? reference_e(v, l.w, l.d) : reference_f(v, l.w, l.d);
}

// Counts the values whose field differs from the reference, reporting the first few.
int mismatches(const std::vector<float>& values) {
    int bad = 0;
    for (const layout& l : layouts) {
        for (const float v : values) {
            const std::string got = fast(l, v);
            const std::string want = reference(l, v);
            if (got != want && ++bad <= 10) {
                ADD_FAILURE() << l.kind << l.w << "." << l.d << " of " << std::hexfloat << v
                              << ": got \"" << got << "\" want \"" << want << "\"";
            }
        }
    }
    return bad;
}

float from_bits(std::uint32_t b) { return std::bit_cast<float>(b); }

// The float itself and its neighbours, of both signs.
void with_neighbours(std::vector<float>& out, float v, int n) {
    float up = v, down = v;
    for (int i = 0; i <= n; ++i) {
        out.insert(out.end(), {up, down, -up, -down});
        up = std::nextafter(up, std::numeric_limits<float>::infinity());
        down = std::nextafter(down, 0.0f);
    }
}

TEST(fields_fast, table_of_known_fields) {
    const struct {
        float v;
        char kind;
        int w, d;
        const char* text;
    } cases[] = {
        {1.234f, 'E', 12, 4, "  0.1234E+01"},
        {0.99996f, 'E', 12, 4, "  0.1000E+01"},
        {0.99994f, 'E', 12, 4, "  0.9999E+00"},
        {-0.99996f, 'E', 12, 4, " -0.1000E+01"},
        {9999.5f, 'E', 12, 4, "  0.1000E+05"},
        {9998.5f, 'E', 12, 4, "  0.9998E+04"},
        {0.0f, 'E', 12, 4, "  0.0000E+00"},
        {-0.0f, 'E', 12, 4, "  0.0000E+00"},
        {1.0e-40f, 'E', 12, 4, "  0.1000E-39"},
        {3.4028235e38f, 'E', 12, 4, "  0.3403E+39"},
        {-1.5f, 'E', 10, 4, "-.1500E+01"},
        {-1.5f, 'E', 9, 4, "*********"},
        {12.5f, 'F', 8, 4, " 12.5000"},
        {0.5f, 'F', 5, 4, ".5000"},
        {1234.5678f, 'F', 8, 4, "********"},
        {999.99994f, 'F', 8, 4, "999.9999"},
        {-99.9999f, 'F', 8, 4, "-99.9999"},
        {-999.9f, 'F', 8, 4, "********"},
        {-0.00001f, 'F', 8, 4, "  0.0000"},
        {-0.00006f, 'F', 8, 4, " -0.0001"},
        {0.125f, 'F', 9, 2, "     0.12"},
        {0.375f, 'F', 9, 2, "     0.38"},
        {2.5f, 'F', 6, 1, "   2.5"},
        {-0.0f, 'F', 7, 3, "  0.000"},
        {1.0e20f, 'F', 12, 3, "************"},
        {123456.789f, 'F', 12, 3, "  123456.789"},
    };
    for (const auto& c : cases) {
        const layout l{c.kind, c.w, c.d};
        EXPECT_EQ(fast(l, c.v), c.text) << c.kind << c.w << "." << c.d << " of " << c.v;
        EXPECT_EQ(reference(l, c.v), c.text) << "reference " << c.kind << c.w << "." << c.d;
    }
}

TEST(fields_fast, non_finite_values) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> values = {
        inf, -inf, nan, -nan, from_bits(0x7f800001u), from_bits(0xffc0beefu)};
    EXPECT_EQ(mismatches(values), 0);
}

TEST(fields_fast, powers_of_ten_and_their_neighbours) {
    std::vector<float> values;
    for (int k = -45; k <= 38; ++k) {
        with_neighbours(values, std::pow(10.0f, static_cast<float>(k)), 3);
        with_neighbours(values, static_cast<float>(std::pow(10.0, k)), 3);
    }
    EXPECT_EQ(mismatches(values), 0);
}

// Exact ties of the E and F roundings: m + 1/2 units of the last digit kept, with m odd and
// even, where the float holds them exactly (a few digits times a power of two).
TEST(fields_fast, exact_ties_and_their_neighbours) {
    std::vector<float> values;
    for (int m = 0; m < 4000; m += 17) {
        for (int scale = -12; scale <= 12; ++scale) {
            const float tie = std::ldexp(static_cast<float>(2 * m + 1), scale);
            with_neighbours(values, tie, 1);
        }
    }
    // The ties of F9.2 and F7.3 on quarters and eighths, and E12.4 on 5-digit integers.
    for (int m = 0; m < 20000; m += 13) {
        values.push_back(static_cast<float>(m) + 0.125f);
        values.push_back(static_cast<float>(m) + 0.0625f);
        values.push_back(static_cast<float>(10 * m + 5));
    }
    EXPECT_EQ(mismatches(values), 0);
}

// Values next to the rounding boundary of the fourth digit: (n + 1/2) x 10^k for a 4-digit n,
// the nearest float and its neighbours.
TEST(fields_fast, values_next_to_a_rounding_boundary) {
    std::vector<float> values;
    std::mt19937 g(7u);
    for (int i = 0; i < 3000; ++i) {
        const double n = 1000.0 + static_cast<double>(g() % 9000u) + 0.5;
        const int k = static_cast<int>(g() % 80u) - 44;
        const auto v = static_cast<float>(n * std::pow(10.0, k - 3));
        if (std::isfinite(v) && v != 0.0f) {
            with_neighbours(values, v, 2);
        }
    }
    EXPECT_EQ(mismatches(values), 0);
}

TEST(fields_fast, subnormals_and_the_ends_of_the_range) {
    std::vector<float> values;
    for (std::uint32_t b = 0; b < 3000; ++b) {
        values.push_back(from_bits(b));
        values.push_back(from_bits(0x80000000u | b));
        values.push_back(from_bits(0x007fffffu - b)); // largest subnormals
        values.push_back(from_bits(0x7f7fffffu - b)); // largest finite
        values.push_back(from_bits(0x00800000u + b)); // smallest normal
    }
    EXPECT_EQ(mismatches(values), 0);
}

TEST(fields_fast, random_bit_patterns) {
    std::mt19937 g(20261208u);
    std::vector<float> values;
    for (int i = 0; i < 60000; ++i) {
        values.push_back(from_bits(static_cast<std::uint32_t>(g())));
    }
    // Values of the size the result files hold: frequencies, times and spectral moduli.
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int i = 0; i < 30000; ++i) {
        values.push_back(u(g) *
                         std::pow(10.0f, static_cast<float>(static_cast<int>(g() % 12) - 6)));
    }
    EXPECT_EQ(mismatches(values), 0);
}

} // namespace
