// Formatted output and the one formatted read of the program.
#pragma once

#include "textio/fields.hpp"
#include "textio/unit.hpp"

#include <algorithm>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sitewave::textio {

// A format text compiled once into its descriptors, repeat groups expanded:
//   (F8.4,6(',',E12.4))   (I6,F9.3,2(F9.2,F9.3,F7.3),F12.3)   (/,1X,'Enter ...')
// Descriptors: Iw, Fw.d, Ew.d, nX, '/', 'literal' (a doubled apostrophe stands for one), and
// n(...) groups. A malformed text is a programming error (formats are constants).
class format {
  public:
    enum class kind { literal, blanks, slash, i, f, e };
    struct descriptor {
        kind k;
        int w = 0;
        int d = 0;
        std::string text;
    };

    explicit format(std::string_view text);
    const std::string& text() const { return text_; }
    const std::vector<descriptor>& descriptors() const { return list_; }
    // A number of its own for each format made in the process (never 0).
    unsigned long serial() const { return serial_; }

    // A line of n reals as write_reals lays it out at once: the field of value k after the
    // text before[k], and after the last field the text that ends the record. Known for the
    // first data descriptors up to the first one that is not F or E, or that a slash precedes
    // or follows before the next one.
    struct line_layout {
        std::vector<real_field> fields;
        std::vector<std::string> before;
        std::vector<std::string> after;
        std::vector<std::size_t> width; // of the whole line when value k is the last
    };
    const line_layout& line() const { return line_; }

  private:
    std::string text_;
    std::vector<descriptor> list_;
    unsigned long serial_;
    line_layout line_;
};

// A formatted write statement: each item takes the next data descriptor (Iw, Fw.d, Ew.d); the
// literals, blanks and slashes before it are acted on first. When the object goes out of scope
// the format is followed on up to the next data descriptor or its end, so literals after the
// last value still appear (the trailing comma of "(F8.4,6(',',E12.4))" with five values), and
// the record is ended.
class fmt_write {
  public:
    fmt_write(output_unit& out, const format& f);
    ~fmt_write();
    fmt_write(const fmt_write&) = delete;
    fmt_write& operator=(const fmt_write&) = delete;

    fmt_write& operator<<(int v);
    fmt_write& operator<<(float v);

  private:
    const format::descriptor& next_data();
    bool run_to_data();
    // The blanks of nX descriptors before an item, then the item.
    void put_blanks() {
        if (pending_blanks_ != 0) {
            put_pending_blanks();
        }
    }
    void put_pending_blanks();
    void put(const std::string& text);

    output_unit& out_;
    const format& f_;
    std::size_t pos_ = 0;
    std::size_t pending_blanks_ = 0;
};

// Formatted writes of lines of reals, `per_line` values a line: each line with the bytes and
// the statement record of
//   fmt_write(out, f) << v[0] << ... << v[per_line - 1];
// Where the format has a line layout for that many values and the unit writes whole records (a
// result file), a number of lines are laid out together, straight where they are to be written;
// fmt_write writes them otherwise. Where memory runs out, the lines laid out together are not
// written at all (fmt_write would end its record with the part it has).
void write_reals(output_unit& out, const format& f, std::span<const float> v, std::size_t per_line);

// The `lines` lines of `per_line` values each that fill(i, values) gives, written as
// write_reals writes them; a number of lines at a time.
template <class Fill>
void write_real_lines(output_unit& out, const format& f, std::size_t per_line, std::size_t lines,
                      Fill&& fill) {
    constexpr std::size_t at_once = 64;
    std::vector<float> v(at_once * per_line);
    for (std::size_t first = 0; first < lines; first += at_once) {
        const std::size_t count = std::min(at_once, lines - first);
        for (std::size_t i = 0; i < count; ++i) {
            fill(first + i, v.data() + i * per_line);
        }
        write_reals(out, f, std::span(v.data(), count * per_line), per_line);
    }
}

// The file-name answer: the next record of standard input (format (A20)), less a trailing
// carriage return and trailing blanks; leading blanks stay, and the whole line is the name
// however long it is. The end of the input is the fatal "fmt: end of file" report.
std::string read_name(input_unit& in);

} // namespace sitewave::textio
