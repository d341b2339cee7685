#pragma once

#include <cstdint>

namespace mb {

// What the sequencer needs from its timer: a periodic callback and a millisecond clock.
// PrecisionTimer is the real one; tests drive a manual one.
class StepClock {
public:
    using Callback = void (*)(void* user);

    virtual ~StepClock() = default;

    // Period in milliseconds (clamped to the device range) and the callback.
    virtual void Configure(uint32_t periodMs, Callback callback, void* user) = 0;
    // Kills any active event, then starts a new periodic one. Any thread, including
    // from inside the callback.
    virtual void Start() = 0;
    virtual void Stop() = 0;
    // Whole milliseconds since an arbitrary origin. Any thread.
    virtual int64_t ElapsedMs() const = 0;
    // The CLOCK_MONOTONIC time, in nanoseconds, of a moment given in this clock's
    // milliseconds (fractions allowed). The sound engine places sounds by it.
    virtual int64_t ToMonotonicNs(double clockMs) const = 0;
    // Chooses the processor's time-stamp counter (true) or the monotonic clock as the
    // time source. Window thread.
    virtual void SetUseCpuClock(bool flag) = 0;
};

} // namespace mb
