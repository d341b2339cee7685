#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <thread>

namespace mb {

// A callback on a dedicated thread at absolute CLOCK_MONOTONIC deadlines, with real-time
// priority when the system grants it. The thread sleeps until the next deadline, which
// the callback itself returns; while the timer is stopped the thread sleeps until it is
// started again and never wakes on its own.
//
// Threads. Start and Stop are called from any thread but the timer's own; Stop may also
// be called from inside the callback. Called from another thread, Stop returns only once
// no callback is running, and from then on none runs and none is pending: a deadline
// that a callback running during the Stop returns is discarded. Poke may be called from
// any thread.
class DeadlineTimer {
public:
    // Returns the next deadline (CLOCK_MONOTONIC nanoseconds), or kNoDeadline to stop.
    using Callback = int64_t (*)(void* user);
    static constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();

    DeadlineTimer() = default;
    DeadlineTimer(const DeadlineTimer&) = delete;
    DeadlineTimer& operator=(const DeadlineTimer&) = delete;
    // Stops and joins the thread.
    ~DeadlineTimer();

    // Stops any active schedule, then calls callback(user) at deadlineNs (at once when it
    // has passed) and from then on at each deadline the callback returns.
    void Start(int64_t deadlineNs, Callback callback, void* user);
    void Stop();
    // While active: the callback runs again as soon as possible (after the one running
    // now, if any), whatever its deadline, so that it can look at a changed state.
    void Poke();
    // Stops, then ends the thread; Start makes a new one.
    void Shutdown();

    bool IsActive() const;
    // Times the thread woke up (from any wait), for tests and measurements.
    uint64_t wakeups() const { return wakeups_.load(std::memory_order_relaxed); }
    // Calls that are blocked in Stop waiting for a running callback (a test can wait
    // for the other thread to reach that point).
    int stopsWaiting() const { return stopsWaiting_.load(std::memory_order_acquire); }

private:
    void Run();
    void StopLocked(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::thread thread_;
    std::thread::id workerId_;
    bool quit_ = false;
    bool active_ = false;
    bool poked_ = false;
    bool inCallback_ = false;
    // Changes with every Start and Stop: a callback's returned deadline counts only when
    // nothing changed while it ran.
    uint64_t generation_ = 0;
    int64_t deadlineNs_ = 0;
    Callback callback_ = nullptr;
    void* user_ = nullptr;
    std::atomic<uint64_t> wakeups_{0};
    std::atomic<int> stopsWaiting_{0};
};

} // namespace mb
