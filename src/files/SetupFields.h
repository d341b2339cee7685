#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "files/SetupFileFormat.h"
#include "files/SetupRecord.h"
#include "model/Setup.h"

namespace mb {

// What describes one stored field of a setup. The steps' six values are described by
// VisitStepValues (model/Step.h).
struct SetupField {
    // The JSON key; also the member's name in SetupRecord and in Setup or Loop.
    const char* key;
    // A field the window and the step clock index arrays with has a range: the reader
    // refuses a file that stores a value outside low to high, naming the field `what`,
    // and SetupRecord::ApplyTo brings the value into range all the same. Null: every
    // value is kept.
    const char* what = nullptr;
    int low = 0;
    int high = 0;
    // A field that not every version of the file stores: what a version 2.0 file reads
    // as it, and what the writer stores for a record that does not hold it.
    int16_t absent = 0;

    template <typename T> T Clamp(T value) const {
        if constexpr (std::is_integral_v<T>) {
            if (what != nullptr)
                return static_cast<T>(std::clamp<int64_t>(value, low, high));
        }
        return value;
    }
    bool InRange(int64_t value) const { return what == nullptr || (value >= low && value <= high); }
};

// The place of a field that the window holds, not the Setup: the colour and the window
// position, which a record keeps in its face.
struct InFace {};

// Each of the functions below calls visit(field, value, member) for every field of one
// part of a setup file, in file order: value is the field in the record r (a SetupRecord
// or SetupRecord::LoopValues, const or not), member the matching member pointer into
// Setup or Loop, or InFace. A file is the version, the fields before the loops, the
// eight loops (each its link fields and sixteen steps) and the fields after the loops.
// The file format, the record and the JSON walk these lists; nothing else names the
// fields.

template <typename Record, typename Visit> void VisitFieldsBeforeLoops(Record& r, Visit&& visit) {
    visit(SetupField{"tempoUnit"}, r.tempoUnit, &Setup::tempoUnit);
    visit(SetupField{"bpm"}, r.bpm, &Setup::bpm);
    visit(SetupField{"legacyA"}, r.legacyA, &Setup::legacyA);
    visit(SetupField{"legacyB"}, r.legacyB, &Setup::legacyB);
    visit(SetupField{"selectedLoop", "selected loop", 0, kLoopCount - 1}, r.selectedLoop,
          &Setup::selectedLoop);
    visit(SetupField{"muted"}, r.muted, &Setup::muted);
    visit(SetupField{"color"}, r.face.color, InFace{});
}

template <typename LoopRecord, typename Visit>
void VisitLoopLinkFields(LoopRecord& r, Visit&& visit) {
    visit(SetupField{"nextLoop", "next loop", 0, kLoopCount - 1}, r.nextLoop, &Loop::nextLoop);
    visit(SetupField{"repeatCount"}, r.repeatCount, &Loop::repeatCount);
}

template <typename Record, typename Visit> void VisitFieldsAfterLoops(Record& r, Visit&& visit) {
    visit(SetupField{"windowX"}, r.face.windowX, InFace{});
    visit(SetupField{"windowY"}, r.face.windowY, InFace{});
    visit(SetupField{"stepCount", "step count", 1, kMaxStepCount}, r.stepCount, &Setup::stepCount);
    visit(SetupField{"polyphonic"}, r.polyphonic, &Setup::polyphonic);
    visit(SetupField{.key = "masterVolume", .absent = SetupFileFormat::kDefaultMasterVolume},
          r.masterVolume, &Setup::masterVolume);
    visit(SetupField{.key = "eValue", .absent = SetupFileFormat::kDefaultEValue}, r.eValue,
          &Setup::eValue);
    visit(SetupField{"soundFolder"}, r.soundFolder, &Setup::soundFolder);
}

} // namespace mb
