#include "textio/fields.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace sitewave::textio {

namespace {

// ---------------------------------------------------------------------------------------------
// Digits in double arithmetic, for the values of a float. The text is the same as the one from
// std::to_chars: where the rounding to the digits kept could be in doubt (the scaled value
// within its error bound of a half unit), the caller falls back to std::to_chars.

// 10^k for k = 0..63, each the nearest double (exact up to 10^22).
constexpr double pow10[64] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29, 1e30, 1e31,
    1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39, 1e40, 1e41, 1e42, 1e43, 1e44, 1e45, 1e46, 1e47,
    1e48, 1e49, 1e50, 1e51, 1e52, 1e53, 1e54, 1e55, 1e56, 1e57, 1e58, 1e59, 1e60, 1e61, 1e62, 1e63};

constexpr std::uint64_t pow10_int[10] = {1,      10,      100,      1000,      10000,
                                         100000, 1000000, 10000000, 100000000, 1000000000};

// 10^-k for k = 0..63, each the nearest double.
constexpr double pow10_neg[64] = {
    1e0,   1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,  1e-8,  1e-9,  1e-10, 1e-11, 1e-12,
    1e-13, 1e-14, 1e-15, 1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21, 1e-22, 1e-23, 1e-24, 1e-25,
    1e-26, 1e-27, 1e-28, 1e-29, 1e-30, 1e-31, 1e-32, 1e-33, 1e-34, 1e-35, 1e-36, 1e-37, 1e-38,
    1e-39, 1e-40, 1e-41, 1e-42, 1e-43, 1e-44, 1e-45, 1e-46, 1e-47, 1e-48, 1e-49, 1e-50, 1e-51,
    1e-52, 1e-53, 1e-54, 1e-55, 1e-56, 1e-57, 1e-58, 1e-59, 1e-60, 1e-61, 1e-62, 1e-63};

// Writes n as exactly `count` decimal digits (leading zeros kept).
void put_digits(char* out, std::uint64_t n, int count) {
    for (int i = count - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + n % 10);
        n /= 10;
    }
}

// 10^k for k = -63..63 at [k + 63], each the nearest double.
constexpr auto pow10_signed = [] {
    std::array<double, 127> p{};
    for (int k = 0; k < 64; ++k) {
        p[static_cast<std::size_t>(63 + k)] = pow10[k];
        p[static_cast<std::size_t>(63 - k)] = pow10_neg[k];
    }
    return p;
}();

// The two digits of each number 0..99.
constexpr auto digit_pairs = [] {
    std::array<char, 200> p{};
    for (int i = 0; i < 100; ++i) {
        p[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        p[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return p;
}();

void put_pair(char* out, unsigned n) { std::memcpy(out, &digit_pairs[2 * n], 2); }

// |v| = 0.d1d2...dn x 10^e10 rounded to n significant digits (1 <= n <= 9), v a nonzero finite
// float given as double: the digits as a whole number (10^(n-1) <= digits < 10^n) and the
// exponent e10 (as in the E field). False when the rounding is in doubt.
//
// The decimal exponent X of a = d.ddd x 10^X is estimated from the binary exponent as X or
// X - 1; which of the two it is, is as random as the data, so the product for the decade above
// is taken by an index rather than a branch. Inlined with n = 4 for the E12.4 fields, the most
// frequent in the result files.
inline bool scientific_digits(double a, int n, std::uint64_t& digits, int& e10) {
    const int binary_exponent =
        static_cast<int>((std::bit_cast<std::uint64_t>(a) >> 52) & 0x7ffu) - 1023;
    const int x0 = (binary_exponent * 78913) >> 18; // floor(e log10 2), exact for |e| < 2600
    const int k = n - 1 - x0;                       // a * 10^k in [10^(n-1), 10^(n+1))
    if (k - 1 < -63 || k > 63) {
        return false;
    }
    const double s0 = a * pow10_signed[static_cast<std::size_t>(63 + k)];
    const int up = s0 >= pow10[n] ? 1 : 0;
    const double s = a * pow10_signed[static_cast<std::size_t>(63 + k - up)];
    if (!(s >= pow10[n - 1] && s < pow10[n])) {
        return false;
    }
    // s is within 3 units of its last place of the exact a * 10^k, below 10^n: a margin of
    // 10^n * 2^-50 covers that.
    const auto whole = static_cast<std::int64_t>(s);
    const double frac = s - static_cast<double>(whole); // exact
    if (std::fabs(frac - 0.5) <= pow10[n] * 0x1p-50) {
        return false;
    }
    digits = static_cast<std::uint64_t>(whole) + (frac > 0.5 ? 1u : 0u);
    int x = x0 + up;
    if (digits == pow10_int[n]) {
        digits = pow10_int[n - 1]; // 0.99996 -> 0.1000E+01
        ++x;
    }
    e10 = x + 1;
    return true;
}

// a >= 0 with d digits after the point (1 <= d <= 9), as a whole number of units of 10^-d:
// a * 10^d is exact in double for a float a (24 + 21 bits), so its rounding to an integer (to
// nearest, ties to even, as std::to_chars rounds) is exact. False when a * 10^d is too large.
bool fixed_digits(double a, int d, std::uint64_t& n) {
    const double s = a * pow10[d];
    if (!(s < 0x1p53)) {
        return false;
    }
    n = static_cast<std::uint64_t>(s);              // s >= 0: truncation is the floor
    const double frac = s - static_cast<double>(n); // exact
    if (frac > 0.5 || (frac == 0.5 && (n & 1u) != 0)) {
        ++n;
    }
    return true;
}

// Decimal digits of n (1 for 0).
int digit_count(std::uint64_t n) {
    int c = 1;
    while (n >= 10) {
        n /= 10;
        ++c;
    }
    return c;
}

// Writes the d digits of n < 10^d (leading zeros kept); pairs at a time for the digit counts of
// the files' fields.
[[gnu::always_inline]] inline void put_fraction(char* out, std::uint64_t n, int d) {
    const auto u = static_cast<unsigned>(n);
    switch (d) {
    case 3:
        put_pair(out, u / 10);
        out[2] = static_cast<char>('0' + u % 10);
        break;
    case 4:
        put_pair(out, u / 100);
        put_pair(out + 2, u % 100);
        break;
    case 5:
        put_pair(out, u / 1000);
        put_pair(out + 2, u / 10 % 100);
        out[4] = static_cast<char>('0' + u % 10);
        break;
    default:
        put_digits(out, n, d);
        break;
    }
}

// `count` copies of c at out: the few of a field's padding without a call.
inline void put_repeated(char* out, char c, std::size_t count) {
    if (count > 16) {
        std::memset(out, c, count);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = c;
    }
}

// The digits of an F or E field in double arithmetic, as the layouts below take them: for F the
// value in whole units of 10^-d, for E the d significant digits and the exponent. Not `certain`
// for the values the general path takes (not finite, d outside 1..9, a rounding in doubt).
// Left uninitialized until digits_of sets every member.
struct field_digits {
    std::uint64_t n;
    int e10;
    bool certain;
};

// Written into `r` in place (a whole struct built apart and copied in stalled on its load).
inline void digits_of(field_digits& r, float v, bool exponent, int w, int d) {
    r.n = 0;
    r.e10 = 0;
    r.certain = false;
    if (!std::isfinite(v) || d < 1 || d > 9 || w < 1) {
        return;
    }
    const double a = std::fabs(static_cast<double>(v));
    if (!exponent) {
        r.certain = fixed_digits(a, d, r.n);
    } else if (v == 0.0f) {
        r.certain = true; // 0.0000E+00, either sign
    } else {
        // d = 4 written out, for the powers of the E12.4 fields to be folded in.
        r.certain =
            d == 4 ? scientific_digits(a, 4, r.n, r.e10) : scientific_digits(a, d, r.n, r.e10);
    }
}

// The w characters of a field whose text of `total` characters is right-justified: blanks, or
// asterisks when the text does not fit. Where the text goes, or null when it does not fit.
char* field_room(char* p, std::size_t total, int w) {
    const auto width = static_cast<std::size_t>(w);
    put_repeated(p, total > width ? '*' : ' ', width);
    return total > width ? nullptr : p + (width - total);
}

// Fw.d of a value of n units of 10^-d (its sign bit `sign`), written at p.
void lay_out_fixed(char* p, std::uint64_t n, bool sign, int w, int d) {
    // The whole units and the fraction, by the constant divisors of the files' fields.
    std::uint64_t ip = 0;
    std::uint64_t fp = 0;
    switch (d) {
    case 3:
        ip = n / 1000;
        fp = n % 1000;
        break;
    case 4:
        ip = n / 10000;
        fp = n % 10000;
        break;
    case 5:
        ip = n / 100000;
        fp = n % 100000;
        break;
    default:
        ip = n / pow10_int[d];
        fp = n % pow10_int[d];
        break;
    }
    // -0.00001 in F8.4 is "  0.0000": no sign on a value that rounds to zero.
    const bool neg = sign && n != 0;
    const auto ud = static_cast<std::size_t>(d);
    const auto int_len = static_cast<std::size_t>(digit_count(ip));
    // 0.5 in F5.4 is ".5000": the integer zero gives way when it alone does not fit.
    const bool lead =
        !(ip == 0 && int_len + 1 + ud + (neg ? 1 : 0) == static_cast<std::size_t>(w) + 1);
    const std::size_t total = (lead ? int_len : 0) + 1 + ud + (neg ? 1 : 0);
    p = field_room(p, total, w);
    if (p != nullptr) {
        if (neg) {
            *p++ = '-';
        }
        if (lead) {
            if (int_len == 2) {
                put_pair(p, static_cast<unsigned>(ip));
            } else {
                put_digits(p, ip, static_cast<int>(int_len));
            }
            p += int_len;
        }
        *p++ = '.';
        put_fraction(p, fp, d);
    }
}

// Ew.d of a value of the given digits and exponent, written at p.
void lay_out_exponent(char* p, std::uint64_t digits, int e10, bool neg, int w, int d) {
    const auto ud = static_cast<std::size_t>(d);
    const auto width = static_cast<std::size_t>(w);
    if (width >= ud + 7) {
        // The usual width, where every value fits in one layout: blanks, the sign or a blank,
        // "0.", the digits, "E", the sign and digits of the exponent. Written without a branch
        // on the sign, which is as random as the data (one layout for every width, the sign's
        // place settled by a test of the width, made the E12.4 field about 2 ns slower).
        put_repeated(p, ' ', width - ud - 7);
        p += width - ud - 7;
        p[0] = neg ? '-' : ' ';
        p[1] = '0';
        p[2] = '.';
        put_fraction(p + 3, digits, d);
        p[3 + ud] = 'E';
        p[4 + ud] = e10 < 0 ? '-' : '+';
        put_pair(p + 5 + ud, static_cast<unsigned>(std::abs(e10)));
        return;
    }
    // With one position short the field starts with the point: ".1234E+01".
    const bool lead = ud + 6 + (neg ? 1 : 0) != static_cast<std::size_t>(w) + 1;
    const std::size_t total = (lead ? 1 : 0) + ud + 5 + (neg ? 1 : 0);
    p = field_room(p, total, w);
    if (p != nullptr) {
        if (neg) {
            *p++ = '-';
        }
        if (lead) {
            *p++ = '0';
        }
        *p++ = '.';
        put_fraction(p, digits, d);
        p += ud;
        *p++ = 'E';
        *p++ = e10 < 0 ? '-' : '+';
        put_pair(p, static_cast<unsigned>(std::abs(e10)));
    }
}

void lay_out(char* p, const field_digits& dg, float v, bool exponent, int w, int d) {
    if (exponent) {
        lay_out_exponent(p, dg.n, dg.e10, v < 0.0f, w, d);
    } else {
        lay_out_fixed(p, dg.n, std::signbit(v), w, d);
    }
}

std::string stars(int w) { return std::string(static_cast<std::size_t>(w), '*'); }

// Decimal digits (without point) and exponent X of |v| = d.ddd x 10^X, rounded to `digits`
// significant digits.
struct decimal {
    std::string digits;
    int exp10 = 0;
};

decimal to_decimal(double a, int digits) {
    char buf[64];
    const auto r =
        std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, digits - 1);
    const std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
    decimal out;
    const auto e = s.find('e');
    for (std::size_t i = 0; i < e; ++i) {
        if (s[i] != '.') {
            out.digits.push_back(s[i]);
        }
    }
    std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), out.exp10);
    return out;
}

std::string right_justify(const std::string& text, int w) {
    const auto width = static_cast<std::size_t>(w);
    if (text.size() >= width) {
        return text;
    }
    std::string field(width - text.size(), ' ');
    return field.append(text);
}

// Infinity and NaN in a field of width w: right-justified, "Infinity" shortened to "Inf" when
// it does not fit, asterisks when that does not fit either.
std::string non_finite_field(float v, int w) {
    const auto width = static_cast<std::size_t>(w);
    std::string text;
    if (std::isnan(v)) {
        text = "NaN";
    } else {
        text = std::signbit(v) ? "-Infinity" : "Infinity";
        if (text.size() > width) {
            text = std::signbit(v) ? "-Inf" : "Inf";
        }
    }
    return text.size() > width ? stars(w) : right_justify(text, w);
}

std::string exponent_text(int e) {
    std::string text(1, e < 0 ? '-' : '+');
    const int a = std::abs(e);
    if (a < 10) {
        text.push_back('0');
    }
    text.append(std::to_string(a));
    return text;
}

} // namespace

std::string list_int(int v) {
    std::string text(1, ' ');
    return text.append(std::to_string(v));
}

std::string list_real(float v) {
    if (std::isnan(v)) {
        return "  NaN";
    }
    if (std::isinf(v)) {
        return v < 0 ? " -Infinity" : "  Infinity";
    }
    if (v == 0.0f) {
        return "  0."; // negative zero too
    }
    const double a = std::fabs(static_cast<double>(v));
    decimal dec = to_decimal(a, 9);
    while (dec.digits.size() > 1 && dec.digits.back() == '0') {
        dec.digits.pop_back();
    }
    const std::string& dg = dec.digits;
    const int x = dec.exp10;
    std::string text;
    if (x >= -4 && x <= 8) {
        if (x >= 0) {
            // 40.9599991: the first x+1 digits before the point.
            const auto n_int = static_cast<std::size_t>(x + 1);
            if (dg.size() <= n_int) {
                text = dg + std::string(n_int - dg.size(), '0') + ".";
            } else {
                text = dg.substr(0, n_int) + "." + dg.substr(n_int);
            }
        } else {
            // 0.00999999978: zeros between the point and the first digit.
            text.assign("0.").append(static_cast<std::size_t>(-x - 1), '0').append(dg);
        }
    } else {
        // 1.E+10, 1.5E-05
        text = dg.substr(0, 1) + "." + dg.substr(1) + "E" + exponent_text(x);
    }
    std::string field(v < 0 ? " -" : "  ");
    return field.append(text);
}

std::string field_i(int v, int w) {
    const std::string text = std::to_string(v);
    return text.size() > static_cast<std::size_t>(w) ? stars(w) : right_justify(text, w);
}

namespace {

// Fw.d of the values digits_of leaves uncertain: non-finite values, and digits from std::to_chars.
std::string fixed_field_general(float v, int w, int d) {
    if (!std::isfinite(v)) {
        return non_finite_field(v, w);
    }
    char buf[400];
    const double a = std::fabs(static_cast<double>(v));
    const auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::fixed, d);
    std::string text(buf, r.ptr);
    // -0.00001 in F8.4 is "  0.0000": no sign on a value that rounds to zero.
    const bool all_zero = text.find_first_not_of("0.") == std::string::npos;
    const bool neg = std::signbit(v) && !all_zero;
    const auto width = static_cast<std::size_t>(w);
    std::size_t len = text.size() + (neg ? 1 : 0);
    if (len == width + 1 && text.size() >= 2 && text[0] == '0' && text[1] == '.') {
        // 0.5 in F5.4 is ".5000": the leading zero gives way when it alone does not fit.
        text.erase(0, 1);
        --len;
    }
    if (len > width) {
        return stars(w);
    }
    return right_justify(neg ? std::string("-").append(text) : text, w);
}

// Ew.d of the values digits_of leaves uncertain: non-finite values, 0, and digits from
// std::to_chars.
std::string exponent_field_general(float v, int w, int d) {
    if (!std::isfinite(v)) {
        return non_finite_field(v, w);
    }
    std::string body;
    if (v == 0.0f) {
        body.assign("0.").append(static_cast<std::size_t>(d), '0').append("E+00");
    } else {
        const decimal dec = to_decimal(std::fabs(static_cast<double>(v)), d);
        body.assign("0.").append(dec.digits).append("E").append(exponent_text(dec.exp10 + 1));
    }
    const bool neg = v < 0.0f;
    const auto width = static_cast<std::size_t>(w);
    std::size_t len = body.size() + (neg ? 1 : 0);
    if (len == width + 1) {
        // With one position short the field starts with the point: ".1234E+01".
        body.erase(0, 1);
        --len;
    }
    if (len > width) {
        return stars(w);
    }
    return right_justify(neg ? std::string("-").append(body) : body, w);
}

} // namespace

namespace {

// Fw.d or Ew.d of the values digits_of leaves uncertain.
std::string general_field(float v, bool exponent, int w, int d) {
    return exponent ? exponent_field_general(v, w, d) : fixed_field_general(v, w, d);
}

// The field of v appended to out: laid out in place where the digits are certain, else the
// general path's text.
void append_field(std::string& out, float v, bool exponent, int w, int d) {
    field_digits dg;
    digits_of(dg, v, exponent, w, d);
    if (!dg.certain) {
        out += general_field(v, exponent, w, d);
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(w));
    lay_out(out.data() + at, dg, v, exponent, w, d);
}

} // namespace

void append_field_f(std::string& out, float v, int w, int d) { append_field(out, v, false, w, d); }

void append_field_e(std::string& out, float v, int w, int d) { append_field(out, v, true, w, d); }

void put_real_fields(std::span<char* const> at, std::span<const float> v,
                     std::span<const real_field> fields) {
    // The digits of a few fields first, then their layouts: the digits of one field are a chain
    // of dependent multiplications and conversions, and those of the next can go on meanwhile.
    constexpr std::size_t batch = 8;
    std::array<field_digits, batch> dg; // not cleared first: a cost of its own per line
    std::array<const real_field*, batch> fd;
    std::size_t j = 0; // the field of v[i] in its line
    for (std::size_t b = 0; b < v.size(); b += batch) {
        const std::size_t e = std::min(v.size(), b + batch);
        for (std::size_t i = b; i < e; ++i) {
            const real_field& f = fields[j];
            j = j + 1 == fields.size() ? 0 : j + 1;
            fd[i - b] = &f;
            digits_of(dg[i - b], v[i], f.exponent, f.w, f.d);
        }
        for (std::size_t i = b; i < e; ++i) {
            const real_field& f = *fd[i - b];
            if (dg[i - b].certain) {
                lay_out(at[i], dg[i - b], v[i], f.exponent, f.w, f.d);
            } else {
                const std::string text = general_field(v[i], f.exponent, f.w, f.d);
                std::memcpy(at[i], text.data(), text.size()); // w characters
            }
        }
    }
}

std::string field_f(float v, int w, int d) {
    std::string out;
    append_field_f(out, v, w, d);
    return out;
}

std::string field_e(float v, int w, int d) {
    std::string out;
    append_field_e(out, v, w, d);
    return out;
}

std::string shortest(float v) {
    std::string out;
    append_shortest(out, v);
    return out;
}

std::string shortest(double v) {
    std::string out;
    append_shortest(out, v);
    return out;
}

} // namespace sitewave::textio
