// Errors as values: what a step of the run returns instead of ending the process.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace sitewave {

// Exit statuses of the programs.
inline constexpr int exit_ok = 0;      // normal end
inline constexpr int exit_refused = 1; // input refused, or (batch) a run failed
inline constexpr int exit_fatal = 2;   // fatal report of the text layer, or (batch) a usage error

struct error {
    enum class kind {
        fatal,    // the text layer's fatal report: a failed open, a malformed value, an early end,
                  // a result file that cannot be written, memory exhausted
        refused,  // input the computation cannot use (a message naming the file or answer)
        console,  // standard output could not be written
        usage,    // (batch) an option, a profile or the output folder cannot be used
        argument, // a library function called outside its documented contract
        system,   // the system failed the library: the file system, a thread, a lock
    };
    kind what = kind::fatal;
    // fatal: the report's first line, e.g. "list in: end of file"; refused: the reason, naming
    // the file and the quantity (empty for the record that is too long, reported on the console
    // only); console: the system's text; usage: what is wrong, naming the option or file;
    // argument: the function and the argument; system: the operation, its path and the cause.
    std::string message;
    // fatal only: the unit and file name of the statement that failed, and the last statement.
    int unit = 0;
    std::string name;                  // empty: "(unnamed)"
    std::optional<std::string> format; // "list io" or a format text, when one is recorded
    bool writing = false;

    // The text for standard error: the four-line report of the text layer, "sitewave: <reason>"
    // for a refusal (nothing when the reason is empty), "sitewave: standard output: <text>",
    // "sitewave-batch: <message>" for a usage error, "sitewave: <message>" for an argument or
    // system error.
    std::string report() const;
    // exit_refused for a refusal, exit_fatal otherwise.
    int status() const { return what == kind::refused ? exit_refused : exit_fatal; }
};

// A value of type T or the error that prevented it.
template <class T> class result {
  public:
    result(T value) : v_(std::move(value)) {}
    result(sitewave::error e) : v_(std::move(e)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const sitewave::error& err() const { return std::get<1>(v_); }

  private:
    std::variant<T, sitewave::error> v_;
};

// Success, or the error.
template <> class result<void> {
  public:
    result() = default;
    result(sitewave::error e) : e_(std::move(e)) {}

    bool ok() const { return !e_.has_value(); }
    explicit operator bool() const { return ok(); }
    const sitewave::error& err() const { return *e_; }

  private:
    std::optional<sitewave::error> e_;
};

// An error of kind `argument`, "<where>: <what>": a library function called outside its contract.
inline error argument_error(const std::string& where, const std::string& what) {
    error e;
    e.what = error::kind::argument;
    e.message = where + ": " + what;
    return e;
}

// A number as printf's %g writes it, for messages.
inline std::string number_text(double x) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", x);
    return buffer;
}

} // namespace sitewave
