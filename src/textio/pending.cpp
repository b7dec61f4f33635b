#include "textio/pending.hpp"

#include <atomic>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace sitewave::textio {

namespace {

constexpr int slots = 1024;
std::atomic<const char*> pending[slots];
std::atomic<const char*> pending_dirs[slots];
// Temporary files being created and registered (on any thread), and whether a termination
// signal is being handled: the handler waits for the first to come to 0 once the second is set,
// and no creation starts after that.
std::atomic<int> creating{0};
std::atomic<bool> terminating{false};

bool add(std::atomic<const char*> (&table)[slots], const char* path) noexcept {
    for (auto& slot : table) {
        const char* expected = nullptr;
        if (slot.compare_exchange_strong(expected, path)) {
            return true;
        }
    }
    return false;
}

void drop(std::atomic<const char*> (&table)[slots], const char* path) noexcept {
    for (auto& slot : table) {
        const char* expected = path;
        if (slot.compare_exchange_strong(expected, nullptr)) {
            return;
        }
    }
}

// Removes the files of a folder and the folder, with system calls only.
void remove_dir(const char* path) noexcept {
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        alignas(8) char buf[4096];
        for (;;) {
            const long n = ::syscall(SYS_getdents64, fd, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            for (long at = 0; at < n;) {
                const auto* d = reinterpret_cast<const dirent64*>(buf + at);
                const char* name = d->d_name;
                if (!(name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))) {
                    ::unlinkat(fd, name, 0);
                }
                at += d->d_reclen;
            }
        }
        ::close(fd);
    }
    ::rmdir(path);
}

extern "C" void on_signal(int sig) { terminate_by(sig); }

} // namespace

bool begin_creating() noexcept {
    creating.fetch_add(1);
    if (terminating.load()) {
        creating.fetch_sub(1);
        return false;
    }
    return true;
}

void end_creating() noexcept { creating.fetch_sub(1); }

bool register_pending(const char* path) noexcept { return add(pending, path); }
void release_pending(const char* path) noexcept { drop(pending, path); }
bool register_pending_dir(const char* path) noexcept { return add(pending_dirs, path); }
void release_pending_dir(const char* path) noexcept { drop(pending_dirs, path); }

void remove_pending() noexcept {
    for (auto& slot : pending) {
        if (const char* p = slot.load(); p != nullptr) {
            ::unlink(p);
        }
    }
    for (auto& slot : pending_dirs) {
        if (const char* p = slot.load(); p != nullptr) {
            remove_dir(p);
        }
    }
}

void terminate_by(int sig) noexcept {
    terminating.store(true);
    while (creating.load() != 0) {
        const timespec pause{0, 20000};
        ::nanosleep(&pause, nullptr);
    }
    remove_pending();
    std::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(sig);
    ::_exit(128 + sig); // not reached: the default action of these signals ends the process
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
