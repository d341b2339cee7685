#pragma once

#include <cmath>
#include <cstdint>

namespace mb {

// A moment on the step grid of one run of the step clock: `offsetMs` milliseconds after
// the run's origin. The mixer turns the origin into an output frame once per run and
// adds round(offsetMs x rate / 1000) frames to it, so steps are spaced on the output's own
// sample clock exactly as the tempo says, however the callbacks and the clocks jitter.
// A run of 0 is no grid: `originNs` alone is the moment (a command for "now").
//
// A run that follows a clock outside the program by its times (a MIDI clock) has its
// steps' moments from that clock, read on the producers' clock through the same mapping
// the output's blocks are timed by; spaced at the nominal rate they would creep by as
// much as the two clocks' rates differ. Such a run is `byTime`: each of its steps sounds
// on the frame its own moment maps to.
struct GridTime {
    uint32_t run = 0;
    // CLOCK_MONOTONIC nanoseconds (the offline clock's when rendering) of the origin.
    int64_t originNs = 0;
    double offsetMs = 0.0;
    bool byTime = false;

    // The moment on the producers' clock.
    int64_t Ns() const { return originNs + std::llround(offsetMs * 1e6); }
    // Frames from the origin at `rate` frames per second.
    int64_t OffsetFrames(uint32_t rate) const {
        return std::llround(offsetMs * static_cast<double>(rate) / 1000.0);
    }
};

} // namespace mb
