// The process interface of the library's programs: the termination signals and their watcher.
#include "sitewave/process.hpp"

#include "textio/pending.hpp"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <pthread.h>
#include <thread>

namespace sitewave {

std::optional<std::string> not_an_input_file(const std::string& path, bool pipes) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const auto st = fs::status(path, ec);
    if (!fs::exists(st) || fs::is_regular_file(st) || (pipes && fs::is_fifo(st))) {
        return std::nullopt;
    }
    return fs::is_directory(st)        ? "a folder"
           : fs::is_fifo(st)           ? "a named pipe"
           : fs::is_character_file(st) ? "a character device"
           : fs::is_block_file(st)     ? "a block device"
           : fs::is_socket(st)         ? "a socket"
                                       : "not a file";
}

namespace {

std::atomic<bool> stop_flag{false};
std::atomic<int> received{0};

sigset_t termination_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&set, sig);
    }
    return set;
}

void watch(sigset_t set) {
    for (;;) {
        int sig = 0;
        if (::sigwait(&set, &sig) != 0) {
            continue;
        }
        int none = 0;
        if (received.compare_exchange_strong(none, sig)) {
            stop_flag.store(true);
            continue;
        }
        textio::terminate_by(sig); // the second signal: at once
    }
}

} // namespace

void install_signal_handlers() { textio::install_signal_handlers(); }

void remove_pending_files() noexcept { textio::remove_pending(); }

termination_watch::termination_watch() {
    std::signal(SIGXFSZ, SIG_IGN);
    const sigset_t set = termination_signals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    try {
        std::thread(watch, set).detach(); // blocked in sigwait until the process ends
    } catch (const std::exception&) {
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        textio::install_signal_handlers();
    }
}

termination_watch::~termination_watch() = default;

const std::atomic<bool>& termination_watch::stop() const { return stop_flag; }

int termination_watch::signal() const { return received.load(); }

void termination_watch::end_if_signalled() {
    if (const int sig = received.load(); sig != 0) {
        std::fflush(stdout);
        std::fflush(stderr);
        textio::terminate_by(sig);
    }
}

} // namespace sitewave
