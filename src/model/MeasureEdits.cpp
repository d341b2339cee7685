#include "model/MeasureEdits.h"

#include "model/Groove.h"

#include <algorithm>
#include <array>
#include <utility>

namespace mb {

namespace {

Loop& SelectedLoop(Setup& setup) {
    int n = setup.selectedLoop;
    return setup.loop(std::clamp(n, 0, kLoopCount - 1));
}

int Draw(const RandomSource& random, int m) {
    if (m <= 0)
        return 0;
    return random() % m;
}

} // namespace

void CopySteps(Loop& to, const Loop& from) {
    for (size_t i = 0; i < kStepsPerLoop; ++i)
        to.steps[i].CopyValues(from.steps[i]);
}

void FillStagingLoops(Setup& setup) {
    CopySteps(setup.copyBuffer(), SelectedLoop(setup));
    CopySteps(setup.undoBuffer(), SelectedLoop(setup));
}

void TakeUndoSnapshot(Setup& setup) {
    CopySteps(setup.undoBuffer(), SelectedLoop(setup));
    setup.undoBpm = setup.bpm;
    setup.undoMasterVolume = setup.masterVolume;
    setup.undoEValue = setup.eValue;
    setup.undoMuted = setup.muted;
    for (int i = 0; i < kLoopCount; ++i)
        setup.undoSwing[static_cast<size_t>(i)] = setup.loop(i).swing;
    setup.undoDDial = setup.dDial;
    setup.undoEDial = setup.eDial;
    setup.undoLoop = setup.selectedLoop;
    setup.modified = 1;
}

bool ExchangeWithUndo(Setup& setup) {
    if (setup.undoLoop < 0)
        return false;
    bool exchanged = false;
    if (setup.undoLoop == setup.selectedLoop) {
        Loop& selected = SelectedLoop(setup);
        Loop& undo = setup.undoBuffer();
        for (int i = 0; i < kStepsPerLoop; ++i) {
            const auto k = static_cast<size_t>(i);
            Step temporary;
            temporary.CopyValues(undo.steps[k]);
            undo.steps[k].CopyValues(selected.steps[k]);
            selected.steps[k].CopyValues(temporary);
        }
        exchanged = true;
    }
    const double bpm = setup.bpm;
    const int32_t masterVolume = setup.masterVolume;
    const int32_t eValue = setup.eValue;
    const int32_t muted = setup.muted;
    setup.bpm = setup.undoBpm;
    setup.masterVolume = static_cast<int16_t>(setup.undoMasterVolume);
    setup.eValue = static_cast<int16_t>(setup.undoEValue);
    setup.muted = setup.undoMuted;
    setup.undoBpm = bpm;
    setup.undoMasterVolume = masterVolume;
    setup.undoEValue = eValue;
    setup.undoMuted = muted;
    for (int i = 0; i < kLoopCount; ++i) {
        const int16_t swing = setup.loop(i).swing;
        setup.loop(i).swing = setup.undoSwing[static_cast<size_t>(i)];
        setup.undoSwing[static_cast<size_t>(i)] = swing;
    }
    const int16_t dDial = setup.dDial;
    const int16_t eDial = setup.eDial;
    setup.dDial = setup.undoDDial;
    setup.eDial = setup.undoEDial;
    setup.undoDDial = dDial;
    setup.undoEDial = eDial;
    return exchanged;
}

void ShiftSteps(Setup& setup, bool right) {
    Loop& l = SelectedLoop(setup);
    const int n = std::clamp(static_cast<int>(setup.stepCount), 1, kStepsPerLoop);
    auto step = [&l](int j) -> Step& { return l.steps[static_cast<size_t>(j)]; };
    Step temporary;
    if (right) {
        temporary.CopyValues(step(n - 1));
        for (int j = n - 1; j >= 1; --j)
            step(j).CopyValues(step(j - 1));
        step(0).CopyValues(temporary);
    } else {
        temporary.CopyValues(step(0));
        for (int j = 0; j <= n - 2; ++j)
            step(j).CopyValues(step(j + 1));
        step(n - 1).CopyValues(temporary);
    }
}

void RandomizeSteps(Setup& setup, int soundCount, const RandomSource& random) {
    Loop& l = SelectedLoop(setup);
    for (Step& s : l.steps) {
        s.pitch = static_cast<int16_t>(Draw(random, 128) - 60);
        s.sound = static_cast<int16_t>(Draw(random, soundCount));
        s.volume = static_cast<int16_t>(Draw(random, 128));
        s.pan = static_cast<int16_t>(Draw(random, 128));
        s.dValue = static_cast<int16_t>(Draw(random, 128));
    }
}

std::vector<uint8_t> EncodeMeasure(const Loop& loop) {
    ByteWriter out;
    loop.WriteValues(out);
    for (const Step& step : loop.steps)
        out.I16(step.condition);
    return out.Take();
}

bool DecodeMeasure(std::span<const uint8_t> block, Loop& loop) {
    if (block.size() < static_cast<size_t>(Loop::kRecordBytes))
        return false;
    ByteReader in(block.first(Loop::kRecordBytes));
    loop.ReadValues(in);
    // The conditions follow when the block is whole; a block without them (or with any
    // that is not a condition) pastes steps that always play.
    const std::span<const uint8_t> rest = block.subspan(Loop::kRecordBytes);
    std::array<int16_t, kStepsPerLoop> conditions{};
    if (rest.size() >= conditions.size() * 2) {
        ByteReader tail(rest.first(conditions.size() * 2));
        for (int16_t& c : conditions)
            c = tail.I16();
        if (!std::all_of(conditions.begin(), conditions.end(), StepCondition::ValidCode))
            conditions.fill(0);
    }
    for (size_t i = 0; i < conditions.size(); ++i)
        loop.steps[i].condition = conditions[i];
    return true;
}

} // namespace mb
