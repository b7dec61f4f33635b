// Free-format input: one statement reads a list of items from one or more records.
#pragma once

#include "textio/unit.hpp"

#include <span>
#include <string>
#include <string_view>

namespace sitewave::textio {

// A free-format read statement. It starts at the beginning of the next record; values are
// separated by blanks, tabs, line ends or a comma; a comma where a value is expected is a null
// value (the item keeps its content); a slash ends the read (the remaining items keep theirs);
// r*value stands for r copies, r* for r null values. When the statement ends (end() or the end
// of scope) the rest of the last record it touched is skipped.
//
// Without an end-of-file branch, reaching the end of the input before an item is read is the
// fatal "list in: end of file" report; with one, the item functions return false instead.
// A malformed value is always a fatal report:
//   "1.5e" -> exponent field, "12..0" -> invalid number, "12.0" into an integer -> invalid
//   integer, "1e39" -> number out of range (too large for a 32-bit real).
class list_read {
  public:
    explicit list_read(input_unit& in, bool eof_branch = false);
    ~list_read() { end(); }
    list_read(const list_read&) = delete;
    list_read& operator=(const list_read&) = delete;

    bool item(int& v);
    bool item(float& v);
    // A real item read both as a float and, from the same decimal text, as a double (a null
    // value or a slash leaves both as they are).
    bool item(float& v, double& wide);
    // A character item of the length of `s` (padded with blanks, or cut).
    bool item(std::string& s);

    // Skips the rest of the record; further items are not read.
    void end();

    // The line (record number of the unit) on which the last item's value, null value or slash
    // was found.
    int line() const { return last_line_; }

  private:
    enum class type { integer, real, text };

    // Positions the read at the next value of the item: false for a null (null value, slash
    // or repeated null), or at the end of the input (eof_ set). On true the value's text
    // starts at pos_ (or, for a repeated value, is held in repeat_text_).
    bool next_value();
    int peek();
    bool fetch();
    // The unquoted field starting at pos_, up to a blank, tab, comma, slash or line end.
    std::string_view take_field();
    std::string take_quoted();
    // Whether the field just taken is followed by a comma or a slash.
    bool ended_by_comma_or_slash() const;
    [[noreturn]] void error(std::string_view word, std::string_view message) const;

    template <typename T> bool read_number(T& v, double* wide = nullptr);
    bool read_text(std::string& s);
    template <typename F> bool guarded(F&& f);
    int to_int(std::string_view field, bool comma_end) const;
    float to_real(std::string_view field, bool comma_end, double* wide = nullptr) const;

    input_unit& in_;
    bool eof_branch_;
    std::string line_;
    std::size_t pos_ = 0;
    bool have_line_ = false;
    bool started_ = false; // a record has been fetched by this statement
    bool after_value_ = false;
    bool stopped_ = false;
    bool eof_ = false;
    mutable bool ended_ = false;
    long repeat_left_ = 0;
    bool repeat_null_ = false;
    std::string repeat_text_;
    std::string_view repeat_field_;
    bool repeat_comma_end_ = false;
    int last_line_ = 0;
    bool from_repeat_ = false;
};

// The reals a free-format read of v.size() items would give when started on `record`, for the
// common record of plain numbers: each value a number of the real syntax that converts on the
// short exact way, the values separated by blanks and tabs or by one comma with blanks and tabs
// around it, all of them on this record (the rest of it is skipped, as by the read). Stores the
// values (the first one also rounded to double in `first_wide`) and returns true. Returns false
// for every other record (null values, slashes, repeat counts, quoted or malformed values,
// values going on to the next record, long or halfway numbers), which the read statement itself
// must take; `v` and `first_wide` may then hold some values of the record.
bool plain_reals(std::string_view record, std::span<float> v, double& first_wide);

} // namespace sitewave::textio
