#pragma once

#include <cstdint>

#include "audio/GridTime.h"

namespace mb {

class SoundData;

// One instruction for the mixer, as it travels from a producing thread to the audio
// thread: a plain struct, copied through a lock-free queue.
struct MixerCommand {
    enum Kind : uint8_t {
        kAddSound,    // sound slot `sound` plays `data` from now on (applied when received)
        kRemoveSound, // the slot's voices stop and it lets go of its data (when received)
        kEndRun,      // run `at.run` and those before it have ended: what waits of them goes
        kTrigger,     // voice `voice` restarts sound `sound` at `hz`, `volume` and `pan`
        kStop,        // voice `voice` stops
        kSetVolume,   // voice `voice` takes `volume`
        kStopAll,     // every voice stops
        kStepSilent,  // a step that is on but starts no sound (see `step`)
    };
    // What a command from the step clock says about the voice started last: a step that
    // is on (kTrigger or kStepSilent) is the last started from its frame on, and one that
    // cuts stops the voice started before it first, on the same frame.
    enum StepRole : uint8_t {
        kNoStep,      // not a step: the last started voice stays as it is
        kStep,        // a step that lets the sound before it ring on
        kStepCutsLast // a step that stops the sound started before it
    };

    Kind kind = kTrigger;
    StepRole step = kNoStep;
    uint16_t voice = 0;
    uint16_t sound = 0;
    // The sound's generation: a trigger for an older sound of the same slot is dropped.
    uint32_t generation = 0;
    // Playback frequency in hertz (its ratio to the output rate is the speed).
    int32_t hz = 0;
    // Hundredths of a decibel, -10000 (silence) to 0.
    int32_t volume = 0;
    // -10000 (left) to 10000 (right): the other channel loses |pan| hundredths of a dB.
    int32_t pan = 0;
    // When the command takes effect: a place on a run's grid, or a plain time.
    GridTime at;
    // kAddSound only. Stays valid until the window thread sees the removal acknowledged.
    const SoundData* data = nullptr;
};

} // namespace mb
