// Free-format output: one statement writes one or more whole records.
#pragma once

#include "textio/unit.hpp"

#include <string_view>

namespace sitewave::textio {

// A free-format write statement. Items are put one after the other; the statement's record ends
// when the object goes out of scope, so an empty statement writes an empty line:
//   list_write(out) << " NT and DT=" << nt << dt;    ->  "  NT and DT= 300  0.00999999978"
// A string gets one blank in front only when it is the first thing in its record. Before an
// item is put, when the position plus the item's length reaches 80 the record is ended first.
class list_write {
  public:
    explicit list_write(output_unit& out);
    ~list_write();
    list_write(const list_write&) = delete;
    list_write& operator=(const list_write&) = delete;

    list_write& operator<<(std::string_view s);
    list_write& operator<<(const char* s) { return *this << std::string_view(s); }
    list_write& operator<<(int v);
    list_write& operator<<(float v);

  private:
    void wrap(std::size_t length);
    output_unit& out_;
};

// An empty free-format statement: an empty line.
inline void empty_line(output_unit& out) { list_write{out}; }

} // namespace sitewave::textio
