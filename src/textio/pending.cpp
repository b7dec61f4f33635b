#include "textio/pending.hpp"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace sitewave::textio {

namespace {

constexpr int slots = 1024;
std::atomic<const char*> pending[slots];

extern "C" void on_signal(int sig) {
    remove_pending();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

} // namespace

bool register_pending(const char* path) noexcept {
    for (auto& slot : pending) {
        const char* expected = nullptr;
        if (slot.compare_exchange_strong(expected, path)) {
            return true;
        }
    }
    return false;
}

void release_pending(const char* path) noexcept {
    for (auto& slot : pending) {
        const char* expected = path;
        if (slot.compare_exchange_strong(expected, nullptr)) {
            return;
        }
    }
}

void remove_pending() noexcept {
    for (auto& slot : pending) {
        if (const char* p = slot.load(); p != nullptr) {
            ::unlink(p);
        }
    }
}

void install_signal_handlers() {
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(sig, &sa, nullptr);
    }
}

} // namespace sitewave::textio
