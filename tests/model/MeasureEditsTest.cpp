#include <gtest/gtest.h>

#include <vector>

#include "model/Groove.h"
#include "model/MeasureEdits.h"

namespace mb {
namespace {

// Marks step j of a loop with a recognisable pitch, so rotations can be read off.
void Label(Loop& loop) {
    for (int j = 0; j < kStepsPerLoop; ++j)
        loop.steps[static_cast<size_t>(j)].pitch = static_cast<int16_t>(100 + j);
}

std::vector<int> Pitches(const Loop& loop) {
    std::vector<int> out;
    for (const Step& s : loop.steps)
        out.push_back(s.pitch);
    return out;
}

TEST(MeasureEdits, TwoUndosReturnStepsAndGlobalsToWhereTheyWere) {
    mb::Setup setup;
    setup.selectedLoop = 2;
    setup.loop(2).steps[3].volume = 50;
    TakeUndoSnapshot(setup);
    EXPECT_EQ(setup.undoLoop, 2);
    EXPECT_EQ(setup.modified, 1);

    // The edit after the snapshot, groove included (the swing of a loop not selected too).
    setup.loop(2).steps[3].volume = 120;
    setup.loop(2).steps[3].condition = StepCondition{StepCondition::kLast}.Code();
    setup.loop(6).swing = 66;
    setup.dDial = static_cast<int16_t>(DDial::kRepeats);
    setup.bpm = 90.0;
    setup.masterVolume = 30;
    setup.eValue = 7;
    setup.muted = 1;

    EXPECT_TRUE(ExchangeWithUndo(setup));
    EXPECT_EQ(setup.loop(2).steps[3].volume, 50);
    EXPECT_EQ(setup.loop(2).steps[3].condition, 0);
    EXPECT_EQ(setup.loop(6).swing, 50);
    EXPECT_EQ(setup.dDial, 0);
    EXPECT_EQ(setup.bpm, 126.0);
    EXPECT_EQ(setup.masterVolume, 80);
    EXPECT_EQ(setup.eValue, 0);
    EXPECT_EQ(setup.muted, 0);

    EXPECT_TRUE(ExchangeWithUndo(setup));
    EXPECT_EQ(setup.loop(2).steps[3].volume, 120);
    EXPECT_EQ(setup.loop(6).swing, 66);
    EXPECT_EQ(setup.loop(2).steps[3].condition, StepCondition::kLast);
    EXPECT_EQ(setup.bpm, 90.0);
    EXPECT_EQ(setup.masterVolume, 30);
    EXPECT_EQ(setup.eValue, 7);
    EXPECT_EQ(setup.muted, 1);
    EXPECT_EQ(setup.undoLoop, 2);
}

TEST(MeasureEdits, UndoOnAnotherLoopExchangesOnlyTheGlobals) {
    mb::Setup setup;
    TakeUndoSnapshot(setup); // loop 0
    setup.selectedLoop = 1;
    setup.loop(1).steps[0].pitch = 9;
    setup.bpm = 200.0;
    EXPECT_FALSE(ExchangeWithUndo(setup));
    EXPECT_EQ(setup.loop(1).steps[0].pitch, 9);
    EXPECT_EQ(setup.bpm, 126.0);
}

TEST(MeasureEdits, UndoBeforeAnySnapshotDoesNothing) {
    mb::Setup setup;
    setup.bpm = 140.0;
    setup.loop(0).steps[0].pitch = 5;
    EXPECT_FALSE(ExchangeWithUndo(setup));
    EXPECT_EQ(setup.bpm, 140.0);
    EXPECT_EQ(setup.loop(0).steps[0].pitch, 5);
    EXPECT_EQ(setup.modified, 0);
}

TEST(MeasureEdits, ShiftRotatesOnlyThePlayedSteps) {
    mb::Setup setup;
    setup.selectedLoop = 3;
    Label(setup.loop(3));
    setup.stepCount = 4;

    setup.loop(3).steps[3].condition = StepCondition::kFirst;
    ShiftSteps(setup, true); // A B C D E... -> D A B C E...
    EXPECT_EQ(setup.loop(3).steps[0].condition, StepCondition::kFirst) << "it moves with its step";
    EXPECT_EQ(setup.loop(3).steps[3].condition, 0);
    std::vector<int> expected = Pitches(setup.loop(3));
    EXPECT_EQ((std::vector<int>(expected.begin(), expected.begin() + 5)),
              (std::vector<int>{103, 100, 101, 102, 104}));

    ShiftSteps(setup, false);
    ShiftSteps(setup, false); // back, then one more left: B C D A E...
    expected = Pitches(setup.loop(3));
    EXPECT_EQ((std::vector<int>(expected.begin(), expected.begin() + 5)),
              (std::vector<int>{101, 102, 103, 100, 104}));
    for (int j = 4; j < kStepsPerLoop; ++j)
        EXPECT_EQ(expected[static_cast<size_t>(j)], 100 + j);
}

TEST(MeasureEdits, ShiftWithOneStepOrAllSixteen) {
    mb::Setup setup;
    Label(setup.loop(0));
    setup.stepCount = 1;
    ShiftSteps(setup, true);
    ShiftSteps(setup, false);
    EXPECT_EQ(Pitches(setup.loop(0))[0], 100);
    EXPECT_EQ(Pitches(setup.loop(0))[1], 101);

    setup.stepCount = 16;
    ShiftSteps(setup, false);
    EXPECT_EQ(Pitches(setup.loop(0))[0], 101);
    EXPECT_EQ(Pitches(setup.loop(0))[15], 100);

    // A damaged step count never reaches outside the loop.
    setup.stepCount = 40;
    ShiftSteps(setup, true);
    EXPECT_EQ(Pitches(setup.loop(0))[0], 100);
}

TEST(MeasureEdits, RandomizeDrawsInOrderAndKeepsTheOnFlagsAndTheGroove) {
    mb::Setup setup;
    setup.loop(0).steps[4].on = 0;
    setup.loop(0).steps[4].condition = StepCondition::kLast;
    setup.loop(0).swing = 60;
    int next = 0;
    // Each draw returns a counter, so the order of the draws shows in the values.
    RandomizeSteps(setup, 5, [&next] { return next++; });
    const Step& first = setup.loop(0).steps[0];
    EXPECT_EQ(first.pitch, 0 - 60);
    EXPECT_EQ(first.sound, 1 % 5);
    EXPECT_EQ(first.volume, 2);
    EXPECT_EQ(first.pan, 3);
    EXPECT_EQ(first.dValue, 4);
    const Step& second = setup.loop(0).steps[1];
    EXPECT_EQ(second.pitch, 5 - 60);
    EXPECT_EQ(second.sound, 6 % 5);
    EXPECT_EQ(next, 16 * 5);
    EXPECT_EQ(setup.loop(0).steps[4].on, 0);
    EXPECT_EQ(setup.loop(0).steps[5].on, 1);
    EXPECT_EQ(setup.loop(0).steps[4].condition, StepCondition::kLast);
    EXPECT_EQ(setup.loop(0).swing, 60);
}

TEST(MeasureEdits, RandomizeWithNoSoundsGivesSoundZeroWithoutADraw) {
    mb::Setup setup;
    int draws = 0;
    RandomizeSteps(setup, 0, [&draws] {
        ++draws;
        return 1000003;
    });
    EXPECT_EQ(draws, 16 * 4);
    for (const Step& s : setup.loop(0).steps) {
        EXPECT_EQ(s.sound, 0);
        EXPECT_GE(s.pitch, -60);
        EXPECT_LE(s.pitch, 67);
        EXPECT_LE(s.volume, 127);
    }
}

TEST(MeasureEdits, ClipboardBlockRoundTripAndShortBlocksAreRefused) {
    mb::Setup setup;
    Label(setup.loop(5));
    setup.loop(5).steps[3].condition = StepCondition::Ratio(2, 4).Code();
    std::vector<uint8_t> block = EncodeMeasure(setup.loop(5));
    ASSERT_EQ(block.size(), 192u + 32u);
    Loop target;
    ASSERT_TRUE(DecodeMeasure(block, target));
    EXPECT_EQ(Pitches(target), Pitches(setup.loop(5)));
    EXPECT_EQ(target.steps[3].condition, StepCondition::Ratio(2, 4).Code());

    // A block of an earlier version (192 bytes, or with what it does not know after them)
    // and one whose conditions are damaged paste steps that always play.
    block[192 + 2 * 5] = 0x7F;
    for (const size_t size : {size_t{200}, size_t{192}, block.size()}) {
        ASSERT_TRUE(DecodeMeasure(std::span<const uint8_t>(block).first(size), target));
        EXPECT_EQ(Pitches(target), Pitches(setup.loop(5)));
        EXPECT_EQ(target.steps[3].condition, 0) << size;
    }

    Loop untouched;
    const std::vector<int> before = Pitches(untouched);
    EXPECT_FALSE(DecodeMeasure(std::span<const uint8_t>(block).first(191), untouched));
    EXPECT_EQ(Pitches(untouched), before);
}

} // namespace
} // namespace mb
