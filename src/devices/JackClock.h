#pragma once

#include <cstdint>
#include <jack/jack.h>

#include "platform/Clocks.h"

namespace mb {

// How far CLOCK_MONOTONIC lies from JACK's own clock (jack_get_time, which reads
// CLOCK_MONOTONIC_RAW here), in nanoseconds: a JACK time plus this is a moment on the
// step clock's nanoseconds. Measured afresh at every call (the two clocks' rates differ
// while the system clock is slewed), the two read as close together as they can be: of
// a few tries, the one read in the shortest time, so that a thread held up between two
// reads does not move the moment it gives. Real-time safe.
inline int64_t JackToMonotonicNs() {
    constexpr int kTries = 3;
    int64_t best = 0;
    int64_t shortest = INT64_MAX;
    for (int i = 0; i < kTries; ++i) {
        const int64_t before = MonotonicNs();
        const jack_time_t jackUs = jack_get_time();
        const int64_t after = MonotonicNs();
        if (after - before < shortest) {
            shortest = after - before;
            best = (before + after) / 2 - static_cast<int64_t>(jackUs) * 1000;
        }
    }
    return best;
}

} // namespace mb
