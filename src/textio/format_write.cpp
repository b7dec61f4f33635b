#include "textio/format_write.hpp"

#include "textio/fatal.hpp"
#include "textio/fields.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cctype>
#include <cstring>
#include <new>

namespace sitewave::textio {

namespace {

class format_parser {
  public:
    explicit format_parser(std::string_view s) : s_(s) {}

    std::vector<format::descriptor> parse() {
        skip();
        expect('(');
        auto list = group();
        expect(')');
        return list;
    }

  private:
    void skip() {
        while (i_ < s_.size() && s_[i_] == ' ') {
            ++i_;
        }
    }
    void expect(char c) {
        skip();
        assert(i_ < s_.size() && s_[i_] == c);
        (void)c;
        ++i_;
    }
    int number() {
        int n = 0;
        while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_])) != 0) {
            n = n * 10 + (s_[i_++] - '0');
        }
        return n;
    }
    bool at_digit() const {
        return i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_])) != 0;
    }

    // Items up to (not including) the closing parenthesis of the current group.
    std::vector<format::descriptor> group() {
        std::vector<format::descriptor> out;
        for (;;) {
            skip();
            if (i_ >= s_.size() || s_[i_] == ')') {
                return out;
            }
            if (s_[i_] == ',') {
                ++i_;
                continue;
            }
            item(out);
        }
    }

    void item(std::vector<format::descriptor>& out) {
        const bool counted = at_digit();
        const int n = counted ? number() : 1;
        skip();
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(s_[i_])));
        if (c == '(') {
            ++i_;
            const auto inner = group();
            expect(')');
            for (int r = 0; r < n; ++r) {
                out.insert(out.end(), inner.begin(), inner.end());
            }
        } else if (c == 'X') {
            ++i_;
            out.push_back({format::kind::blanks, n, 0, {}});
        } else if (c == '/') {
            ++i_;
            for (int r = 0; r < n; ++r) {
                out.push_back({format::kind::slash, 0, 0, {}});
            }
        } else if (c == '\'') {
            ++i_;
            std::string text;
            for (;;) {
                assert(i_ < s_.size());
                if (s_[i_] == '\'') {
                    if (i_ + 1 < s_.size() && s_[i_ + 1] == '\'') {
                        text.push_back('\'');
                        i_ += 2;
                        continue;
                    }
                    ++i_;
                    break;
                }
                text.push_back(s_[i_++]);
            }
            out.push_back({format::kind::literal, 0, 0, text});
        } else {
            assert(c == 'I' || c == 'F' || c == 'E');
            ++i_;
            format::descriptor dsc{c == 'I'   ? format::kind::i
                                   : c == 'F' ? format::kind::f
                                              : format::kind::e,
                                   number(),
                                   0,
                                   {}};
            if (i_ < s_.size() && s_[i_] == '.') {
                ++i_;
                dsc.d = number();
            }
            for (int r = 0; r < n; ++r) {
                out.push_back(dsc);
            }
        }
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

} // namespace

namespace {

// The line layouts of a format, found by following it as fmt_write does: literals and the
// blanks of nX descriptors before them are written, blanks before a value too, and blanks
// followed by nothing else before the next value or the end are dropped.
format::line_layout line_of(const std::vector<format::descriptor>& list) {
    format::line_layout line;
    std::string text; // what comes before the next value
    std::size_t blanks = 0;
    std::size_t width = 0;
    bool open = false; // a value was laid out whose record end is being followed
    std::size_t i = 0;
    for (;; ++i) {
        const bool end = i == list.size();
        const auto k = end ? format::kind::slash : list[i].k;
        if (k == format::kind::literal) {
            text.append(blanks, ' ').append(list[i].text);
            blanks = 0;
            continue;
        }
        if (k == format::kind::blanks) {
            blanks += static_cast<std::size_t>(list[i].w);
            continue;
        }
        if (open) {
            // The record ends here when the last value came before: the literals up to here.
            // A slash ends it here as well, but starts another: no layout then.
            if (k == format::kind::slash && !end) {
                line.fields.pop_back();
                line.before.pop_back();
                return line;
            }
            line.after.push_back(text);
            line.width.push_back(width + text.size());
            open = false;
        }
        if (end || k == format::kind::slash || k == format::kind::i) {
            return line;
        }
        text.append(blanks, ' ');
        blanks = 0;
        line.fields.push_back({k == format::kind::e, list[i].w, list[i].d});
        width += text.size() + static_cast<std::size_t>(list[i].w);
        line.before.push_back(std::move(text));
        text.clear();
        open = true;
    }
}

} // namespace

format::format(std::string_view text)
    : text_(text), list_(format_parser(text).parse()), serial_(next_serial()),
      line_(line_of(list_)) {}

fmt_write::fmt_write(output_unit& out, const format& f) : out_(out), f_(f) {
    out_.state().record(true, f.text(), out_.unit(), out_.name(), f.serial(), out_.serial());
}

fmt_write::~fmt_write() {
    run_to_data();
    out_.end_record();
}

void fmt_write::put_pending_blanks() {
    out_.record().append(pending_blanks_, ' ');
    pending_blanks_ = 0;
}

void fmt_write::put(const std::string& text) {
    put_blanks();
    out_.record().append(text);
}

// Acts on the descriptors before the next data descriptor; false at the end of the format.
bool fmt_write::run_to_data() {
    const auto& list = f_.descriptors();
    for (; pos_ < list.size(); ++pos_) {
        const auto& dsc = list[pos_];
        switch (dsc.k) {
        case format::kind::literal:
            if (dsc.text.size() == 1 && pending_blanks_ == 0) {
                out_.record().push_back(dsc.text[0]); // the comma between the fields of a line
            } else {
                put(dsc.text);
            }
            break;
        case format::kind::blanks:
            pending_blanks_ += static_cast<std::size_t>(dsc.w);
            break;
        case format::kind::slash:
            pending_blanks_ = 0;
            out_.end_record();
            break;
        default:
            return true;
        }
    }
    return false;
}

const format::descriptor& fmt_write::next_data() {
    if (!run_to_data()) {
        // More values than data descriptors: a new record, the format from its start.
        pending_blanks_ = 0;
        out_.end_record();
        pos_ = 0;
        [[maybe_unused]] const bool found = run_to_data();
        assert(found);
    }
    return f_.descriptors()[pos_++];
}

fmt_write& fmt_write::operator<<(int v) {
    const auto& dsc = next_data();
    put(dsc.k == format::kind::i ? field_i(v, dsc.w)
                                 : field_f(static_cast<float>(v), dsc.w, dsc.d));
    return *this;
}

fmt_write& fmt_write::operator<<(float v) {
    const auto& dsc = next_data();
    switch (dsc.k) {
    case format::kind::f:
        put_blanks();
        append_field_f(out_.record(), v, dsc.w, dsc.d);
        break;
    case format::kind::e:
        put_blanks();
        append_field_e(out_.record(), v, dsc.w, dsc.d);
        break;
    default:
        put(field_i(static_cast<int>(v), dsc.w));
        break;
    }
    return *this;
}

void write_reals(output_unit& out, const format& f, std::span<const float> v,
                 std::size_t per_line) {
    const format::line_layout& line = f.line();
    const std::size_t n = per_line;
    assert(n != 0 && v.size() % n == 0);
    // The places of the fields laid out together.
    constexpr std::size_t most = 512;
    if (n > line.after.size() || n > most || !out.writes_records_whole()) {
        for (std::size_t at = 0; at < v.size(); at += n) {
            fmt_write w(out, f);
            for (const float x : v.subspan(at, n)) {
                w << x;
            }
        }
        return;
    }
    const std::size_t width = line.width[n - 1] + 1; // and the line end
    // A few lines at a time, so that the digits of many fields are worked out together.
    std::array<char*, most> place;
    const std::size_t lines_at_once = most / n;
    for (std::size_t first = 0; first < v.size(); first += lines_at_once * n) {
        const std::size_t count = std::min(v.size() - first, lines_at_once * n);
        char* p = out.records_room(count / n * width);
        // The literals are mostly a comma: copied a character at a time, without a call.
        const auto put = [&p](const std::string& text) {
            for (const char c : text) {
                *p++ = c;
            }
        };
        for (std::size_t k = 0; k < count;) {
            out.state().record(true, f.text(), out.unit(), out.name(), f.serial(), out.serial());
            for (std::size_t j = 0; j < n; ++j, ++k) {
                put(line.before[j]);
                place[k] = p;
                p += static_cast<std::size_t>(line.fields[j].w);
            }
            put(line.after[n - 1]);
            *p++ = '\n';
        }
        put_real_fields(std::span(place.data(), count), v.subspan(first, count),
                        std::span(line.fields.data(), n));
        out.records_written();
    }
}

std::string read_name(input_unit& in) {
    in.state().record(false, "(A20)", in.unit(), in.name());
    std::string line;
    bool got = false;
    try {
        got = in.next_record(line);
    } catch (const std::bad_alloc&) {
        line = std::string();
        fatal(std::string("fmt: ").append(msg_no_space), in.unit(), in.name(), in.state());
    }
    if (!got) {
        fatal(std::string("fmt: ").append(msg_eof), in.unit(), in.name(), in.state());
    }
    in.state().clear_format();
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    return line;
}

} // namespace sitewave::textio
