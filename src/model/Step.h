#pragma once

#include <cstdint>

#include "model/ByteStream.h"
#include "model/Relaxed.h"
#include "model/StepParam.h"

namespace mb {

// Run-time playback state of one step. Only the sound engine gives it meaning: `voice`
// holds the handle of the sound buffer the step's voice plays (0: none), never a
// pointer, so that the window thread can replace a sound while the step-clock thread
// plays it.
struct StepPlayback {
    Relaxed<uint32_t> voice{0};
    Relaxed<uint8_t> ready{0};

    void Clear() {
        voice = 0;
        ready = 0;
    }
};

// One step of a loop: six 16-bit values and the run-time voice. The values are read by
// the step-clock thread while the window thread edits them, hence Relaxed.
class Step {
public:
    Step() = default;
    Step(const Step&) = default;
    Step& operator=(const Step&) = default;
    virtual ~Step() = default;

    // The value for a StepParam code; `on` as 0 or 1; 0 for an unknown code.
    int GetParam(int code) const;
    // Code 10 stores 1 for any non-zero v; codes 20 to 60 store v truncated to 16 bits;
    // any other code does nothing.
    void SetParam(int code, int v);
    // Copies the six values and clears this step's playback state; nothing when
    // other is this step.
    void CopyValues(const Step& other);

    // Six little-endian 16-bit values in the order on, pitch, sound, volume, pan,
    // dValue (12 bytes): the clipboard record.
    void WriteValues(ByteWriter& out) const;
    void ReadValues(ByteReader& in);

    static constexpr int kRecordBytes = 12;

    Relaxed<int16_t> on{1};
    Relaxed<int16_t> pitch{0};
    Relaxed<int16_t> sound{0};
    Relaxed<int16_t> volume{100};
    Relaxed<int16_t> pan{kCentrePan};
    Relaxed<int16_t> dValue{30};
    StepPlayback playback;
};

} // namespace mb
