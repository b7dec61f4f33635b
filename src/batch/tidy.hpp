// Tidy CSV files: a header line, comma-separated cells, the shortest decimal of each number,
// each file written to a temporary name and renamed into place when complete.
#pragma once

#include "sitewave/record.hpp"
#include "textio/fields.hpp"
#include "textio/unit.hpp"

#include <array>
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sitewave::batch {

// Tidy cells: the shortest decimal that reads back to the same value.
inline std::string num(float v) { return textio::shortest(v); }
inline std::string num(double v) { return textio::shortest(v); }

// The names of the record's three components, from its heading.
std::array<std::string, 3> heads(const record& rec);

// RFC 4180: a cell with a comma, quote or line end is quoted, its quotes doubled.
std::string csv_cell(const std::string& s);
std::string join(const std::vector<std::string>& cells);

// Numbers as num() writes them, separated by commas, appended to `line`: a number's text has
// nothing to quote, and no cell is made apart.
template <class T> void append_numbers(std::string& line, std::span<const T> values) {
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (k > 0) {
            line += ',';
        }
        textio::append_shortest(line, values[k]);
    }
}

// Cells `head`, then the numbers (a comma between when there are both), appended to `line`.
void append_cells(std::string& line, std::string_view head, std::initializer_list<float> values);

// Lines laid out once and written by several runs: whole lines back to back, and where each
// ends, so that a run can complete each line with cells of its own.
struct laid_out_lines {
    std::string text;
    std::vector<std::size_t> ends;

    // A line of the cells `head`, then the numbers.
    void add(std::string_view head, std::initializer_list<float> values = {}) {
        append_cells(text, head, values);
        text += '\n';
        ends.push_back(text.size());
    }
    void numbers(std::initializer_list<float> values) { add({}, values); }
    void numbers(std::span<const float> values) {
        append_numbers(text, values);
        text += '\n';
        ends.push_back(text.size());
    }
    // Line i without its line end.
    std::string_view line(std::size_t i) const {
        const std::size_t from = i == 0 ? 0 : ends[i - 1];
        return std::string_view(text).substr(from, ends[i] - 1 - from);
    }
};

// A file of whole lines, written to a temporary file and renamed over `path` when complete.
class table_file {
  public:
    table_file(const std::string& path, textio::io_state& state) : out_(20, path, state) {
        state.writing = true; // a failure reports the write
    }
    void line(const std::string& text) {
        out_.record() = text;
        out_.end_record();
    }
    template <class T> void numbers(std::span<const T> values) {
        std::string& r = out_.record();
        r.clear();
        append_numbers(r, values);
        out_.end_record();
    }
    void numbers(std::initializer_list<float> values) { numbers_after({}, values); }
    // The cells `head` followed by the numbers.
    void numbers_after(std::string_view head, std::initializer_list<float> values) {
        std::string& r = out_.record();
        r.clear();
        append_cells(r, head, values);
        out_.end_record();
    }
    void numbers_after(std::string_view head, std::span<const float> values) {
        std::string& r = out_.record();
        r.assign(head);
        if (!head.empty() && !values.empty()) {
            r += ',';
        }
        append_numbers(r, values);
        out_.end_record();
    }
    // Every line of `lines`, as they are.
    void lines(const laid_out_lines& lines);
    void close() { out_.close(); }

  private:
    textio::output_unit out_;
};

} // namespace sitewave::batch
