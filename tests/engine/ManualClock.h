#pragma once

#include <cmath>

#include "engine/StepClock.h"

namespace mb::test {

// A step clock that only moves when the test says so. Its milliseconds map to
// "monotonic" nanoseconds one to one, so due times can be checked exactly.
class ManualClock : public StepClock {
public:
    void Configure(uint32_t periodMs, Callback callback, void* user) override {
        configuredPeriod = periodMs;
        this->callback = callback;
        this->user = user;
    }
    void Start() override {
        active = false; // a start kills the previous event first
        ++starts;
        active = true;
    }
    void Stop() override {
        ++stops;
        active = false;
    }
    int64_t ElapsedMs() const override { return now; }
    int64_t ToMonotonicNs(double clockMs) const override { return std::llround(clockMs * 1e6); }
    void SetUseCpuClock(bool flag) override { cpuClock = flag; }

    // Fires the callback the way the periodic event would.
    void Fire() { callback(user); }

    int64_t now = 1000;
    uint32_t configuredPeriod = 0;
    Callback callback = nullptr;
    void* user = nullptr;
    bool active = false;
    bool cpuClock = true;
    int starts = 0;
    int stops = 0;
};

} // namespace mb::test
