// Runs a built program as a child process: standard input from a file, standard output and error
// into files, in a given working directory, with optional resource limits. One launcher for every
// end-to-end test.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace launch {

struct options {
    std::filesystem::path program;
    std::vector<std::string> args; // after the program name
    std::filesystem::path cwd;
    std::filesystem::path in, out, err;  // standard input, output and error
    std::optional<rlim_t> file_size;     // RLIMIT_FSIZE in bytes
    std::optional<rlim_t> address_space; // RLIMIT_AS in bytes
    // Called with the child's process id once it runs; the test may signal it.
    std::function<void(pid_t)> while_running;
    std::chrono::seconds time_limit{300};
};

struct result {
    bool exited = false;
    int status = -1; // exit status, or the signal number when !exited
    bool timed_out = false;
};

inline result run(const options& o) {
    // Everything the child needs is prepared here: after fork it only calls
    // async-signal-safe functions.
    const std::string exe = o.program.string(), dir = o.cwd.string();
    const std::string in = o.in.string(), out = o.out.string(), err = o.err.string();
    std::vector<std::string> words{exe};
    words.insert(words.end(), o.args.begin(), o.args.end());
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
    }
    if (pid == 0) {
        const int fd_in = ::open(in.c_str(), O_RDONLY);
        const int fd_out = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int fd_err = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd_in < 0 || fd_out < 0 || fd_err < 0 || ::dup2(fd_in, 0) < 0 ||
            ::dup2(fd_out, 1) < 0 || ::dup2(fd_err, 2) < 0 || ::chdir(dir.c_str()) != 0) {
            ::_exit(127);
        }
        ::close(fd_in);
        ::close(fd_out);
        ::close(fd_err);
        if (o.file_size) {
            const rlimit r{*o.file_size, *o.file_size};
            ::setrlimit(RLIMIT_FSIZE, &r);
        }
        if (o.address_space) {
            const rlimit r{*o.address_space, *o.address_space};
            ::setrlimit(RLIMIT_AS, &r);
        }
        ::execve(exe.c_str(), argv.data(), environ);
        ::_exit(127);
    }
    if (o.while_running) {
        o.while_running(pid);
    }

    result r;
    const auto deadline = std::chrono::steady_clock::now() + o.time_limit;
    int wstatus = 0;
    for (;;) {
        const pid_t w = ::waitpid(pid, &wstatus, WNOHANG);
        if (w == pid) {
            break;
        }
        if (w < 0 && errno != EINTR) {
            throw std::runtime_error("waitpid: " + std::string(std::strerror(errno)));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            r.timed_out = true;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &wstatus, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(wstatus)) {
        r.exited = true;
        r.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        r.status = WTERMSIG(wstatus);
    }
    return r;
}

} // namespace launch
