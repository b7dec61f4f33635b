// Ends of a run: the normal stop, the refusal of bad input, and the fatal error report.
//
// Every exit of the program goes through here, so that unfinished temporary result files are
// removed in one place.
#pragma once

#include <string>
#include <string_view>

namespace sitewave::textio {

inline constexpr int exit_ok = 0;      // normal end
inline constexpr int exit_refused = 1; // input refused (too long a record, bad profile, ...)
inline constexpr int exit_fatal = 2;   // fatal error report of the text layer

// Kind and format of the last statement, for the last two lines of the fatal report. A
// free-format statement records "list io"; a formatted one its format text while it runs, and
// a completed formatted read clears it.
struct io_state {
    bool writing = false;
    bool has_format = false;
    std::string format;
};
io_state& last_statement();
void record_statement(bool writing, std::string_view format);
void clear_format();

// Messages of the error codes the text layer reaches.
inline constexpr std::string_view msg_list_input = "incomprehensible list input";
inline constexpr std::string_view msg_unexpected = "read unexpected character";
inline constexpr std::string_view msg_eof = "end of file";
inline constexpr std::string_view msg_null_name = "null file name";
inline constexpr std::string_view msg_no_space = "out of free space";

// Flushes standard output, writes the four-line report on standard error
//   <message>
//   apparent state: unit <unit> named <name>      (or "(unnamed)" for an empty name)
//   last format: <format>                         (only when one is recorded)
//   lately reading|writing sequential formatted external IO
// removes unfinished result files and exits with status 2.
[[noreturn]] void fatal(std::string_view message, int unit, std::string_view name);

// Refused input: flushes standard output, writes "sitewave: <message>" on standard error (when
// the message is not empty) and exits with status 1 (2 when standard output could not be
// written, reported after the message).
[[noreturn]] void refuse(std::string_view message);

// Normal end: flushes standard output (a failure is reported as by flush_console()), exits with
// status 0.
[[noreturn]] void stop();

// Flushes standard output; when that fails (a full disk, /dev/full), writes
// "sitewave: standard output: <system text>" on standard error and exits with status 2.
void flush_console();

} // namespace sitewave::textio
