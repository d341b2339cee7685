#pragma once

#include <cstdint>
#include <limits>

namespace mb {

// What the sequencer needs from its timer: a callback at deadlines that the callback
// itself chooses (the next due step), the clock those deadlines are on, and the
// millisecond clock of the timer setting. PrecisionTimer is the real one; offline
// rendering and tests drive their own.
class StepClock {
public:
    // Returns the next deadline on NowNs's clock, or kNoDeadline to stop.
    using Callback = int64_t (*)(void* user);
    static constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();

    virtual ~StepClock() = default;

    virtual void Configure(Callback callback, void* user) = 0;
    // Window thread: stops any schedule, then calls the callback at deadlineNs (at once
    // when it has passed) and from then on at each deadline it returns.
    virtual void Start(int64_t deadlineNs) = 0;
    // Window thread, or inside the callback. From the window thread it returns once no
    // callback is running, and none follows until the next Start.
    virtual void Stop() = 0;
    // Any thread: while started, the callback runs again as soon as possible.
    virtual void Poke() = 0;
    // Window thread, before the things the callback uses go away: stops the clock and
    // ends its thread.
    virtual void Shutdown() {}
    // Nanoseconds on the clock of the deadlines: CLOCK_MONOTONIC (the offline clock when
    // rendering). Any thread.
    virtual int64_t NowNs() const = 0;
    // Whole milliseconds since an arbitrary origin, read from the source the timer
    // setting picks. Any thread.
    virtual int64_t ElapsedMs() const = 0;
    // The NowNs time, in nanoseconds, of a moment given in ElapsedMs's milliseconds
    // (fractions allowed).
    virtual int64_t ToMonotonicNs(double clockMs) const = 0;
    // Chooses the processor's time-stamp counter (true) or the monotonic clock as the
    // source of ElapsedMs. Window thread.
    virtual void SetUseCpuClock(bool flag) = 0;
    // The least time between two callbacks that take a step: a real-time thread never
    // takes steps back to back, however fast they come. 0 for a clock whose time only
    // moves when its owner moves it (every step is then taken on its own time). Any
    // thread.
    virtual int64_t MinStepGapNs() const { return 0; }
};

} // namespace mb
