#include "textio/fatal.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace sitewave::textio {

namespace {

std::vector<std::string>& temps() {
    static std::vector<std::string> list;
    return list;
}

void remove_temps() {
    for (const auto& path : temps()) {
        std::remove(path.c_str());
    }
    temps().clear();
}

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

void register_temp(const std::string& path) { temps().push_back(path); }

void unregister_temp(const std::string& path) {
    auto& list = temps();
    list.erase(std::remove(list.begin(), list.end(), path), list.end());
}

void fatal(std::string_view message, int unit, std::string_view name) {
    std::fflush(stdout);
    remove_temps();
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
    std::fflush(stdout);
    remove_temps();
    if (!message.empty()) {
        std::string line = "sitewave: ";
        line.append(message).append("\n");
        put(stderr, line);
        std::fflush(stderr);
    }
    std::_Exit(exit_refused);
}

void stop() {
    remove_temps();
    std::fflush(stdout);
    std::_Exit(exit_ok);
}

} // namespace sitewave::textio
