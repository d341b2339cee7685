#pragma once

#include <atomic>
#include <cstdint>

#include "engine/StepClock.h"
#include "platform/DeadlineTimer.h"

namespace mb {

// The step clock's timer: a callback on its own real-time thread at the deadlines it
// asks for (the thread sleeps in between, and while stopped it sleeps until started),
// and a millisecond clock read either from the processor's time-stamp counter (divided
// by a rate measured once at construction) or from CLOCK_MONOTONIC. The deadlines are
// always on CLOCK_MONOTONIC, so the clock setting never bends the step grid.
//
// Threads: constructed, configured and switched between clock sources on the window
// thread; NowNs, ElapsedMs, ToMonotonicNs and Poke on any thread; Start and Stop on the
// window thread (Stop also inside the callback; see DeadlineTimer).
class PrecisionTimer : public StepClock {
public:
    // Measures the time-stamp rate (about 100 ms, asleep).
    PrecisionTimer();
    // For tests and tools: the given time-stamp rate, no measurement.
    explicit PrecisionTimer(int32_t cpuTicksPerMs);
    ~PrecisionTimer() override;

    void Configure(Callback callback, void* user) override;
    void Start(int64_t deadlineNs) override;
    void Stop() override;
    void Poke() override;
    void Shutdown() override;
    int64_t NowNs() const override;
    int64_t ElapsedMs() const override;
    int64_t ToMonotonicNs(double clockMs) const override;
    // One millisecond: the thread takes at most a thousand steps a second.
    int64_t MinStepGapNs() const override { return kMinStepGapNs; }
    static constexpr int64_t kMinStepGapNs = 1'000'000;

    // Switches between the time-stamp counter (when the processor has one and its
    // rate is usable) and CLOCK_MONOTONIC. The reading stays continuous across the
    // switch.
    void SetUseCpuClock(bool flag) override;

    bool useCpuClock() const { return useCpuClock_.load(std::memory_order_relaxed); }
    bool hasTsc() const { return hasTsc_; }
    int32_t cpuTicksPerMs() const { return cpuTicksPerMs_; }
    bool active() const { return event_.IsActive(); }
    const DeadlineTimer& event() const { return event_; }

private:
    bool TscUsable() const { return hasTsc_ && cpuTicksPerMs_ > 0; }
    bool ReadsTsc() const { return TscUsable() && useCpuClock(); }
    // Unadjusted readings of each source, in milliseconds.
    double RawTscMs() const;
    double RawMonotonicMs() const;
    double PreciseMs(bool tsc) const;

    int32_t cpuTicksPerMs_ = 0;
    Callback callback_ = nullptr;
    void* userValue_ = nullptr;
    bool hasTsc_ = false;
    std::atomic<bool> useCpuClock_{true};

    // Offsets added to each source's reading so that switching sources keeps the
    // clock continuous. Written on the window thread before the switch is published.
    std::atomic<int64_t> tscOffsetMs_{0};
    std::atomic<int64_t> monotonicOffsetMs_{0};
    DeadlineTimer event_;
};

// Measures the time-stamp counter's ticks per millisecond, rounded to whole thousands:
// the counter is read before and after about 100 ms of sleep. 0 when the processor has
// no time-stamp counter.
int32_t MeasureCpuTicksPerMs();

// The rounding of the measurement: three successive roundings of q x 0.1 (a
// single-precision 0.1), then x 1000. 2 394 449 gives 2 395 000.
int32_t RoundTicksPerMs(int64_t q);

} // namespace mb
