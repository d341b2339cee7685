#pragma once

#include <cmath>

#include "engine/StepClock.h"

namespace mb::test {

// A step clock that only moves when the test says so. Its milliseconds map to
// "monotonic" nanoseconds one to one, so due times can be checked exactly.
class ManualClock : public StepClock {
public:
    void Configure(Callback callback, void* user) override {
        this->callback = callback;
        this->user = user;
    }
    void Start(int64_t deadlineNs) override {
        ++starts;
        deadline = deadlineNs;
    }
    void Stop() override {
        ++stops;
        deadline = kNoDeadline;
    }
    void Poke() override { ++pokes; }
    int64_t NowNs() const override { return now * 1000000 + extraNs; }
    int64_t ElapsedMs() const override { return now; }
    int64_t ToMonotonicNs(double clockMs) const override { return std::llround(clockMs * 1e6); }
    void SetUseCpuClock(bool flag) override { cpuClock = flag; }
    int64_t MinStepGapNs() const override { return minStepGapNs; }

    bool active() const { return deadline != kNoDeadline; }
    // Sets the time to the nanosecond.
    void SetNowNs(int64_t ns) {
        now = ns / 1000000;
        extraNs = ns % 1000000;
    }
    // Runs the callback the way the timer thread would (also before its deadline, as
    // after a poke), and keeps the deadline it returns.
    void Fire() {
        const int64_t next = callback(user);
        if (active())
            deadline = next;
    }

    int64_t now = 1000;
    // Nanoseconds after `now`'s millisecond.
    int64_t extraNs = 0;
    int64_t deadline = kNoDeadline;
    Callback callback = nullptr;
    void* user = nullptr;
    bool cpuClock = true;
    // As the real timer's.
    int64_t minStepGapNs = 1'000'000;
    int starts = 0;
    int stops = 0;
    int pokes = 0;
};

} // namespace mb::test
