// A scratch folder in which sitewave-batch runs as a child process, its standard output and
// error kept.
#pragma once

#include "support/launch.hpp"
#include "support/scratch_dir.hpp"

#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

class batch_run : public scratch_dir {
  protected:
    // The exit status, or -1 when the program did not exit (a signal, the time limit).
    int run(std::vector<std::string> args, std::function<void(pid_t)> while_running = {},
            std::optional<rlim_t> file_size = std::nullopt) {
        write(".in", "");
        launch::options o;
        o.program = SITEWAVE_BATCH_EXE;
        o.args = std::move(args);
        o.cwd = dir_;
        o.in = dir_ / ".in";
        o.out = dir_ / ".out";
        o.err = dir_ / ".err";
        o.while_running = std::move(while_running);
        o.file_size = file_size;
        o.time_limit = std::chrono::seconds(60);
        const auto r = launch::run(o);
        out_ = read(".out");
        err_ = read(".err");
        signal_ = r.exited ? 0 : r.status;
        return r.exited ? r.status : -1;
    }
    std::string out_, err_;
    int signal_ = 0;

    // A smooth Fourier amplitude spectrum (g·s) on 0.05–100 Hz, as a --fas file's text.
    static std::string fas_text() {
        std::ostringstream f;
        f << "frequency (Hz),FAS (g*s)\n";
        for (int i = 0; i <= 60; ++i) {
            const double x = 0.05 * std::pow(2000.0, i / 60.0);
            f << x << "," << 0.02 / (1 + std::pow(x / 8.0, 2)) << "\n";
        }
        return f.str();
    }
};
