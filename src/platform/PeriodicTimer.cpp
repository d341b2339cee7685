#include "platform/PeriodicTimer.h"

#include <algorithm>

#include "platform/Clocks.h"

namespace mb {

namespace {

// Longest single sleep: a stop or restart requested while the thread sleeps is seen
// at the latest this long after it, whatever the period.
constexpr int64_t kMaxSleepNs = 5000000;
constexpr int kTimerThreadPriority = 80;

} // namespace

PeriodicTimer::~PeriodicTimer() {
    {
        std::unique_lock lock(mutex_);
        StopLocked(lock);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void PeriodicTimer::Start(uint32_t periodMs, Callback callback, void* user) {
    std::unique_lock lock(mutex_);
    StopLocked(lock);
    periodNs_ = static_cast<int64_t>(std::max<uint32_t>(periodMs, 1)) * 1000000;
    callback_ = callback;
    user_ = user;
    deadlineNs_ = MonotonicNs() + periodNs_;
    active_ = true;
    ++generation_;
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { Run(); });
        workerId_ = thread_.get_id();
    }
    lock.unlock();
    wake_.notify_all();
}

void PeriodicTimer::Stop() {
    std::unique_lock lock(mutex_);
    StopLocked(lock);
}

bool PeriodicTimer::IsActive() const {
    std::lock_guard lock(mutex_);
    return active_;
}

void PeriodicTimer::StopLocked(std::unique_lock<std::mutex>& lock) {
    active_ = false;
    ++generation_;
    // From inside the callback the callback is this very call: it cannot be waited for.
    if (std::this_thread::get_id() == workerId_)
        return;
    idle_.wait(lock, [this] { return !inCallback_; });
}

void PeriodicTimer::Run() {
    TryRealtimePriority(kTimerThreadPriority);
    LowerTimerSlack();

    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!active_) {
            wake_.wait(lock);
            continue;
        }
        const uint64_t generation = generation_;
        const int64_t deadline = deadlineNs_;
        lock.unlock();
        const int64_t now = MonotonicNs();
        if (deadline > now)
            SleepUntilNs(std::min(deadline, now + kMaxSleepNs));
        lock.lock();
        if (quit_ || !active_ || generation != generation_)
            continue; // stopped or restarted while asleep: take the new state
        if (MonotonicNs() < deadline)
            continue; // woke early to look at the state; sleep on

        inCallback_ = true;
        const Callback callback = callback_;
        void* const user = user_;
        lock.unlock();
        callback(user);
        lock.lock();
        inCallback_ = false;
        idle_.notify_all();

        if (generation == generation_) {
            // Next absolute deadline. After a stall longer than a period the missed
            // callbacks are not made up in a burst; the schedule restarts from now.
            deadlineNs_ = deadline + periodNs_;
            const int64_t after = MonotonicNs();
            if (deadlineNs_ < after - periodNs_)
                deadlineNs_ = after + periodNs_;
        }
    }
}

} // namespace mb
