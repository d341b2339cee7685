#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/Groove.h"
#include "model/Loop.h"

namespace mb {

class Setup;

// The colour and window position a setup file stores with the setup; they belong to
// the window, not to the Setup.
struct SetupFace {
    // The colour scheme's colour 5, 0x00BBGGRR.
    uint32_t color = 0;
    // Left and top edge of the main window, screen pixels.
    int32_t windowX = 0;
    int32_t windowY = 0;
};

// Everything one setup file holds, as plain values. A file is read completely into a
// record before anything of the open setup changes, so that a damaged file changes
// nothing. SetupFields.h lists the fields for everything that walks them; a new field
// is a member here, in Setup, and one line there.
struct SetupRecord {
    using StepValues = StepValuesOf<int16_t>;
    struct LoopValues {
        int16_t nextLoop = 0;
        int16_t repeatCount = 1;
        std::array<StepValues, kStepsPerLoop> steps;
        // The groove, stored after the sound folder: percent, and each step's
        // StepCondition code.
        int16_t swing = kStraightSwing;
        std::array<int16_t, kStepsPerLoop> conditions{};
    };

    float version = 0.0f;
    int16_t tempoUnit = 0;
    double bpm = 126.0;
    int32_t legacyA = 0;
    int16_t legacyB = 1;
    int16_t selectedLoop = 0;
    int32_t muted = 0;
    std::array<LoopValues, kLoopCount> loops;
    SetupFace face;
    int32_t stepCount = 16;
    int32_t polyphonic = 0;
    // Absent in files older than 2.0: the open setup keeps its values.
    std::optional<int16_t> masterVolume;
    std::optional<int16_t> eValue;
    // Absent in files older than 9001.0: the open setup keeps its sound folder.
    std::optional<std::string> soundFolder;
    // The groove, stored after the sound folder and only where it differs from these
    // values, which a file without it opens with: DDial and EDial values, the seed, and
    // the stored chunks this version does not know (whole: tag, length and content).
    int16_t dDial = 0;
    int16_t eDial = 0;
    uint32_t seed = 0;
    std::vector<std::vector<uint8_t>> keptChunks;

    // The stored fields of setup, with the window's colour and position.
    static SetupRecord FromSetup(const Setup& setup, const SetupFace& face);

    // Overwrites the stored fields of setup with this record; fields the file did not
    // hold stay, except the groove, which the record always holds. The reader refuses a file whose
    // loop indexes or step count are out of range and mends its tempo; the indexes are brought into
    // 0 to 7 and stepCount into 1 to 16 here all the same, because the window and the step clock
    // index arrays with them. Every other value is kept as read.
    void ApplyTo(Setup& setup) const;
};

} // namespace mb
