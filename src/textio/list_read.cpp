#include "textio/list_read.hpp"

#include "textio/fatal.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <climits>
#include <cstdint>
#include <new>
#include <optional>

namespace sitewave::textio {

namespace {

constexpr int end_of_input = -1;
constexpr long max_exponent = 99999999;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_sign(char c) { return c == '+' || c == '-'; }
bool is_separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '/'; }

// The run of digits starting at text[i], appended to the whole number m (modulo 2^64); returns
// where the run ends.
std::size_t take_digits(std::string_view text, std::size_t i, std::uint64_t& m) {
    while (i < text.size() && is_digit(text[i])) {
        m = m * 10 + static_cast<std::uint64_t>(text[i] - '0');
        ++i;
    }
    return i;
}

// A real value's text taken apart: sign, integer and fraction digits, the power of ten written
// after them, and where the number ends.
struct real_text {
    bool neg = false;
    std::string_view int_digits;
    std::string_view frac_digits;
    // The integer and fraction digits as one whole number (modulo 2^64: exact up to 19 digits).
    std::uint64_t digits = 0;
    long exponent = 0;
    std::size_t end = 0; // the characters the number takes
};

enum class real_syntax {
    number,    // a number, up to t.end
    no_digits, // no digit before t.end: a sign or a point at most
    exponent,  // an exponent without digits, or beyond max_exponent
};

// Reads the real number at the start of `text`, as far as it goes: [sign] digits [. digits]
// [exponent], with at least one digit before the exponent. The exponent is a letter E, e, D or
// d with an optional sign, or a sign alone ("1.5+3"), followed by digits. No separator can be
// part of a number, so a value's field is a number when the number read from the field, or from
// the field and what follows it on the record, ends where the field ends.
real_syntax scan_real(std::string_view text, real_text& t) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    t.neg = n > 0 && text[0] == '-';
    if (n > 0 && is_sign(text[0])) {
        ++i;
    }
    std::uint64_t m = 0;
    std::size_t s = i;
    i = take_digits(text, i, m);
    t.int_digits = text.substr(s, i - s);
    t.frac_digits = {};
    if (i < n && text[i] == '.') {
        s = ++i;
        i = take_digits(text, i, m);
        t.frac_digits = text.substr(s, i - s);
    }
    t.digits = m;
    t.exponent = 0;
    t.end = i;
    if (t.int_digits.empty() && t.frac_digits.empty()) {
        return real_syntax::no_digits;
    }
    if (i < n && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd' ||
                  is_sign(text[i]))) {
        if (!is_sign(text[i])) {
            ++i;
        }
        bool exp_neg = false;
        if (i < n && is_sign(text[i])) {
            exp_neg = text[i] == '-';
            ++i;
        }
        if (i >= n || !is_digit(text[i])) {
            return real_syntax::exponent;
        }
        for (; i < n && is_digit(text[i]); ++i) {
            t.exponent = t.exponent * 10 + (text[i] - '0');
            if (t.exponent > max_exponent) {
                return real_syntax::exponent;
            }
        }
        if (exp_neg) {
            t.exponent = -t.exponent;
        }
        t.end = i;
    }
    return real_syntax::number;
}

// The zeros in front of the first significant digit.
std::size_t leading_zeros(const real_text& t) {
    const std::size_t in_int = t.int_digits.find_first_not_of('0');
    if (in_int != std::string_view::npos) {
        return in_int;
    }
    const std::size_t in_frac = t.frac_digits.find_first_not_of('0');
    return t.int_digits.size() +
           (in_frac != std::string_view::npos ? in_frac : t.frac_digits.size());
}

struct quick_value {
    float value;
    double wide;
};

// The number digits x 10^e10 with its sign, rounded once to double and to float, for the common
// short number: at most 15 significant digits (`digits` below 10^15) and a power of ten up to 22.
// Its digits and 10^|e10| are exact doubles, so one multiplication or division gives the number
// rounded once to double. Rounding that double to float gives the number rounded once to float,
// unless the double lies exactly halfway between two floats (the decimal number may then be on
// either side of it) or outside the normal floats; those, and every other number, go the long
// way (nullopt).
std::optional<quick_value> short_decimal(std::uint64_t digits, long e10, bool neg) {
    static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (e10 < -22 || e10 > 22) {
        return std::nullopt;
    }
    // The sign goes on as a bit (of a positive number or zero): negative and positive values
    // come mixed in a record, and a branch on the sign would be guessed wrong half of the time.
    const std::uint64_t sign = static_cast<std::uint64_t>(neg) << 63;
    const auto with_sign = [sign](double d) {
        return quick_value{
            std::bit_cast<float>(std::bit_cast<std::uint32_t>(static_cast<float>(d)) |
                                 static_cast<std::uint32_t>(sign >> 32)),
            std::bit_cast<double>(std::bit_cast<std::uint64_t>(d) | sign)};
    };
    if (digits == 0) {
        return with_sign(0.0);
    }
    const auto whole = static_cast<double>(static_cast<std::int64_t>(digits));
    const double p = powers[e10 < 0 ? -e10 : e10];
    const double d = e10 < 0 ? whole / p : whole * p;
    if (!(d >= 0x1p-126 && d < 0x1p127)) {
        return std::nullopt;
    }
    if ((std::bit_cast<std::uint64_t>(d) & 0x1FFFFFFFu) == 0x10000000u) {
        return std::nullopt;
    }
    return with_sign(d);
}

// A scanned number as short_decimal takes it, when it has at most 15 significant digits.
std::optional<quick_value> quick_real(const real_text& t) {
    const std::size_t total = t.int_digits.size() + t.frac_digits.size();
    if (total > 15 && total - leading_zeros(t) > 15) {
        return std::nullopt;
    }
    return short_decimal(t.digits, t.exponent - static_cast<long>(t.frac_digits.size()), t.neg);
}

// The field of a record line at `pos` when it is the most common kind: [-]digits[.digits] with
// at most 15 digits in all, no exponent, then a separator or the end of the line. Its value is
// the one scan_real and quick_real give it; nullopt for any other field. `pos` moves past it.
std::optional<quick_value> plain_field(std::string_view record, std::size_t& pos) {
    const std::size_t n = record.size();
    const bool neg = pos < n && record[pos] == '-';
    const std::size_t first = pos + (neg ? 1 : 0);
    std::uint64_t m = 0;
    std::size_t i = take_digits(record, first, m);
    std::size_t count = i - first;
    std::size_t frac = 0;
    if (i < n && record[i] == '.') {
        const std::size_t point = i + 1;
        i = take_digits(record, point, m);
        frac = i - point;
        count += frac;
    }
    if (count == 0 || count > 15 || (i < n && !is_separator(record[i]))) {
        return std::nullopt;
    }
    const auto value = short_decimal(m, -static_cast<long>(frac), neg);
    if (value) {
        pos = i;
    }
    return value;
}

} // namespace

list_read::list_read(input_unit& in, bool eof_branch) : in_(in), eof_branch_(eof_branch) {
    in_.state().record(false, "list io", in_.unit(), in_.name(), 0, in_.serial());
}

void list_read::error(std::string_view word, std::string_view message) const {
    ended_ = true; // the statement is over: its end skips nothing more
    std::string line(word);
    line.append(": ").append(message);
    fatal(line, in_.unit(), in_.name(), in_.state());
}

bool list_read::fetch() {
    if (!in_.next_record(line_)) {
        have_line_ = false;
        return false;
    }
    have_line_ = true;
    started_ = true;
    pos_ = 0;
    return true;
}

// The next character that is not a blank or tab, passing over line ends; end_of_input when the
// input has no more records.
int list_read::peek() {
    for (;;) {
        if (!have_line_ && !fetch()) {
            return end_of_input;
        }
        while (pos_ < line_.size() && (line_[pos_] == ' ' || line_[pos_] == '\t')) {
            ++pos_;
        }
        if (pos_ < line_.size()) {
            return static_cast<unsigned char>(line_[pos_]);
        }
        have_line_ = false; // a line end counts as a blank
    }
}

bool list_read::next_value() {
    from_repeat_ = false;
    if (stopped_ || eof_ || ended_) {
        return false;
    }
    if (repeat_left_ > 0) {
        --repeat_left_;
        from_repeat_ = true;
        return !repeat_null_;
    }
    for (;;) {
        const int c = peek();
        if (c == end_of_input) {
            eof_ = true;
            if (!eof_branch_) {
                error("list in", msg_eof);
            }
            return false;
        }
        last_line_ = in_.records();
        if (c == ',') {
            ++pos_;
            if (after_value_) { // the comma only separates
                after_value_ = false;
                continue;
            }
            return false; // null value
        }
        if (c == '/') {
            ++pos_;
            stopped_ = true;
            return false;
        }
        break;
    }
    after_value_ = true;

    // A repeat count: unsigned digits right before a '*'.
    std::size_t p = pos_;
    const bool signed_count = is_sign(line_[p]);
    if (signed_count) {
        ++p;
    }
    std::size_t q = p;
    while (q < line_.size() && is_digit(line_[q])) {
        ++q;
    }
    if (q >= line_.size() || line_[q] != '*') {
        return true;
    }
    long count = 0;
    for (std::size_t k = p; k < q; ++k) {
        count = count * 10 + (line_[k] - '0');
        if (count > INT_MAX) {
            error("bad repetition count", msg_list_input);
        }
    }
    if (signed_count || count == 0) {
        error("bad repetition count", msg_list_input);
    }
    pos_ = q + 1;
    repeat_left_ = count - 1;
    repeat_null_ = pos_ >= line_.size() || is_separator(line_[pos_]);
    return !repeat_null_;
}

std::string_view list_read::take_field() {
    const std::size_t start = pos_;
    while (pos_ < line_.size() && !is_separator(line_[pos_])) {
        ++pos_;
    }
    return std::string_view(line_).substr(start, pos_ - start);
}

bool list_read::ended_by_comma_or_slash() const {
    return pos_ < line_.size() && (line_[pos_] == ',' || line_[pos_] == '/');
}

// A string between apostrophes or quotation marks; a doubled mark stands for one. It may go on
// over line ends, which add no character; an unclosed string runs into the end of the input.
std::string list_read::take_quoted() {
    const char mark = line_[pos_++];
    std::string out;
    for (;;) {
        if (!have_line_ && !fetch()) {
            return out;
        }
        if (pos_ >= line_.size()) {
            have_line_ = false;
            continue;
        }
        const char c = line_[pos_++];
        if (c == mark) {
            if (pos_ < line_.size() && line_[pos_] == mark) {
                out.push_back(mark);
                ++pos_;
                continue;
            }
            return out;
        }
        out.push_back(c);
    }
}

int list_read::to_int(std::string_view field, bool comma_end) const {
    std::size_t i = 0;
    const bool neg = !field.empty() && field[0] == '-';
    if (!field.empty() && is_sign(field[0])) {
        ++i;
    }
    if (field.find_first_of("0123456789") == std::string_view::npos) {
        // Only a sign or a point, ended by a comma or slash, reads as zero.
        const bool bare = field.size() == i || (field.size() == i + 1 && field[i] == '.');
        if (bare && comma_end) {
            return 0;
        }
        error("invalid number", msg_list_input);
    }
    long long value = 0;
    for (; i < field.size(); ++i) {
        if (!is_digit(field[i])) {
            error("invalid integer", msg_unexpected);
        }
        if (value <= 1LL + INT_MAX) {
            value = value * 10 + (field[i] - '0');
        }
    }
    if (neg) {
        value = -value;
    }
    if (value > INT_MAX || value < INT_MIN) {
        error("number out of range", msg_list_input);
    }
    return static_cast<int>(value);
}

float list_read::to_real(std::string_view field, bool comma_end, double* wide) const {
    real_text t;
    const real_syntax syntax = scan_real(field, t);
    if (syntax == real_syntax::no_digits) {
        // Only a sign or a point, ended by a comma or slash, reads as zero.
        if (t.end == field.size() && comma_end) {
            return 0.0f;
        }
        error("invalid number", msg_list_input);
    }
    if (syntax == real_syntax::exponent) {
        error("exponent field", msg_list_input);
    }
    if (t.end != field.size()) {
        error("invalid number", msg_list_input);
    }
    if (const auto quick = quick_real(t)) {
        if (wide != nullptr) {
            *wide = quick->wide;
        }
        return quick->value;
    }

    // The long way: one rounding, straight from the decimal text to the nearest float. The
    // significant digits are the integer and fraction digits without leading zeros, value =
    // digits * 10^e10. Only the first max_digits of them are passed on, with a sticky 1 after
    // them when any later one is not zero: every value halfway between two floats has far fewer
    // significant digits, so the rounding is the same, and a number of any length needs no more
    // memory than this.
    constexpr std::size_t max_digits = 200;
    const bool neg = t.neg;
    const std::string_view int_digits = t.int_digits;
    const std::string_view frac_digits = t.frac_digits;
    const long exponent = t.exponent;
    const auto digit_at = [&](std::size_t k) {
        return k < int_digits.size() ? int_digits[k] : frac_digits[k - int_digits.size()];
    };
    const std::size_t total = int_digits.size() + frac_digits.size();
    const std::size_t lead = leading_zeros(t);
    std::string text = neg ? "-" : "";
    long e10 = exponent - static_cast<long>(frac_digits.size());
    if (lead == total) {
        text.append("0");
    } else {
        const std::size_t keep = std::min(total - lead, max_digits);
        for (std::size_t k = lead; k < lead + keep; ++k) {
            text.push_back(digit_at(k));
        }
        e10 += static_cast<long>(total - lead - keep);
        for (std::size_t k = lead + keep; k < total; ++k) {
            if (digit_at(k) != '0') {
                text.push_back('1');
                --e10;
                break;
            }
        }
    }
    text.append("e").append(std::to_string(e10));
    if (wide != nullptr) {
        // The same decimal number rounded once to double; too small reads as zero.
        *wide = 0.0;
        std::from_chars(text.data(), text.data() + text.size(), *wide);
    }
    float value = 0.0f;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (r.ec == std::errc::result_out_of_range) {
        // Too large, or too small even for a subnormal: the decimal exponent of the leading
        // digit tells which. Too small reads as zero.
        const long magnitude =
            exponent + static_cast<long>(int_digits.size()) - static_cast<long>(lead) - 1;
        if (magnitude > 0) {
            error("number out of range", msg_list_input);
        }
        return neg ? -0.0f : 0.0f;
    }
    return value;
}

template <typename T> bool list_read::read_number(T& v, double* wide) {
    if (!next_value()) {
        return !eof_;
    }
    std::string_view field;
    bool comma_end = false;
    if (from_repeat_) {
        // The record holding the value stays while its copies are taken.
        field = repeat_field_;
        comma_end = repeat_comma_end_;
    } else {
        field = take_field();
        comma_end = ended_by_comma_or_slash();
        if (repeat_left_ > 0) {
            repeat_field_ = field;
            repeat_comma_end_ = comma_end;
        }
    }
    if constexpr (std::is_same_v<T, int>) {
        v = to_int(field, comma_end);
    } else {
        v = to_real(field, comma_end, wide);
    }
    return true;
}

// Running out of memory (an endless line) is the fatal "list in: out of free space" report.
template <typename F> bool list_read::guarded(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        line_ = std::string();
        error("list in", msg_no_space);
    }
}

bool list_read::item(int& v) {
    return guarded([&] { return read_number(v); });
}
bool list_read::item(float& v) {
    return guarded([&] { return read_number(v); });
}
bool list_read::item(float& v, double& wide) {
    return guarded([&] { return read_number(v, &wide); });
}
bool list_read::item(std::string& s) {
    return guarded([&] { return read_text(s); });
}

bool list_read::read_text(std::string& s) {
    if (!next_value()) {
        return !eof_;
    }
    std::string text;
    if (from_repeat_) {
        text = repeat_text_;
    } else {
        const char c = line_[pos_];
        text = (c == '\'' || c == '"') ? take_quoted() : std::string(take_field());
        if (repeat_left_ > 0) {
            repeat_text_ = text;
        }
    }
    text.resize(s.size(), ' ');
    s = text;
    return true;
}

void list_read::end() {
    if (ended_) {
        return;
    }
    if (!started_) {
        guarded([&] { return fetch(); }); // an empty read skips one record
    }
    have_line_ = false;
    ended_ = true;
}

bool plain_reals(std::string_view record, std::span<float> v, double& first_wide) {
    const std::size_t n = record.size();
    std::size_t pos = 0;
    const auto skip_blanks = [&] {
        while (pos < n && (record[pos] == ' ' || record[pos] == '\t')) {
            ++pos;
        }
    };
    for (std::size_t k = 0; k < v.size(); ++k) {
        skip_blanks();
        // After a value the first comma only separates. Any other comma is a null value, and it,
        // a slash or the end of the record where a value should start is no number.
        if (k > 0 && pos < n && record[pos] == ',') {
            ++pos;
            skip_blanks();
        }
        // The field must be a number: a repeat count, a quote or any other character after the
        // number makes it none.
        auto quick = plain_field(record, pos);
        if (!quick) {
            real_text t;
            if (scan_real(record.substr(pos), t) != real_syntax::number) {
                return false;
            }
            pos += t.end;
            if (pos < n && !is_separator(record[pos])) {
                return false;
            }
            quick = quick_real(t);
            if (!quick) {
                return false;
            }
        }
        v[k] = quick->value;
        if (k == 0) {
            first_wide = quick->wide;
        }
    }
    return true;
}

} // namespace sitewave::textio
