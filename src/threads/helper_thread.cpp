#include "threads/helper_thread.hpp"

#include <algorithm>
#include <sched.h>
#include <thread>
#include <utility>

namespace sitewave {

namespace {

// A processor this thread may use other than the one it runs on; -1 when unknown. `set` is
// left holding the processors it may use.
int other_cpu(cpu_set_t& set) {
    CPU_ZERO(&set);
    if (pthread_getaffinity_np(pthread_self(), sizeof set, &set) != 0) {
        return -1;
    }
    const int here = sched_getcpu();
    for (int c = 0; c < CPU_SETSIZE; ++c) {
        if (c != here && CPU_ISSET(c, &set)) {
            return c;
        }
    }
    return -1;
}

} // namespace

helper_thread::~helper_thread() {
    if (running_) {
        pthread_join(id_, nullptr); // an exception of an unjoined helper is dropped
    }
}

void* helper_thread::run(void* self) {
    auto* h = static_cast<helper_thread*>(self);
    if (h->placed_) {
        // Started on the other processor; from here on the scheduler may move it, should that
        // processor be busy with other work.
        pthread_setaffinity_np(pthread_self(), sizeof h->allowed_, &h->allowed_);
    }
    try {
        h->work_();
    } catch (...) {
        h->failure_ = std::current_exception();
    }
    return nullptr;
}

bool helper_thread::start(std::function<void()> work, bool place) {
    work_ = std::move(work);
    failure_ = nullptr;
    const int cpu = place ? other_cpu(allowed_) : -1;
    bool ok = false;
    placed_ = false;
    pthread_attr_t attr;
    if (cpu >= 0 && pthread_attr_init(&attr) == 0) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        placed_ = pthread_attr_setaffinity_np(&attr, sizeof set, &set) == 0;
        ok = placed_ && pthread_create(&id_, &attr, run, this) == 0;
        pthread_attr_destroy(&attr);
    }
    // Without a placement when that was refused (or not asked for).
    if (!ok) {
        placed_ = false;
        ok = pthread_create(&id_, nullptr, run, this) == 0;
    }
    running_ = ok;
    return ok;
}

void helper_thread::join() {
    if (!running_) {
        return;
    }
    // Polled a while first, as the thread's end takes a little while after its work: a caller
    // blocked in the join would let its processor halt, and be slow to run again.
    if (!spin_until([this] { return pthread_tryjoin_np(id_, nullptr) == 0; })) {
        pthread_join(id_, nullptr);
    }
    running_ = false;
    if (failure_) {
        std::rethrow_exception(std::exchange(failure_, nullptr));
    }
}

background::~background() {
    finish();
    thread_.join();
}

void background::finish() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        pending_.store(true, std::memory_order_release);
    }
    wake_.notify_one();
}

void background::start() {
    if (!started_ && !stopping_) {
        started_ = thread_.start([this] { loop(); });
    }
}

std::future<void> background::post(std::function<void()> work) {
    std::packaged_task<void()> task(std::move(work));
    auto done = task.get_future();
    start();
    if (started_) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!stopping_) {
            queue_.push_back(std::move(task));
            pending_.store(true, std::memory_order_release);
            lock.unlock();
            wake_.notify_one();
            return done;
        }
    }
    task(); // no thread, or finishing: done here
    return done;
}

void background::loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!stopping_ && queue_.empty()) {
            lock.unlock();
            spin_until([this] { return pending_.load(std::memory_order_acquire); });
            lock.lock();
        }
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return; // stopping, and nothing left to do
        }
        auto work = std::move(queue_.front());
        queue_.pop_front();
        pending_.store(!queue_.empty() || stopping_, std::memory_order_release);
        lock.unlock();
        work();
        lock.lock();
    }
}

int usable_cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        return std::max(CPU_COUNT(&set), 1);
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n > 1 ? static_cast<int>(n) : 1;
}

} // namespace sitewave
