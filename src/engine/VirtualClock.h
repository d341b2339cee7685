#pragma once

#include <cmath>
#include <cstdint>

#include "engine/StepClock.h"

namespace mb {

// A step clock whose time moves only when its owner moves it: offline rendering drives
// the sequencer with it, faster than real time. Its milliseconds are the owner's
// nanoseconds divided by a million. Single-threaded: the owner fires the callback itself.
class VirtualClock : public StepClock {
public:
    explicit VirtualClock(const int64_t& nowNs) : nowNs_(nowNs) {}

    void Configure(uint32_t /*periodMs*/, Callback callback, void* user) override {
        callback_ = callback;
        user_ = user;
    }
    void Start() override { active_ = true; }
    void Stop() override { active_ = false; }
    int64_t ElapsedMs() const override {
        const int64_t ms = nowNs_ / kNsPerMs;
        return nowNs_ < 0 && ms * kNsPerMs != nowNs_ ? ms - 1 : ms;
    }
    int64_t ToMonotonicNs(double clockMs) const override {
        return std::llround(clockMs * static_cast<double>(kNsPerMs));
    }
    void SetUseCpuClock(bool /*flag*/) override {}

    // Runs the periodic callback once, when the clock has been started.
    void Fire() {
        if (active_ && callback_ != nullptr)
            callback_(user_);
    }

private:
    static constexpr int64_t kNsPerMs = 1000000;
    const int64_t& nowNs_;
    Callback callback_ = nullptr;
    void* user_ = nullptr;
    bool active_ = false;
};

} // namespace mb
