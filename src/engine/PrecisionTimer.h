#pragma once

#include <atomic>
#include <cstdint>

#include "engine/StepClock.h"
#include "platform/PeriodicTimer.h"

namespace mb {

// The device range of the periodic event, in milliseconds.
struct TimerCaps {
    uint32_t wPeriodMin = 1;
    uint32_t wPeriodMax = 1000000;
};

// The step clock's timer: a 1 ms periodic callback on its own real-time thread, and a
// millisecond clock read either from the processor's time-stamp counter (divided by a
// rate measured once at construction) or from CLOCK_MONOTONIC.
//
// Threads: constructed, configured and switched between clock sources on the window
// thread; ElapsedMs and ToMonotonicNs on any thread; Start and Stop on the window
// thread or inside the callback (see PeriodicTimer).
class PrecisionTimer : public StepClock {
public:
    // Measures the time-stamp rate (about 100 ms).
    PrecisionTimer();
    // For tests and tools: the given device range and time-stamp rate, no measurement.
    PrecisionTimer(TimerCaps caps, int32_t cpuTicksPerMs);
    ~PrecisionTimer() override;

    void Configure(uint32_t periodMs, Callback callback, void* user) override;
    void Start() override;
    void Stop() override;
    int64_t ElapsedMs() const override;
    int64_t ToMonotonicNs(double clockMs) const override;

    // Switches between the time-stamp counter (when the processor has one and its
    // rate is usable) and CLOCK_MONOTONIC. The reading stays continuous across the
    // switch, so a running step clock neither jumps ahead nor stalls.
    void SetUseCpuClock(bool flag) override;

    bool useCpuClock() const { return useCpuClock_.load(std::memory_order_relaxed); }
    bool hasTsc() const { return hasTsc_; }
    int32_t cpuTicksPerMs() const { return cpuTicksPerMs_; }
    uint32_t beginPeriod() const { return beginPeriod_; }
    uint32_t eventPeriod() const { return eventPeriod_; }
    bool active() const { return active_.load(std::memory_order_relaxed); }

private:
    bool TscUsable() const { return hasTsc_ && cpuTicksPerMs_ > 0; }
    bool ReadsTsc() const { return TscUsable() && useCpuClock(); }
    // Unadjusted readings of each source, in milliseconds.
    double RawTscMs() const;
    double RawMonotonicMs() const;
    double PreciseMs(bool tsc) const;
    void Init(TimerCaps caps);

    std::atomic<uint32_t> eventId_{0};
    uint32_t beginPeriod_ = 1;
    int32_t cpuTicksPerMs_ = 0;
    Callback callback_ = nullptr;
    void* userValue_ = nullptr;
    std::atomic<bool> active_{false};
    TimerCaps caps_;
    uint32_t eventPeriod_ = 1;
    bool hasTsc_ = false;
    std::atomic<bool> useCpuClock_{true};
    int64_t perfFrequency_ = 1000000000;

    // Offsets added to each source's reading so that switching sources keeps the
    // clock continuous. Written on the window thread before the switch is published.
    std::atomic<int64_t> tscOffsetMs_{0};
    std::atomic<int64_t> monotonicOffsetMs_{0};
    PeriodicTimer event_;
};

// Measures the time-stamp counter's ticks per millisecond, rounded to whole thousands
// (about 100 ms of busy waiting). 0 when the processor has no time-stamp counter.
int32_t MeasureCpuTicksPerMs();

// The rounding of the measurement: three successive roundings of q x 0.1 (a
// single-precision 0.1), then x 1000. 2 394 449 gives 2 395 000.
int32_t RoundTicksPerMs(int64_t q);

} // namespace mb
