#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
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
// any thread. The timer's thread never takes a lock: the schedule is handed over through
// atomics, and the thread sleeps on a futex that Start, Stop and Poke wake. So a thread
// that starts, stops or pokes the timer never holds up the callback (only Stop waits,
// for a callback that is running).
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
    // Stops, then ends the thread; Start makes a new one. Not from inside the callback.
    void Shutdown();

    bool IsActive() const { return (state_.load(std::memory_order_acquire) & kActive) != 0; }
    // Times the thread woke up (from any wait), for tests and measurements.
    uint64_t wakeups() const { return wakeups_.load(std::memory_order_relaxed); }
    // Calls that are blocked in Stop waiting for a running callback (a test can wait
    // for the other thread to reach that point).
    int stopsWaiting() const { return stopsWaiting_.load(std::memory_order_acquire); }

private:
    // The schedule's state: a generation that every Start and Stop moves on, times two,
    // plus kActive while a schedule runs.
    static constexpr uint64_t kActive = 1;
    static constexpr uint64_t kGeneration = 2;

    void Run();
    // Moves the generation on, active or not, and wakes the thread.
    void NewSchedule(bool active);
    // Not on the timer's thread: waits until no callback is running.
    void WaitForCallback();
    void WakeThread();
    bool OnTimerThread() const;

    std::atomic<uint64_t> state_{0};
    // The schedule a Start hands over (written before state_ moves on).
    std::atomic<int64_t> startNs_{0};
    std::atomic<Callback> callback_{nullptr};
    std::atomic<void*> user_{nullptr};
    std::atomic<bool> poked_{false};
    std::atomic<bool> quit_{false};
    // Moves on at every wake-up asked for: the thread sleeps on it (a futex).
    std::atomic<uint32_t> wakeWord_{0};
    // 1 while the callback runs: a Stop from another thread sleeps on it (a futex).
    std::atomic<uint32_t> inCallback_{0};
    std::atomic<int> stopsWaiting_{0};
    std::atomic<uint64_t> wakeups_{0};
    // Started and joined by the controlling thread only.
    std::thread thread_;
    std::atomic<std::thread::id> workerId_{};
};

} // namespace mb
