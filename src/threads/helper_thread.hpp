// A helper thread for a share of a run's work. It can be placed on another processor than the
// caller's: a new thread left to the scheduler often waits behind its parent on the same
// processor at first, which cancels the gain on short work. It never outlives its owner.
#pragma once

#include "sitewave/process.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <mutex>
#include <pthread.h>
#include <sched.h>

namespace sitewave {

class helper_thread {
  public:
    helper_thread() = default;
    helper_thread(const helper_thread&) = delete;
    helper_thread& operator=(const helper_thread&) = delete;
    ~helper_thread();

    // Runs `work` on a new thread, on another processor than the caller's when `place` (and
    // one is to be had). False when no thread could be started; `work` is then not run.
    bool start(std::function<void()> work, bool place = true);
    // Waits for the work to end; an exception it raised is raised again here.
    void join();

  private:
    static void* run(void* self);

    std::function<void()> work_;
    std::exception_ptr failure_;
    pthread_t id_{};
    cpu_set_t allowed_{}; // the processors the caller may use
    bool placed_ = false;
    bool running_ = false;
};

// Work a run leaves to a helper thread while it goes on (a result file to write, the files its
// results replaced to close), done in the order given. The thread starts with the first work;
// all of it is done, and the thread gone, when the object is destroyed.
class background {
  public:
    background() = default;
    background(const background&) = delete;
    background& operator=(const background&) = delete;
    ~background();

    // Starts the thread ahead of the first work, so that it is running when work comes (a
    // new thread takes a while to be running on another processor).
    void start();
    // Queues `work`; it is done here and now when no thread can start, or after finish(). The
    // future tells when it is done, and holds what it raised.
    std::future<void> post(std::function<void()> work);
    // No more work is to come: the thread ends once the queued work is done, instead of
    // waiting for more (and, waiting long, letting its processor halt), so that its end
    // overlaps what the run does last.
    void finish();

  private:
    void loop();

    helper_thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::packaged_task<void()>> queue_;
    bool started_ = false;
    bool stopping_ = false;
    std::atomic<bool> pending_{false}; // work queued or stopping: the loop need not block
};

// Waits a little while, polling, for `ready()` to hold, before the caller blocks on it. A thread
// that blocks lets its processor halt, and on a virtual machine a halted processor may take from
// a tenth of a millisecond to a millisecond to run again once woken; the waits between the steps
// of a run are mostly shorter than that. No polling where the process has one processor only.
// True when `ready()` came to hold.
template <typename Ready> bool spin_until(Ready&& ready) {
    // On one processor the thread waited for could not run meanwhile.
    static const bool several = usable_cores() > 1;
    if (!several) {
        return ready();
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(500);
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (ready()) {
                return true;
            }
#if defined(__x86_64__)
            __builtin_ia32_pause();
#endif
        }
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
    }
}

// Waits for a future, polling a little while first (see spin_until).
inline void spin_wait(const std::future<void>& f) {
    spin_until([&f] { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    f.wait();
}

} // namespace sitewave
