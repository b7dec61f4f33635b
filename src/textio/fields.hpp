// The text of single values, in the free-format and the formatted style. Digits are those of
// std::to_chars (correctly rounded, ties to even on the exact binary value, no locale): the E and
// F fields compute them in double arithmetic where the rounding is certain and fall back to
// std::to_chars where it could be in doubt; the functions here lay them out.
#pragma once

#include <charconv>
#include <span>
#include <string>

namespace sitewave::textio {

// Free-format integer: a blank, then the digits. 300 -> " 300", -7 -> " -7".
std::string list_int(int v);

// Free-format real: a blank, a minus sign or a blank, then 9 significant digits in the general
// style with trailing zeros of the fraction removed and a decimal point always present.
//   2.0 -> "  2."    -1.5 -> " -1.5"    0.1f -> "  0.100000001"    0.0 -> "  0."
//   1.0E10 -> "  1.E+10"    infinity -> "  Infinity", " -Infinity"    NaN -> "  NaN"
std::string list_real(float v);

// The shortest decimal text that reads back to the same value (std::to_chars): 0.1f -> "0.1",
// 1e-45f -> "1e-45". For messages and the batch tool's tidy files.
std::string shortest(float v);
std::string shortest(double v);
// The same text appended to `out` (T float or double); inline, for the batch tool's lines of
// numbers.
template <class T> void append_shortest(std::string& out, T v) {
    char buf[32];
    out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// Iw: right-justified, w asterisks when too wide. 3 in I5 -> "    3"; 123456 in I5 -> "*****".
std::string field_i(int v, int w);

// Fw.d: d digits after the point; minus only when the rounded text is not all zeros.
//   12.5 in F8.4 -> " 12.5000"    0.5 in F5.4 -> ".5000"    1234.5678 in F8.4 -> "********"
std::string field_f(float v, int w, int d);

// Ew.d: 0.ddddE+xx with the first digit after the point not zero.
//   1.234 in E12.4 -> "  0.1234E+01"    0.0 -> "  0.0000E+00"    0.99996 -> "  0.1000E+01"
std::string field_e(float v, int w, int d);

// The same fields appended to `out`.
void append_field_f(std::string& out, float v, int w, int d);
void append_field_e(std::string& out, float v, int w, int d);

// The real fields of lines, each exactly w characters, written in place: the field of v[i] at
// at[i], as fields[i % fields.size()] says (Fw.d, or Ew.d when `exponent`).
struct real_field {
    bool exponent = false;
    int w = 0;
    int d = 0;
};
void put_real_fields(std::span<char* const> at, std::span<const float> v,
                     std::span<const real_field> fields);

} // namespace sitewave::textio
