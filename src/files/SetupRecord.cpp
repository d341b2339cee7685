#include "files/SetupRecord.h"

#include <algorithm>

#include "model/Setup.h"

namespace mb {

SetupRecord SetupRecord::FromSetup(const Setup& setup, const SetupFace& face) {
    SetupRecord r;
    r.version = setup.fileVersion;
    r.tempoUnit = setup.tempoUnit;
    r.bpm = setup.bpm;
    r.legacyA = setup.legacyA;
    r.legacyB = setup.legacyB;
    r.selectedLoop = setup.selectedLoop;
    r.muted = setup.muted;
    r.face = face;
    for (int i = 0; i < kLoopCount; ++i) {
        const Loop& loop = setup.loop(i);
        LoopValues& out = r.loops[static_cast<size_t>(i)];
        out.nextLoop = loop.nextLoop;
        out.repeatCount = loop.repeatCount;
        for (size_t j = 0; j < out.steps.size(); ++j) {
            const Step& s = loop.steps[j];
            out.steps[j] = {s.on, s.pitch, s.sound, s.volume, s.pan, s.dValue};
        }
    }
    r.stepCount = setup.stepCount;
    r.polyphonic = setup.polyphonic;
    r.masterVolume = setup.masterVolume;
    r.eValue = setup.eValue;
    r.soundFolder = setup.soundFolder;
    return r;
}

namespace {

int16_t LoopIndex(int16_t v) {
    return static_cast<int16_t>(std::clamp<int>(v, 0, kLoopCount - 1));
}

} // namespace

void SetupRecord::ApplyTo(Setup& setup) const {
    setup.fileVersion = version;
    setup.tempoUnit = tempoUnit;
    setup.bpm = bpm;
    setup.legacyA = legacyA;
    setup.legacyB = legacyB;
    setup.selectedLoop = LoopIndex(selectedLoop);
    setup.muted = muted;
    for (int i = 0; i < kLoopCount; ++i) {
        Loop& loop = setup.loop(i);
        const LoopValues& in = loops[static_cast<size_t>(i)];
        loop.nextLoop = LoopIndex(in.nextLoop);
        loop.repeatCount = in.repeatCount;
        for (size_t j = 0; j < in.steps.size(); ++j) {
            Step& s = loop.steps[j];
            const StepValues& v = in.steps[j];
            s.on = v.on;
            s.pitch = v.pitch;
            s.sound = v.sound;
            s.volume = v.volume;
            s.pan = v.pan;
            s.dValue = v.dValue;
        }
    }
    setup.stepCount = std::clamp<int32_t>(stepCount, 1, kMaxStepCount);
    setup.polyphonic = polyphonic;
    if (masterVolume)
        setup.masterVolume = *masterVolume;
    if (eValue)
        setup.eValue = *eValue;
    if (soundFolder)
        setup.soundFolder = *soundFolder;
}

} // namespace mb
