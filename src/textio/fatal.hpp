// Failures of the text layer and of the run: raised inside the library as a `failure` carrying
// the error value, turned into a returned error at the library's boundary by `capture`.
#pragma once

#include "sitewave/error.hpp"

#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace sitewave::textio {

using sitewave::exit_fatal;
using sitewave::exit_ok;
using sitewave::exit_refused;

// Kind, format and unit of the last statement, for the last lines of the fatal report. A
// free-format statement records "list io"; a formatted one its format text while it runs, and
// a completed formatted read clears it. One record per run, shared by the run's units.
struct io_state {
    bool writing = false;
    bool has_format = false;
    std::string format;
    // The unit of the last statement, for a report raised outside any statement (memory
    // exhausted in the computation).
    int unit = 0;
    std::string name;
    // Statements recorded so far (each record() and clear_format() counts).
    unsigned long statements = 0;
    // The format object and the unit `format` and `name` were last taken from (their serial
    // numbers, next_serial()), 0 for none: a statement of the same ones leaves the texts as they
    // are, without comparing them.
    unsigned long format_serial = 0;
    unsigned long unit_serial = 0;

    void record(bool is_write, std::string_view fmt, int unit_no, const std::string& unit_name,
                unsigned long fmt_serial = 0, unsigned long of_unit = 0);
    void clear_format();
};

// A number of its own for each format and unit made in the process (never 0).
unsigned long next_serial();

// Messages of the error codes the text layer reaches.
inline constexpr std::string_view msg_list_input = "incomprehensible list input";
inline constexpr std::string_view msg_unexpected = "read unexpected character";
inline constexpr std::string_view msg_eof = "end of file";
inline constexpr std::string_view msg_null_name = "null file name";
inline constexpr std::string_view msg_no_space = "out of free space";

// The error of a step, thrown inside the library only.
class failure : public std::exception {
  public:
    explicit failure(sitewave::error e) : e_(std::move(e)) {}
    const char* what() const noexcept override { return e_.message.c_str(); }
    const sitewave::error& err() const { return e_; }

  private:
    sitewave::error e_;
};

// The fatal report of the text layer:
//   <message>
//   apparent state: unit <unit> named <name>      (or "(unnamed)" for an empty name)
//   last format: <format>                         (only when one is recorded)
//   lately reading|writing sequential formatted external IO
[[noreturn]] void fatal(std::string_view message, int unit, std::string_view name,
                        const io_state& state);

// Refused input: "sitewave: <message>" (nothing when the message is empty), exit status 1.
[[noreturn]] void refuse(std::string_view message);

// Standard output could not be written: "sitewave: standard output: <system text>".
[[noreturn]] void console_failed(int err);

// Memory exhausted outside a statement of the text layer: the fatal report with the operation
// word of the last statement.
sitewave::error out_of_memory(const io_state& state);

// A call outside a function's contract: an error of kind `argument`, "<function>: <what>".
[[noreturn]] void invalid_argument(std::string_view function, std::string_view what);

// An error of kind `system` from an exception the standard library threw (a file system or
// thread failure, a length beyond what a container holds): its paths and text.
sitewave::error system_error_of(const std::exception& e);

// Runs f(); a failure, exhausted memory or any other exception becomes the returned error.
template <class F> auto capture(F&& f, const io_state* state = nullptr) {
    using T = std::invoke_result_t<F>;
    using R = sitewave::result<T>;
    try {
        if constexpr (std::is_void_v<T>) {
            f();
            return R();
        } else {
            return R(f());
        }
    } catch (const failure& e) {
        return R(e.err());
    } catch (const std::bad_alloc&) {
        return R(out_of_memory(state != nullptr ? *state : io_state{}));
    } catch (const std::exception& e) {
        return R(system_error_of(e));
    } catch (...) {
        return R(system_error_of(std::runtime_error("unknown failure")));
    }
}

} // namespace sitewave::textio
