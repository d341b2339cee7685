#include <gtest/gtest.h>

#include "model/Setup.h"

namespace mb {
namespace {

TEST(Setup, NewSetupHasEightSelfChainedLoopsPlayingSoundJOnStepJ) {
    mb::Setup setup;
    for (int i = 0; i < kLoopCount; ++i) {
        const Loop& loop = setup.loop(i);
        EXPECT_EQ(loop.nextLoop, i);
        EXPECT_EQ(loop.repeatCount, 1);
        for (int j = 0; j < kStepsPerLoop; ++j) {
            const Step& step = loop.steps[static_cast<size_t>(j)];
            EXPECT_EQ(step.on, 1);
            EXPECT_EQ(step.pitch, 0);
            EXPECT_EQ(step.sound, j);
            EXPECT_EQ(step.volume, 110);
            EXPECT_EQ(step.pan, 64);
            EXPECT_EQ(step.dValue, 64);
        }
    }
}

TEST(Setup, CopyAndUndoSlotsKeepTheLoopConstructorValues) {
    mb::Setup setup;
    for (int slot : {kCopyBufferSlot, kUndoBufferSlot}) {
        const Loop& loop = setup.loop(slot);
        EXPECT_EQ(loop.nextLoop, 0);
        EXPECT_EQ(loop.repeatCount, 1);
        for (const Step& step : loop.steps) {
            EXPECT_EQ(step.on, 1);
            EXPECT_EQ(step.pitch, 0);
            EXPECT_EQ(step.sound, 0);
            EXPECT_EQ(step.volume, 100);
            EXPECT_EQ(step.pan, 64);
            EXPECT_EQ(step.dValue, 30);
        }
    }
}

TEST(Setup, NewSetupScalarDefaults) {
    mb::Setup setup;
    EXPECT_EQ(setup.stepCount, 16);
    EXPECT_EQ(setup.legacyA, 0);
    EXPECT_EQ(setup.legacyB, 1);
    EXPECT_EQ(setup.stepIndex, 0);
    EXPECT_TRUE(setup.filePath.empty());
    EXPECT_EQ(setup.tempoUnit, 0);
    EXPECT_EQ(setup.bpm, 126.0);
    EXPECT_EQ(setup.selectedLoop, 0);
    EXPECT_EQ(setup.undoLoop, -1);
    EXPECT_EQ(setup.currentLoop, 0);
    EXPECT_EQ(setup.muted, 0);
    EXPECT_EQ(setup.polyphonic, 0);
    EXPECT_EQ(setup.modified, 0);
    EXPECT_EQ(setup.passCount, 0);
    EXPECT_EQ(setup.masterVolume, 80);
    EXPECT_EQ(setup.eValue, 0);
    EXPECT_EQ(setup.quickFade, 0);
    EXPECT_EQ(setup.highResTimer, 1);
    EXPECT_TRUE(setup.soundNames.empty());
}

TEST(Loop, MeasureRecordIsSixteenStepRecordsStepZeroFirst) {
    mb::Setup setup;
    ByteWriter out;
    setup.loop(0).WriteValues(out);
    ASSERT_EQ(out.bytes().size(), 192u);
    // Step 5's record starts at 60: on 1, pitch 0, sound 5.
    EXPECT_EQ(out.bytes()[60], 1);
    EXPECT_EQ(out.bytes()[64], 5);
    // The chain link is not part of it.
    setup.loop(0).nextLoop = 5;
    ByteWriter again;
    setup.loop(0).WriteValues(again);
    EXPECT_EQ(again.bytes(), out.bytes());
}

} // namespace
} // namespace mb
