// sitewave-batch: every record on every profile, without the dialogue.
#include "allocator.hpp"
#include "batch_cli.hpp"
#include "textio/pending.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

int main(int argc, char** argv) {
    sitewave::app::keep_freed_memory();
    sitewave::textio::install_signal_handlers();
    const command_line cl = parse_command_line(argc, argv);
    std::fputs(cl.out.c_str(), stdout);
    std::fputs(cl.err.c_str(), stderr);
    if (!cl.options) {
        return cl.status;
    }
    const sitewave::batch_options& o = *cl.options;
    namespace fs = std::filesystem;
    if (const auto r = sitewave::prepare_batch(o); !r) {
        std::fputs(r.err().report().c_str(), stderr);
        return sitewave::exit_fatal;
    }

    const bool tty = ::isatty(2) != 0;
    const auto start = std::chrono::steady_clock::now();
    const auto progress = [&](int k, int n) {
        if (!tty) {
            return;
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double left = k > 0 ? elapsed * (n - k) / k : 0.0;
        std::fprintf(stderr, "\r%d/%d runs, %.1f s elapsed, about %.1f s to go   ", k, n, elapsed,
                     left);
        std::fflush(stderr);
    };
    const auto r = sitewave::run_batch(o, progress);
    if (tty) {
        std::fputs("\n", stderr);
    }
    if (!r) {
        std::fputs(r.err().report().c_str(), stderr);
        // A usage error, or the summary that could not be written: status 2.
        return sitewave::exit_fatal;
    }
    int failed = 0;
    for (const auto& row : *r) {
        if (!row.ok) {
            ++failed;
            std::fprintf(stderr, "sitewave-batch: %s on %s: %s\n", row.record.c_str(),
                         row.profile.c_str(), row.note.c_str());
        }
        std::printf("%-6s %s%s%s\n", row.ok ? "ok" : "failed", row.folder.c_str(),
                    row.note.empty() ? "" : "  ", row.note.c_str());
    }
    std::printf("%zu runs, %d failed; summary in %s\n", r->size(), failed,
                (fs::path(o.out) / "summary.csv").c_str());
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "sitewave-batch: standard output: %s\n", std::strerror(errno));
        return sitewave::exit_fatal;
    }
    return failed > 0 ? sitewave::exit_refused : sitewave::exit_ok;
}
