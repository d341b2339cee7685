#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ManualClock.h"
#include "SequencerRecorder.h"
#include "engine/Sequencer.h"
#include "engine/StepGroove.h"
#include "model/Groove.h"
#include "model/Setup.h"

namespace mb {
namespace {

class GrooveTest : public ::testing::Test {
protected:
    GrooveTest() {
        auto owned = std::make_unique<test::ManualClock>();
        clock = owned.get();
        sequencer.Init(recorder.Ports(), &setup, std::move(owned));
    }

    // Plays `steps` steps from a start and returns each as '-' (another loop than
    // `loop`), 'x' (plays) or '.' (does not).
    std::string Play(int steps, int loop = 0) {
        recorder.events.clear();
        sequencer.Start();
        while (static_cast<int>(recorder.events.size()) < steps)
            Advance();
        sequencer.Stop();
        std::string out;
        for (int i = 0; i < steps; ++i) {
            const StepEvent& e = recorder.events[static_cast<size_t>(i)];
            out += e.loop != loop ? '-' : e.on ? 'x' : '.';
        }
        return out;
    }

    // One millisecond on, and the step clock looks.
    void Advance() {
        ++clock->now;
        clock->Fire();
    }

    mb::Setup setup;
    test::SequencerRecorder recorder;
    Sequencer sequencer;
    test::ManualClock* clock = nullptr;
};

// One step a pass; loop 0 plays three passes, loop 1 one, and back: loop 0's passes
// since Play are 1 to 12, and it is entered anew four times.
TEST_F(GrooveTest, EveryConditionOverSixteenPassesOfAChain) {
    setup.stepCount = 1;
    setup.loop(0).repeatCount = 3;
    setup.loop(0).nextLoop = 1;
    setup.loop(1).nextLoop = 0;
    const struct {
        const char* condition;
        const char* plays;
    } table[] = {
        {"always", "xxx-xxx-xxx-xxx-"},    {"first", "x..-x..-x..-x..-"},
        {"!first", ".xx-.xx-.xx-.xx-"},    {"last", "..x-..x-..x-..x-"},
        {"!last", "xx.-xx.-xx.-xx.-"},     {"2:4", ".x.-..x-...-x..-"},
        {"1:2", "x.x-.x.-x.x-.x.-"},       {"previous", "xxx-xxx-xxx-xxx-"},
        {"!previous", ".x.-x.x-.x.-x.x-"}, {"8:8", "...-...-.x.-...-"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.condition);
        setup.loop(0).steps[0].condition = StepCondition::FromText(row.condition)->Code();
        EXPECT_EQ(Play(16), row.plays);
        // Every start counts afresh.
        EXPECT_EQ(Play(16), row.plays);
    }
}

// A jump while playing enters the loop anew: its next pass is a first pass again.
TEST_F(GrooveTest, AJumpEntersTheLoopAnew) {
    setup.stepCount = 1;
    setup.loop(0).steps[0].condition = StepCondition{StepCondition::kFirst}.Code();
    sequencer.Start();
    while (recorder.events.size() < 4)
        Advance();
    sequencer.JumpToLoop(0);
    while (recorder.events.size() < 6)
        Advance();
    std::string plays;
    for (const StepEvent& e : recorder.events)
        plays += e.on ? 'x' : '.';
    EXPECT_EQ(plays.substr(0, 6), "x...x.");
}

// Chance: D at 64 and above always plays, 0 never, 32 half the time; the outcome is the
// seed's and the step's place in the run, so every run from Play repeats it.
TEST_F(GrooveTest, ChanceIsTheSeedsAndTheStepsPlace) {
    for (const uint32_t seed : {0u, 1u, 7u, 12345u, 0xFFFFFFFFu}) {
        int played = 0;
        for (int64_t n = 0; n < 10000; ++n) {
            played += StepGroove::ChancePlays(seed, n, 32) ? 1 : 0;
            ASSERT_TRUE(StepGroove::ChancePlays(seed, n, 64));
            ASSERT_FALSE(StepGroove::ChancePlays(seed, n, 0));
        }
        EXPECT_NEAR(played / 10000.0, 0.5, 0.015) << seed;
    }

    setup.dDial = static_cast<int16_t>(DDial::kChance);
    for (Step& s : setup.loop(0).steps)
        s.dValue = 32;
    setup.seed = 1;
    const std::string first = Play(64);
    EXPECT_EQ(Play(64), first);
    setup.seed = 2;
    EXPECT_NE(Play(64), first);
    // A neutral D plays every step, whatever the function.
    for (Step& s : setup.loop(0).steps)
        s.dValue = kNeutralD;
    EXPECT_EQ(Play(32), std::string(32, 'x'));
}

// Where and how often a step sounds, by swing, D function and D value, for a 100 ms step.
TEST_F(GrooveTest, SwingDelayRepeatsAndTranspose) {
    const struct {
        int swing;
        DDial dial;
        int d;
        int index;
        double shiftMs;
        int hits;
    } table[] = {
        {50, DDial::kNothing, 0, 1, 0.0, 1},  {66, DDial::kNothing, 64, 1, 32.0, 1},
        {66, DDial::kNothing, 64, 2, 0.0, 1}, {75, DDial::kNothing, 64, 3, 50.0, 1},
        {50, DDial::kDelay, 0, 2, -50.0, 1},  {50, DDial::kDelay, 127, 2, 50.0, 1},
        {50, DDial::kDelay, 32, 2, -25.0, 1}, {75, DDial::kDelay, 0, 1, 0.0, 1},
        {50, DDial::kDelay, 0, 0, 0.0, 1},    {50, DDial::kRepeats, 64, 2, 0.0, 1},
        {50, DDial::kRepeats, 65, 2, 0.0, 2}, {50, DDial::kRepeats, 127, 2, 0.0, 8},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(testing::Message() << row.swing << " " << static_cast<int>(row.dial) << " "
                                        << row.d << " step " << row.index);
        setup.loop(0).swing = static_cast<int16_t>(row.swing);
        setup.dDial = static_cast<int16_t>(row.dial);
        setup.loop(0).steps[static_cast<size_t>(row.index)].dValue = static_cast<int16_t>(row.d);
        StepGroove groove;
        groove.Reset();
        // Step 0 is the run's first: one that would be early plays at the run's start.
        const auto out = groove.Take(setup, 0, row.index, row.index, 100.0, false);
        EXPECT_TRUE(out.plays);
        EXPECT_NEAR(out.shiftMs, row.shiftMs, 1e-9);
        EXPECT_EQ(out.hits, row.hits);
        EXPECT_NEAR(out.spacingMs * out.hits, row.hits > 1 ? 100.0 : 0.0, 1e-9);
    }
    setup.loop(0).steps[0].pitch = 60;
    setup.eValue = 12;
    StepGroove groove;
    groove.Reset();
    EXPECT_EQ(groove.Take(setup, 0, 0, 0, 100.0, false).pitch, 60) << "E plays nothing";
    setup.eDial = static_cast<int16_t>(EDial::kTranspose);
    EXPECT_EQ(groove.Take(setup, 0, 0, 1, 100.0, false).pitch, StepGroove::kMaxStepPitch);
    setup.eValue = -12;
    EXPECT_EQ(groove.Take(setup, 0, 0, 2, 100.0, false).pitch, 48);
}

} // namespace
} // namespace mb
