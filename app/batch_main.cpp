// sitewave-batch: every record on every profile, without the dialogue.
#include "allocator.hpp"
#include "batch_cli.hpp"
#include "sitewave/process.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace {

// The whole text, NUL bytes included (a name may hold one).
void put(const std::string& text, std::FILE* to) { std::fwrite(text.data(), 1, text.size(), to); }

} // namespace

int main(int argc, char** argv) {
    sitewave::app::keep_freed_memory();
    // Before any thread: a termination signal lets the runs under way end and the summary say
    // which were not made.
    sitewave::termination_watch watch;
    // sitewave-batch merge DIR: the shards of a suite combined.
    if (argc >= 2 && std::strcmp(argv[1], "merge") == 0) {
        if (argc != 3) {
            std::fputs("sitewave-batch: merge DIR: one output folder\n", stderr);
            return sitewave::exit_fatal;
        }
        const auto m = sitewave::merge_shards(argv[2]);
        if (!m) {
            put(m.err().report(), stderr);
            return sitewave::exit_fatal;
        }
        std::printf("merged %s/shards into %s\n", argv[2], argv[2]);
        return sitewave::exit_ok;
    }
    const command_line cl = parse_command_line(argc, argv);
    put(cl.out, stdout);
    put(cl.err, stderr);
    if (!cl.options) {
        return cl.status;
    }
    sitewave::batch_options o = *cl.options;
    o.stop = &watch.stop();

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
        // A usage error, or the batch could not go on (nothing but the lock file written).
        put(r.err().report(), stderr);
        watch.end_if_signalled();
        return sitewave::exit_fatal;
    }
    int failed = 0, interrupted = 0;
    for (const auto& row : r->rows) {
        if (!row.ok) {
            ++(row.interrupted ? interrupted : failed);
            if (!row.interrupted) {
                std::fprintf(stderr, "sitewave-batch: %s on %s: %s\n", row.record.c_str(),
                             row.profile.c_str(), row.note.c_str());
            }
        }
        std::printf("%-6s %s%s%s\n",
                    row.ok            ? "ok"
                    : row.interrupted ? "interrupted"
                                      : "failed",
                    row.folder.c_str(), row.note.empty() ? "" : "  ", row.note.c_str());
    }
    // A shard writes into DIR/shards/K.
    const std::filesystem::path out =
        o.shards > 0 ? std::filesystem::path(o.out) / "shards" / std::to_string(o.shard)
                     : std::filesystem::path(o.out);
    const std::string summary = (out / "summary.csv").string();
    std::printf("%zu runs, %d failed", r->rows.size(), failed);
    if (interrupted > 0) {
        std::printf(", %d interrupted", interrupted);
    }
    if (r->summary_error) {
        // The runs are kept; the summary goes to standard error as a last resort.
        std::printf("; %s could not be written\n", summary.c_str());
        std::fprintf(stderr, "sitewave-batch: %s could not be written:\n%s", summary.c_str(),
                     r->summary_error->report().c_str());
        put(sitewave::summary_csv(o, r->rows), stderr);
    } else {
        std::printf("; summary in %s\n", summary.c_str());
    }
    // statistics.csv and run.json at the end: the runs and the summary are kept.
    for (const auto& [file, e] : {std::pair{"statistics.csv", &r->statistics_error},
                                  std::pair{"run.json", &r->record_error}}) {
        if (*e) {
            const std::string path = (out / file).string();
            std::printf("%s could not be written\n", path.c_str());
            std::fprintf(stderr, "sitewave-batch: %s could not be written:\n%s", path.c_str(),
                         (*e)->report().c_str());
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "sitewave-batch: standard output: %s\n", std::strerror(errno));
        watch.end_if_signalled();
        return sitewave::exit_fatal;
    }
    watch.end_if_signalled();
    const bool unwritten = r->summary_error || r->statistics_error || r->record_error;
    return failed + interrupted > 0 || unwritten ? sitewave::exit_refused : sitewave::exit_ok;
}
