#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace mb {

// A periodic callback on a dedicated thread, woken at absolute CLOCK_MONOTONIC
// deadlines (start + k x period), with real-time priority when the system grants it.
//
// Threads: Start and Stop may be called from any thread, including from inside the
// callback itself (to restart the event with a new origin). Called from another thread,
// Stop returns only once no callback is running, so after it the callback's data may be
// changed freely. Called from inside the callback, Stop and Start take effect when the
// callback returns: a restart gives exactly one next callback, one period after the
// restart; nothing is lost or doubled.
class PeriodicTimer {
public:
    using Callback = void (*)(void* user);

    PeriodicTimer() = default;
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;
    ~PeriodicTimer();

    // Stops any active event, then calls callback(user) every periodMs milliseconds
    // (at least 1), the first time one period from now.
    void Start(uint32_t periodMs, Callback callback, void* user);
    void Stop();
    bool IsActive() const;

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
    bool inCallback_ = false;
    uint64_t generation_ = 0;
    int64_t periodNs_ = 1000000;
    int64_t deadlineNs_ = 0;
    Callback callback_ = nullptr;
    void* user_ = nullptr;
};

} // namespace mb
