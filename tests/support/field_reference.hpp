// The E and F fields of the result files written from std::to_chars with an explicit precision:
// the digits exactly as std::to_chars gives them, laid out by the field rules. The reference of
// the formatter tests and of the exhaustive check.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace field_reference {

inline std::string stars(int w) { return std::string(static_cast<std::size_t>(w), '*'); }

inline std::string right(const std::string& text, int w) {
    const auto width = static_cast<std::size_t>(w);
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

inline std::string non_finite(float v, int w) {
    std::string text = std::isnan(v) ? "NaN" : (std::signbit(v) ? "-Infinity" : "Infinity");
    if (!std::isnan(v) && text.size() > static_cast<std::size_t>(w)) {
        text = std::signbit(v) ? "-Inf" : "Inf";
    }
    return text.size() > static_cast<std::size_t>(w) ? stars(w) : right(text, w);
}

// Ew.d: "0." then d digits of |v| rounded to d significant digits, "E", the exponent plus one
// with its sign and at least two digits.
inline std::string reference_e(float v, int w, int d) {
    if (!std::isfinite(v)) {
        return non_finite(v, w);
    }
    std::string body = "0." + std::string(static_cast<std::size_t>(d), '0') + "E+00";
    if (v != 0.0f) {
        char buf[64];
        const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(static_cast<double>(v)),
                                     std::chars_format::scientific, d - 1);
        const std::string s(buf, r.ptr);
        const auto e = s.find('e');
        std::string digits;
        for (std::size_t i = 0; i < e; ++i) {
            if (s[i] != '.') {
                digits += s[i];
            }
        }
        const int x = std::stoi(s.substr(e + 1)) + 1;
        std::string ex = std::to_string(std::abs(x));
        if (ex.size() < 2) {
            ex = "0" + ex;
        }
        body = "0." + digits + "E" + (x < 0 ? "-" : "+") + ex;
    }
    const bool neg = v < 0.0f;
    if (body.size() + (neg ? 1 : 0) == static_cast<std::size_t>(w) + 1) {
        body.erase(0, 1);
    }
    if (body.size() + (neg ? 1 : 0) > static_cast<std::size_t>(w)) {
        return stars(w);
    }
    return right((neg ? "-" : "") + body, w);
}

// Fw.d: std::to_chars fixed with d digits; a minus only when a digit is not zero; the leading
// zero of "0." dropped when it alone does not fit.
inline std::string reference_f(float v, int w, int d) {
    if (!std::isfinite(v)) {
        return non_finite(v, w);
    }
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(static_cast<double>(v)),
                                 std::chars_format::fixed, d);
    std::string text(buf, r.ptr);
    const bool neg = std::signbit(v) && text.find_first_not_of("0.") != std::string::npos;
    if (text.size() + (neg ? 1 : 0) == static_cast<std::size_t>(w) + 1 &&
        text.rfind("0.", 0) == 0) {
        text.erase(0, 1);
    }
    if (text.size() + (neg ? 1 : 0) > static_cast<std::size_t>(w)) {
        return stars(w);
    }
    return right((neg ? "-" : "") + text, w);
}

} // namespace field_reference
