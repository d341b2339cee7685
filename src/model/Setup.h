#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/Loop.h"
#include "model/Tempo.h"

namespace mb {

inline constexpr int kCopyBufferSlot = 8;
inline constexpr int kUndoBufferSlot = 9;
inline constexpr int kLoopSlots = 10;
inline constexpr int kMaxStepCount = 16;
// The values of tempoUnit: the tempo shown in samples per measure, or in beats per minute.
inline constexpr int kTempoUnitSamples = 1;
inline constexpr int kTempoUnitBpm = 0;

// The document: everything a user arranges and everything a setup file stores. There
// is one Setup for the whole run; opening a file overwrites its fields in place.
//
// Threads: the window thread owns every field. The step-clock thread reads bpm,
// stepCount, polyphonic, muted, masterVolume, the steps and the loop links, and writes
// stepIndex, currentLoop and passCount; those fields are Relaxed. Strings and the
// sound list are touched by the window thread only.
class Setup {
public:
    Setup();
    Setup(const Setup&) = delete;
    Setup& operator=(const Setup&) = delete;
    virtual ~Setup() = default;

    Loop& loop(int i) { return loops[static_cast<size_t>(i)]; }
    const Loop& loop(int i) const { return loops[static_cast<size_t>(i)]; }
    Loop& copyBuffer() { return loops[kCopyBufferSlot]; }
    Loop& undoBuffer() { return loops[kUndoBufferSlot]; }

    // Steps per pass (1 to 16), the same for all loops.
    Relaxed<int32_t> stepCount{16};
    // Carried through the setup file unchanged.
    int32_t legacyA = 0;
    int16_t legacyB = 1;
    // Next step to play in currentLoop.
    Relaxed<int16_t> stepIndex{0};
    std::string caption;
    // Full path of the setup file (UTF-8); empty while untitled.
    std::string filePath;
    // Format version read from the last opened file.
    float fileVersion = 0.0f;
    // kTempoUnitSamples: the tempo field shows samples per measure; anything else: beats
    // per minute.
    int16_t tempoUnit = 0;
    // Beats per minute, kMinBpm to kMaxBpm: every tempo that comes in passes MendTempo.
    Relaxed<double> bpm{kDefaultBpm};
    // Loop shown in the columns and edited (0 to 7).
    Relaxed<int16_t> selectedLoop{0};
    // Loop whose steps undoBuffer holds; -1: none.
    int16_t undoLoop = -1;
    // Loop being played (0 to 7).
    Relaxed<int16_t> currentLoop{0};
    // While set, every step plays silenced.
    Relaxed<int32_t> muted{0};
    // 0: each sounding step silences the previous one.
    Relaxed<int32_t> polyphonic{0};
    // Slots 0 to 7 are the loops, slot 8 the copy buffer, slot 9 the undo buffer.
    std::array<Loop, kLoopSlots> loops;
    // Global values saved by the undo snapshot; meaningful once undoLoop is not -1.
    int32_t undoMasterVolume = 80;
    int32_t undoEValue = 0;
    int32_t undoMuted = 0;
    double undoBpm = kDefaultBpm;
    std::array<int16_t, kLoopCount> undoSwing{50, 50, 50, 50, 50, 50, 50, 50};
    int16_t undoDDial = 0;
    int16_t undoEDial = 0;
    // Unsaved changes exist.
    uint8_t modified = 0;
    // Passes of currentLoop begun since it became current.
    Relaxed<int16_t> passCount{0};
    // Master volume 0 to 100 (slider M).
    Relaxed<int16_t> masterVolume{80};
    // Value of slider E; stored and restored by Undo; played as eDial says.
    Relaxed<int16_t> eValue{0};
    // What the steps' D values and the E value play (DDial, EDial).
    Relaxed<int16_t> dDial{0};
    Relaxed<int16_t> eDial{0};
    // Where the chance outcomes of a run come from.
    Relaxed<uint32_t> seed{0};
    // Chunks of a setup file's groove trailer that this version does not know, as read
    // (tag, length and content), written back unchanged on save.
    std::vector<std::vector<uint8_t>> keptChunks;
    std::string soundFolderTitle;
    std::string soundFolder;
    uint8_t quickFade = 0;
    // Use the processor's time-stamp clock for the step clock.
    uint8_t highResTimer = 1;
    // File names of the sounds in the sound folder; index = sound index.
    std::vector<std::string> soundNames;
};

} // namespace mb
