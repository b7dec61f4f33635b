// sitewave: the console dialogue in the working directory. The program takes no arguments; any
// given are ignored.
#include "allocator.hpp"
#include "sitewave/dialogue.hpp"
#include "sitewave/process.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

int main() {
    sitewave::app::keep_freed_memory();
    sitewave::install_signal_handlers();
    // SITEWAVE_THREADS=1: the plain sequence, every step in its place on one thread.
    sitewave::dialogue_io io;
    const char* threads = std::getenv("SITEWAVE_THREADS");
    io.threads = threads != nullptr && std::string_view(threads) == "1" ? 1 : 0;
    const auto r = sitewave::run_dialogue(io);
    if (r) {
        return sitewave::exit_ok;
    }
    const sitewave::error& e = r.err();
    // A refusal whose console output could not be written ends as the console failure too.
    const bool console_ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    const int err = errno != 0 ? errno : EIO;
    std::string text = e.report();
    int status = e.status();
    if (!console_ok && e.what == sitewave::error::kind::refused) {
        text += "sitewave: standard output: " + std::string(std::strerror(err)) + "\n";
        status = sitewave::exit_fatal;
    }
    // Written by its length: the record's name, as typed, may hold a NUL byte, and the report
    // shows the name whole.
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    return status;
}
