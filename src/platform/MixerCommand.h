#pragma once

#include <cstdint>

namespace mb {

class SoundData;

// One instruction for a voice of the mixer, as it travels from a producing thread to the
// audio thread: a plain struct, copied through a lock-free queue.
struct MixerCommand {
    enum Kind : uint8_t {
        kAttach,       // the slot becomes a voice on `data` (applied as soon as received)
        kRelease,      // the slot stops and lets go of its data (applied as soon as received)
        kSetPosition,  // value: frame
        kSetFrequency, // value: hertz
        kSetPan,       // value: -10000 (left) to 10000 (right)
        kSetVolume,    // value: hundredths of a decibel, -10000 to 0
        kPlay,
        kStop,
    };

    Kind kind = kPlay;
    uint16_t slot = 0;
    // The voice's generation: a command for an older voice of the same slot is dropped.
    uint32_t generation = 0;
    // CLOCK_MONOTONIC nanoseconds (or the offline clock's) at which the command takes
    // effect; the mixer places it on the matching output frame.
    int64_t when = 0;
    int64_t value = 0;
    // kAttach only. Stays valid until the window thread sees the release acknowledged.
    const SoundData* data = nullptr;
};

} // namespace mb
