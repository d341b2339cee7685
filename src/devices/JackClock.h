#pragma once

#include <cstdint>
#include <jack/jack.h>

#include "platform/Clocks.h"

namespace mb {

// How far CLOCK_MONOTONIC lies from JACK's own clock (jack_get_time, which reads
// CLOCK_MONOTONIC_RAW here), in nanoseconds: a JACK time plus this is a moment on the
// step clock's nanoseconds. Measured afresh at every call (the two clocks' rates differ
// while the system clock is slewed), the two read as close together as they can be.
// Real-time safe.
inline int64_t JackToMonotonicNs() {
    const int64_t before = MonotonicNs();
    const jack_time_t jackUs = jack_get_time();
    const int64_t after = MonotonicNs();
    return (before + after) / 2 - static_cast<int64_t>(jackUs) * 1000;
}

} // namespace mb
