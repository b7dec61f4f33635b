#include "textio/fatal.hpp"

#include "textio/pending.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sitewave::textio {

namespace {

void put(std::FILE* f, std::string_view s) { std::fwrite(s.data(), 1, s.size(), f); }

} // namespace

io_state& last_statement() {
    static io_state state;
    return state;
}

void record_statement(bool writing, std::string_view format) {
    auto& s = last_statement();
    s.writing = writing;
    s.has_format = true;
    s.format.assign(format);
}

void clear_format() {
    auto& s = last_statement();
    s.has_format = false;
    s.format.clear();
}

void console_failed(int err) {
    remove_pending();
    std::string line = "sitewave: standard output: ";
    line.append(std::strerror(err)).append("\n");
    put(stderr, line);
    std::fflush(stderr);
    std::_Exit(exit_fatal);
}

void flush_console() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        console_failed(errno != 0 ? errno : EIO);
    }
}

void fatal(std::string_view message, int unit, std::string_view name) {
    std::fflush(stdout);
    remove_pending();
    std::string report;
    report.append(message).append("\n");
    report.append("apparent state: unit ").append(std::to_string(unit)).append(" ");
    if (name.empty()) {
        report.append("(unnamed)\n");
    } else {
        report.append("named ").append(name).append("\n");
    }
    const auto& s = last_statement();
    if (s.has_format) {
        report.append("last format: ").append(s.format).append("\n");
    }
    report.append("lately ").append(s.writing ? "writing" : "reading");
    report.append(" sequential formatted external IO\n");
    put(stderr, report);
    std::fflush(stderr);
    std::_Exit(exit_fatal);
}

void refuse(std::string_view message) {
    const bool console_ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    const int err = errno != 0 ? errno : EIO;
    remove_pending();
    if (!message.empty()) {
        std::string line = "sitewave: ";
        line.append(message).append("\n");
        put(stderr, line);
        std::fflush(stderr);
    }
    if (!console_ok) {
        console_failed(err);
    }
    std::_Exit(exit_refused);
}

void stop() {
    remove_pending();
    flush_console();
    std::_Exit(exit_ok);
}

} // namespace sitewave::textio
