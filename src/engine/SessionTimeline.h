#pragma once

#include <cstdint>

namespace mb {

// A beat timeline shared with other programs (a network session), as the step clock
// follows it. While the session is on, every run starts on one of its bars and step n of
// the run is due when the timeline reaches n quarter beats after that bar, so that the
// steps are heard in phase with the other programs whatever the tempo does meanwhile.
// Times are on the step clock's nanoseconds (CLOCK_MONOTONIC), already moved earlier by
// the output's latency: a step sent at its due time is heard on the session's beat.
//
// Threads: StepDueNs runs on the step-clock thread only; everything else on the window
// thread.
class SessionTimeline {
public:
    virtual ~SessionTimeline() = default;

    // Whether starts and stops follow the session now.
    virtual bool IsOn() const = 0;
    // Places a new run on the first bar whose step 0 is due at or after earliestNs, asks
    // the session's other programs to start with it when `announce`, and returns when
    // that step 0 is due.
    virtual int64_t BeginRun(int64_t earliestNs, bool announce) = 0;
    // Playback stopped here: the other programs are asked to stop when `announce`.
    virtual void EndRun(bool announce) = 0;
    // When step n (0: the first) of the run begun last is due. Step-clock thread.
    virtual int64_t StepDueNs(int64_t n) = 0;
    // Where the run begun last starts on the timeline's own grid of steps (quarter beats
    // counted from its beginning: a transport's bar 1, a song position of 0): the loop
    // chain plays on from where it would be had it played from there. -1: the run starts
    // at the start of the selected loop.
    virtual int64_t RunStartsAtStep() const { return -1; }
    // Whether each step's moment is the timeline's own, read on the producers' clock
    // through the output's mapping, rather than a place on the output's grid: its steps
    // are then placed by time (see GridTime::byTime).
    virtual bool StepsByTime() const { return false; }
};

} // namespace mb
