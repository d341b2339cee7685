#pragma once

#include <cmath>
#include <cstdint>

namespace mb {

// A moment on the step grid of one run of the step clock: `offsetMs` milliseconds after
// the run's origin. The mixer turns the origin into an output frame once per run and
// adds round(offsetMs x rate / 1000) frames to it, so steps are spaced on the output's own
// sample clock exactly as the tempo says, however the callbacks and the clocks jitter.
// A run of 0 is no grid: `originNs` alone is the moment (a command for "now").
struct GridTime {
    uint32_t run = 0;
    // CLOCK_MONOTONIC nanoseconds (the offline clock's when rendering) of the origin.
    int64_t originNs = 0;
    double offsetMs = 0.0;

    // The moment on the producers' clock.
    int64_t Ns() const { return originNs + std::llround(offsetMs * 1e6); }
    // Frames from the origin at `rate` frames per second.
    int64_t OffsetFrames(uint32_t rate) const {
        return std::llround(offsetMs * static_cast<double>(rate) / 1000.0);
    }
};

} // namespace mb
