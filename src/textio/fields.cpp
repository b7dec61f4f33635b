#include "textio/fields.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace sitewave::textio {

namespace {

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

std::string stars(int w) { return std::string(static_cast<std::size_t>(w), '*'); }

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

std::string field_f(float v, int w, int d) {
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

std::string field_e(float v, int w, int d) {
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

} // namespace sitewave::textio
