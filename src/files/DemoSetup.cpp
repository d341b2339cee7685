#include "files/DemoSetup.h"

#include <array>

#include "model/Setup.h"

namespace mb {

namespace {

constexpr double kDemoBpm = 118.0;
constexpr int16_t kDemoMasterVolume = 85;
constexpr uint32_t kDemoColor = 0x00A07848; // 0x00BBGGRR: a steel blue
constexpr int32_t kDemoWindowX = 120;
constexpr int32_t kDemoWindowY = 120;
constexpr int kRest = -1;

struct Hit {
    int sound; // kRest: the step is off
    int pitch;
    int volume;
    int pan;
};

constexpr Hit R{kRest, 0, 0, 64};

using Pattern = std::array<Hit, kStepsPerLoop>;

// The main beat: kick on the quarters with a pushed kick before the last, snare and
// clap backbeat, hats panned apart with an accent on the off-beats.
constexpr Pattern kMain = {{
    {DemoSetup::kKick, 0, 124, 64},
    {DemoSetup::kClosedHat, 0, 70, 40},
    {DemoSetup::kClosedHat, 0, 100, 88},
    {DemoSetup::kClosedHat, 2, 60, 40},
    {DemoSetup::kSnare, 0, 118, 60},
    {DemoSetup::kClosedHat, 0, 72, 88},
    {DemoSetup::kKick, 0, 96, 64},
    {DemoSetup::kClosedHat, 0, 98, 40},
    {DemoSetup::kKick, 0, 120, 64},
    {DemoSetup::kClosedHat, 0, 66, 88},
    {DemoSetup::kKick, -2, 90, 64},
    {DemoSetup::kClosedHat, 0, 96, 40},
    {DemoSetup::kClap, 0, 116, 70},
    {DemoSetup::kClosedHat, 0, 70, 88},
    {DemoSetup::kOpenHat, 0, 92, 76},
    {DemoSetup::kRim, 5, 80, 30},
}};

// The fill: toms falling from right to left, a doubled snare and an open hat.
constexpr Pattern kFill = {{
    {DemoSetup::kKick, 0, 124, 64},
    {DemoSetup::kClosedHat, 0, 70, 40},
    {DemoSetup::kClosedHat, 0, 98, 88},
    {DemoSetup::kKick, 0, 100, 64},
    {DemoSetup::kSnare, 0, 118, 60},
    {DemoSetup::kClosedHat, 0, 72, 88},
    {DemoSetup::kKick, 0, 104, 64},
    {DemoSetup::kRim, 7, 84, 100},
    {DemoSetup::kHighTom, 0, 110, 104},
    {DemoSetup::kHighTom, -3, 104, 90},
    {DemoSetup::kMidTom, 0, 110, 70},
    {DemoSetup::kMidTom, -2, 106, 56},
    {DemoSetup::kLowTom, 0, 114, 36},
    {DemoSetup::kSnare, 2, 96, 60},
    {DemoSetup::kSnare, 4, 110, 60},
    {DemoSetup::kOpenHat, 0, 100, 64},
}};

// The break: a cowbell line climbing over a sparse kick and clap.
constexpr Pattern kBreak = {{
    {DemoSetup::kKick, 0, 124, 64},
    R,
    {DemoSetup::kCowbell, 0, 96, 84},
    R,
    {DemoSetup::kClap, 0, 110, 50},
    {DemoSetup::kCowbell, 3, 90, 78},
    {DemoSetup::kKick, 0, 104, 64},
    {DemoSetup::kCowbell, 5, 92, 72},
    {DemoSetup::kKick, 0, 118, 64},
    R,
    {DemoSetup::kCowbell, 7, 98, 66},
    {DemoSetup::kClosedHat, 0, 80, 100},
    {DemoSetup::kClap, 0, 112, 78},
    {DemoSetup::kCowbell, 5, 90, 60},
    {DemoSetup::kOpenHat, -2, 94, 28},
    {DemoSetup::kClosedHat, 0, 76, 100},
}};

struct Link {
    const Pattern* pattern;
    int16_t nextLoop;
    int16_t repeatCount;
};

// Main x3 -> fill -> break x2 -> main.
constexpr std::array<Link, 3> kChain = {{
    {&kMain, 1, 3},
    {&kFill, 2, 1},
    {&kBreak, 0, 2},
}};

} // namespace

void DemoSetup::Build(Setup& setup, const std::string& soundFolder) {
    for (size_t i = 0; i < kChain.size(); ++i) {
        Loop& loop = setup.loop(static_cast<int>(i));
        loop.nextLoop = kChain[i].nextLoop;
        loop.repeatCount = kChain[i].repeatCount;
        const Pattern& pattern = *kChain[i].pattern;
        for (size_t j = 0; j < pattern.size(); ++j) {
            Step& step = loop.steps[j];
            const Hit& hit = pattern[j];
            step.on = hit.sound == kRest ? 0 : 1;
            step.sound = static_cast<int16_t>(hit.sound == kRest ? kKick : hit.sound);
            step.pitch = static_cast<int16_t>(hit.pitch);
            step.volume = static_cast<int16_t>(hit.sound == kRest ? 100 : hit.volume);
            step.pan = static_cast<int16_t>(hit.pan);
        }
    }
    setup.bpm = kDemoBpm;
    setup.polyphonic = 1;
    setup.masterVolume = kDemoMasterVolume;
    setup.stepCount = kMaxStepCount;
    setup.selectedLoop = 0;
    setup.soundFolder = soundFolder;
}

SetupFace DemoSetup::Face() {
    return {kDemoColor, kDemoWindowX, kDemoWindowY};
}

} // namespace mb
