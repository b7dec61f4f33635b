// A scratch folder in which sitewave-batch runs as a child process, its standard output and
// error kept.
#pragma once

#include "support/launch.hpp"
#include "support/scratch_dir.hpp"

#include <optional>
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
};
