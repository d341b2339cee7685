#pragma once

#include <cstdint>

#include "model/ByteStream.h"
#include "model/Relaxed.h"
#include "model/StepParam.h"

namespace mb {

// The six stored values of a step, held as T: the Step holds them Relaxed (the
// step-clock thread reads them while the window thread edits them), a setup record as
// plain values. The defaults are a step that plays sound 0 at the centre.
template <typename T> struct StepValuesOf {
    T on{1};
    T pitch{0};
    T sound{0};
    T volume{100};
    T pan{kCentrePan};
    T dValue{30};
};

// What describes one of a step's values wherever it is stored.
struct StepField {
    // The JSON key, which is also the member's name.
    const char* key;
    StepParam code;
    // Its place, counted in 16-bit values, in a setup file's step record (which holds
    // `on` last).
    int fileSlot;
    // Reads as 0 or 1 through GetParam; SetParam stores 1 for any non-zero value.
    bool flag = false;
};

// Calls visit(field, value...) for each stored value, with that member of every step
// given (a Step or StepValuesOf), in the order of their codes: the order of the
// clipboard record and of the JSON. This list and StepValuesOf are the only places that
// name the six values: the clipboard, the setup file, the record and the JSON all go
// through here.
template <typename Visit, typename... Steps>
constexpr void VisitStepValues(Visit&& visit, Steps&... steps) {
    visit(StepField{"on", kParamOn, 5, true}, steps.on...);
    visit(StepField{"pitch", kParamPitch, 0}, steps.pitch...);
    visit(StepField{"sound", kParamSound, 1}, steps.sound...);
    visit(StepField{"volume", kParamVolume, 2}, steps.volume...);
    visit(StepField{"pan", kParamPan, 3}, steps.pan...);
    visit(StepField{"dValue", kParamDValue, 4}, steps.dValue...);
}

inline constexpr int kStepValueCount = [] {
    int n = 0;
    StepValuesOf<int16_t> values;
    VisitStepValues([&n](const StepField&, int16_t) { ++n; }, values);
    return n;
}();

// One step of a loop: its six stored values, nothing else (what it plays is the sound
// engine's and the mixer's to know).
class Step : public StepValuesOf<Relaxed<int16_t>> {
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
    // Copies the six values and the condition; nothing when other is this step.
    void CopyValues(const Step& other);

    // The stored values as little-endian 16-bit values in VisitStepValues order (on,
    // pitch, sound, volume, pan, dValue; 12 bytes): the clipboard record.
    void WriteValues(ByteWriter& out) const;
    void ReadValues(ByteReader& in);

    static constexpr int kRecordBytes = 2 * kStepValueCount;

    // When the step plays, as a StepCondition code (0: always). Not one of the six values:
    // it is stored in the setup file's groove trailer and after the clipboard record.
    Relaxed<int16_t> condition{0};
};

} // namespace mb
