#include "textio/fatal.hpp"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace sitewave {

std::string error::report() const {
    std::string r;
    switch (what) {
    case kind::refused:
        if (!message.empty()) {
            r.append("sitewave: ").append(message).append("\n");
        }
        return r;
    case kind::console:
        return "sitewave: standard output: " + message + "\n";
    case kind::usage:
        return "sitewave-batch: " + message + "\n";
    case kind::argument:
    case kind::system:
        return "sitewave: " + message + "\n";
    case kind::fatal:
        break;
    }
    r.append(message).append("\n");
    r.append("apparent state: unit ").append(std::to_string(unit)).append(" ");
    if (name.empty()) {
        r.append("(unnamed)\n");
    } else {
        r.append("named ").append(name).append("\n");
    }
    if (format) {
        r.append("last format: ").append(*format).append("\n");
    }
    r.append("lately ").append(writing ? "writing" : "reading");
    r.append(" sequential formatted external IO\n");
    return r;
}

namespace textio {

unsigned long next_serial() {
    static std::atomic<unsigned long> made{0};
    return ++made;
}

void io_state::record(bool is_write, std::string_view fmt, int unit_no,
                      const std::string& unit_name, unsigned long fmt_serial,
                      unsigned long of_unit) {
    ++statements;
    writing = is_write;
    has_format = true;
    if (fmt_serial == 0 || fmt_serial != format_serial) {
        if (format != fmt) {
            format.assign(fmt);
        }
        format_serial = fmt_serial;
    }
    if (of_unit == 0 || of_unit != unit_serial) {
        if (unit != unit_no || name != unit_name) {
            unit = unit_no;
            name = unit_name;
        }
        unit_serial = of_unit;
    }
}

void io_state::clear_format() {
    ++statements;
    has_format = false;
    format.clear();
    format_serial = 0;
}

void fatal(std::string_view message, int unit, std::string_view name, const io_state& state) {
    sitewave::error e;
    e.what = sitewave::error::kind::fatal;
    e.message.assign(message);
    e.unit = unit;
    e.name.assign(name);
    if (state.has_format) {
        e.format = state.format;
    }
    e.writing = state.writing;
    throw failure(std::move(e));
}

void refuse(std::string_view message) {
    sitewave::error e;
    e.what = sitewave::error::kind::refused;
    e.message.assign(message);
    throw failure(std::move(e));
}

void console_failed(int err) {
    sitewave::error e;
    e.what = sitewave::error::kind::console;
    e.message = std::strerror(err);
    throw failure(std::move(e));
}

void invalid_argument(std::string_view function, std::string_view what) {
    sitewave::error e;
    e.what = sitewave::error::kind::argument;
    e.message.assign(function).append(": ").append(what);
    throw failure(std::move(e));
}

sitewave::error system_error_of(const std::exception& ex) {
    sitewave::error e;
    e.what = sitewave::error::kind::system;
    if (const auto* f = dynamic_cast<const std::filesystem::filesystem_error*>(&ex)) {
        // "<path>: <cause>" (and the second path of a rename or copy)
        const auto& p1 = f->path1();
        const auto& p2 = f->path2();
        if (!p1.empty()) {
            e.message.append(p1.string());
            if (!p2.empty()) {
                e.message.append(" -> ").append(p2.string());
            }
            e.message.append(": ");
        }
        e.message.append(f->code().message());
        return e;
    }
    if (const auto* s = dynamic_cast<const std::system_error*>(&ex)) {
        e.message = s->code().message();
        return e;
    }
    e.message = ex.what();
    return e;
}

sitewave::error out_of_memory(const io_state& state) {
    sitewave::error e;
    const bool list = !state.has_format || state.format == "list io";
    e.message = std::string(list ? (state.writing ? "list out" : "list in") : "fmt") + ": " +
                std::string(msg_no_space);
    e.unit = state.unit;
    e.name = state.name;
    if (state.has_format) {
        e.format = state.format;
    }
    e.writing = state.writing;
    return e;
}

} // namespace textio
} // namespace sitewave
