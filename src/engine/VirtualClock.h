#pragma once

#include <climits>
#include <cmath>
#include <cstdint>

#include "engine/StepClock.h"

namespace mb {

// A step clock whose time moves only when its owner moves it: offline rendering drives
// the sequencer with it, faster than real time, jumping from one deadline to the next.
// Its milliseconds are the owner's nanoseconds divided by a million. Single-threaded: the
// owner fires the callback itself.
class VirtualClock : public StepClock {
public:
    explicit VirtualClock(const int64_t& nowNs) : nowNs_(nowNs) {}

    void Configure(Callback callback, void* user) override {
        callback_ = callback;
        user_ = user;
    }
    void Start(int64_t deadlineNs) override { deadlineNs_ = deadlineNs; }
    void Stop() override { deadlineNs_ = kNoDeadline; }
    void Poke() override {
        if (deadlineNs_ != kNoDeadline)
            deadlineNs_ = nowNs_;
    }
    int64_t NowNs() const override { return nowNs_; }
    int64_t ElapsedMs() const override {
        const int64_t ms = nowNs_ / kNsPerMs;
        return nowNs_ < 0 && ms * kNsPerMs != nowNs_ ? ms - 1 : ms;
    }
    int64_t ToMonotonicNs(double clockMs) const override {
        return std::llround(clockMs * static_cast<double>(kNsPerMs));
    }
    void SetUseCpuClock(bool /*flag*/) override {}

    // The next deadline, kNoDeadline when stopped.
    int64_t deadline() const { return deadlineNs_; }
    // Runs the callback for every deadline up to `untilNs`, at most maxCalls times (the
    // owner's time is then at each deadline in turn while it runs).
    template <typename SetTime>
    void RunUntil(int64_t untilNs, SetTime setTime, int maxCalls = INT_MAX) {
        for (int calls = 0;
             calls < maxCalls && deadlineNs_ != kNoDeadline && deadlineNs_ <= untilNs; ++calls) {
            setTime(deadlineNs_);
            const int64_t next = callback_(user_);
            if (deadlineNs_ != kNoDeadline)
                deadlineNs_ = next;
        }
    }

private:
    static constexpr int64_t kNsPerMs = 1000000;
    const int64_t& nowNs_;
    Callback callback_ = nullptr;
    void* user_ = nullptr;
    int64_t deadlineNs_ = kNoDeadline;
};

} // namespace mb
