#include "platform/DeadlineTimer.h"

#include <chrono>

#include "platform/Clocks.h"

namespace mb {

namespace {

constexpr int kTimerThreadPriority = 80;

// libstdc++ measures steady_clock on CLOCK_MONOTONIC, so a deadline converts one to one.
std::chrono::steady_clock::time_point SteadyTime(int64_t monotonicNs) {
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(monotonicNs));
}

} // namespace

DeadlineTimer::~DeadlineTimer() {
    Shutdown();
}

void DeadlineTimer::Shutdown() {
    {
        std::unique_lock lock(mutex_);
        StopLocked(lock);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable() && std::this_thread::get_id() != workerId_) {
        thread_.join();
        std::lock_guard lock(mutex_);
        quit_ = false;
        workerId_ = {};
    }
}

void DeadlineTimer::Start(int64_t deadlineNs, Callback callback, void* user) {
    std::unique_lock lock(mutex_);
    StopLocked(lock);
    callback_ = callback;
    user_ = user;
    deadlineNs_ = deadlineNs;
    poked_ = false;
    active_ = true;
    ++generation_;
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { Run(); });
        workerId_ = thread_.get_id();
    }
    lock.unlock();
    wake_.notify_all();
}

void DeadlineTimer::Stop() {
    std::unique_lock lock(mutex_);
    StopLocked(lock);
}

void DeadlineTimer::Poke() {
    {
        std::lock_guard lock(mutex_);
        if (!active_)
            return;
        poked_ = true;
    }
    wake_.notify_all();
}

bool DeadlineTimer::IsActive() const {
    std::lock_guard lock(mutex_);
    return active_;
}

void DeadlineTimer::StopLocked(std::unique_lock<std::mutex>& lock) {
    active_ = false;
    poked_ = false;
    ++generation_;
    wake_.notify_all();
    // From inside the callback the callback is this very call: it cannot be waited for.
    if (std::this_thread::get_id() == workerId_ || !inCallback_)
        return;
    stopsWaiting_.fetch_add(1, std::memory_order_release);
    idle_.wait(lock, [this] { return !inCallback_; });
    stopsWaiting_.fetch_sub(1, std::memory_order_release);
}

void DeadlineTimer::Run() {
    TryRealtimePriority(kTimerThreadPriority);
    LowerTimerSlack();

    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!active_) {
            wake_.wait(lock);
            wakeups_.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        if (!poked_ && MonotonicNs() < deadlineNs_) {
            wake_.wait_until(lock, SteadyTime(deadlineNs_));
            wakeups_.fetch_add(1, std::memory_order_relaxed);
            continue; // look again: the schedule may have changed while asleep
        }

        poked_ = false;
        const uint64_t generation = generation_;
        const Callback callback = callback_;
        void* const user = user_;
        inCallback_ = true;
        lock.unlock();
        const int64_t next = callback(user);
        lock.lock();
        inCallback_ = false;
        idle_.notify_all();
        if (generation != generation_)
            continue; // stopped or restarted meanwhile: the returned deadline is stale
        if (next == kNoDeadline)
            active_ = false;
        else
            deadlineNs_ = next;
    }
}

} // namespace mb
