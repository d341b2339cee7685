#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include <atomic>
#include <chrono>
#include <thread>

#include "ManualClock.h"
#include "SequencerRecorder.h"
#include "engine/PrecisionTimer.h"
#include "engine/Sequencer.h"
#include "model/Setup.h"
#include "platform/Clocks.h"

namespace mb {
namespace {

using test::ManualClock;
using test::Posted;
using test::SequencerRecorder;

class SequencerTest : public ::testing::Test {
protected:
    SequencerTest() {
        auto owned = std::make_unique<ManualClock>();
        clock = owned.get();
        sequencer.Init(recorder.Ports(), &setup, std::move(owned));
        origin = clock->now;
    }

    // Advances the clock one millisecond at a time up to `ms` after the origin, firing
    // the callback at each, and returns the milliseconds at which steps were taken.
    std::vector<int64_t> RunUntil(int64_t ms) {
        std::vector<int64_t> times;
        while (clock->now < origin + ms) {
            ++clock->now;
            const uint32_t before = sequencer.stepsTaken();
            clock->Fire();
            if (sequencer.stepsTaken() != before)
                times.push_back(clock->now - origin);
        }
        return times;
    }

    // Two steps a pass; loop 0 chains to loop 1, whose first step is off. Runs loop 0's
    // steps and loop 1's and returns the sound calls as "play 0.1" (loop.step).
    std::vector<std::string> PlayAcrossTwoLoops() {
        setup.stepCount = 2;
        setup.loop(0).nextLoop = 1;
        setup.loop(1).steps[0].on = 0;
        sequencer.Start();
        RunUntil(360);
        std::vector<std::string> calls;
        for (const auto& c : recorder.sound)
            calls.push_back(c.what + " " + std::to_string(c.loop) + "." + std::to_string(c.step));
        return calls;
    }

    // Hands the messages the sequencer posted to it, as the window does.
    void DeliverPosted() {
        for (const Posted& p : recorder.posted)
            sequencer.OnWindowMessage(p.message, p.wParam, p.lParam);
        recorder.posted.clear();
    }

    mb::Setup setup;
    SequencerRecorder recorder;
    Sequencer sequencer;
    ManualClock* clock = nullptr;
    int64_t origin = 0;
};

TEST(SequencerPeriod, QuarterBeatFromSinglePrecisionTempo) {
    // Exactly 60 000 / 4 / bpm: 126 BPM is 5250 frames at 44.1 kHz for every step.
    EXPECT_EQ(Sequencer::PeriodFromTempo(126.0) * 44.1, 5250.0);
    EXPECT_EQ(Sequencer::PeriodFromTempo(120.0), 125.0);
    EXPECT_EQ(Sequencer::PeriodFromTempo(240.0), 62.5);
    // The tempo is taken in single precision, as it is stored.
    EXPECT_EQ(Sequencer::PeriodFromTempo(120.3),
              static_cast<double>(15000.0L / static_cast<long double>(120.3f)));
}

TEST(SequencerPeriod, TempoIsLimitedSoThePeriodIsAlwaysFiniteAndPositive) {
    const double slowest = Sequencer::PeriodFromTempo(0.5);
    const double fastest = Sequencer::PeriodFromTempo(1e7);
    for (double bpm : {0.0, -5.0, 0.1, std::numeric_limits<double>::quiet_NaN(),
                       -std::numeric_limits<double>::infinity()})
        EXPECT_EQ(Sequencer::PeriodFromTempo(bpm), slowest) << bpm;
    for (double bpm : {1e9, std::numeric_limits<double>::infinity()})
        EXPECT_EQ(Sequencer::PeriodFromTempo(bpm), fastest) << bpm;
    EXPECT_GT(fastest, 0.0);
    EXPECT_TRUE(std::isfinite(slowest));
}

TEST_F(SequencerTest, StartPlaysStepZeroAtOnceAndTheNextStepsOnTheGrid) {
    sequencer.Start();
    EXPECT_TRUE(sequencer.running());
    EXPECT_TRUE(recorder.playButton);
    ASSERT_EQ(recorder.Plays().size(), 1u);
    EXPECT_EQ(recorder.Plays()[0].due.Ns(), origin * 1000000);
    // The clock sleeps until step 1 is due, not on a millisecond tick.
    const double period = Sequencer::PeriodFromTempo(126.0);
    EXPECT_EQ(clock->deadline, std::llround((origin + period) * 1e6));
    // The window is woken for the step and marks loop 0 playing when it looks; the
    // start itself says so too.
    EXPECT_EQ(recorder.wakes, 1);
    EXPECT_EQ(recorder.posted, (std::vector<Posted>{{MSG_LOOP_STARTED, 0, 0}}));
    sequencer.TakeClockNews();
    EXPECT_EQ(recorder.playingLoop, 0);
    EXPECT_TRUE(recorder.lit[0]);
    EXPECT_EQ(setup.passCount, 1);

    // 126 BPM: step k is taken at k x 119.047... ms rounded up.
    EXPECT_EQ(RunUntil(480), (std::vector<int64_t>{120, 239, 358, 477}));

    // The sound carries its exact place on the run's grid, not the millisecond that
    // noticed it.
    const auto plays = recorder.Plays();
    for (size_t k = 0; k < plays.size(); ++k) {
        EXPECT_EQ(plays[k].step, static_cast<int>(k));
        EXPECT_EQ(plays[k].due.run, plays[0].due.run);
        EXPECT_EQ(plays[k].due.originNs, origin * 1000000);
        EXPECT_EQ(plays[k].due.offsetMs, static_cast<double>(k) * period) << k;
    }
    // A sound device that runs ahead: steps are taken that much earlier, with the
    // same place on the grid.
    recorder.sendAheadNs = 30'000'000;
    EXPECT_EQ(RunUntil(570), (std::vector<int64_t>{566}));
    EXPECT_EQ(recorder.Plays().back().due.offsetMs, 5 * period);
}

TEST_F(SequencerTest, ALateCallbackIsFollowedByOneStepPerCallbackUntilCaughtUp) {
    sequencer.Start();
    clock->now = origin + 500; // four steps are due at once
    for (int i = 0; i < 6; ++i)
        clock->Fire();
    const auto plays = recorder.Plays();
    ASSERT_EQ(plays.size(), 5u);
    // Each carries its own place on the grid.
    EXPECT_EQ(plays[4].due.offsetMs, 4 * Sequencer::PeriodFromTempo(126.0));
}

TEST_F(SequencerTest, TempoChangeTakesEffectAtTheNextStepAndMovesTheOrigin) {
    setup.bpm = 120.0;
    sequencer.Start();
    EXPECT_EQ(RunUntil(630), (std::vector<int64_t>{125, 250, 375, 500, 625}));
    setup.bpm = 240.0;
    sequencer.TempoChanged();
    EXPECT_EQ(clock->pokes, 1) << "the sleeping clock looks at the new due time";
    // Step 6 one new period (62.5 ms) after step 5; the origin moves to step 6's exact
    // place on the grid, not to the millisecond that noticed it.
    EXPECT_EQ(RunUntil(820), (std::vector<int64_t>{688, 750, 813}));
    EXPECT_NEAR(sequencer.period(), 62.5, 1e-4);
    const auto plays = recorder.Plays();
    const double fast = Sequencer::PeriodFromTempo(240.0);
    EXPECT_EQ(plays[6].due.offsetMs, 5 * Sequencer::PeriodFromTempo(120.0) + fast);
    EXPECT_EQ(plays[8].due.offsetMs, plays[6].due.offsetMs + 2 * fast);
}

TEST_F(SequencerTest, RepeatCountThenChainToTheNextLoop) {
    setup.loop(0).repeatCount = 3;
    setup.loop(0).nextLoop = 2;
    setup.stepCount = 4;
    sequencer.Start();
    RunUntil(1311); // steps 0 to 11: three passes of loop 0
    EXPECT_EQ(setup.currentLoop, 2);
    EXPECT_EQ(setup.passCount, 0);
    RunUntil(1430); // step 12
    EXPECT_EQ(setup.currentLoop, 2);
    EXPECT_EQ(setup.passCount, 1);
    sequencer.TakeClockNews();
    EXPECT_EQ(recorder.playingLoop, 2);
    const auto plays = recorder.Plays();
    ASSERT_EQ(plays.size(), 13u);
    for (size_t k = 0; k < 12; ++k)
        EXPECT_EQ(plays[k].loop, 0);
    EXPECT_EQ(plays[12].loop, 2);
    EXPECT_EQ(plays[12].step, 0);
}

TEST_F(SequencerTest, RepeatCountZeroPlaysOnePass) {
    setup.loop(0).repeatCount = 0;
    setup.loop(0).nextLoop = 1;
    setup.stepCount = 2;
    sequencer.Start();
    RunUntil(240);
    const auto plays = recorder.Plays();
    ASSERT_EQ(plays.size(), 3u);
    EXPECT_EQ(plays[1].loop, 0);
    EXPECT_EQ(plays[2].loop, 1);
}

// Every step taken, on or off, is one event with the values as they stood; whether a
// step cuts the last sound follows the setup (the engine does the cutting).
TEST_F(SequencerTest, EveryStepIsOneEventThatSaysWhetherItCuts) {
    for (const int polyphonic : {0, 1}) {
        SCOPED_TRACE(polyphonic);
        origin = clock->now;
        setup.polyphonic = static_cast<int16_t>(polyphonic);
        setup.loop(1).steps[1].pitch = 5;
        setup.loop(1).steps[1].pan = 3;
        setup.loop(1).steps[1].volume = 7;
        setup.loop(1).steps[1].sound = 2;
        EXPECT_EQ(PlayAcrossTwoLoops(),
                  (std::vector<std::string>{"play 0.0", "play 0.1", "play 1.1"}));
        ASSERT_EQ(recorder.events.size(), 4u);
        EXPECT_FALSE(recorder.events[2].on) << "the off step is an event too";
        const StepEvent& last = recorder.events[3];
        EXPECT_EQ(
            std::vector<int>({last.loop, last.step, last.sound, last.pitch, last.volume, last.pan}),
            std::vector<int>({1, 1, 2, 5, 7, 3}));
        for (const StepEvent& e : recorder.events) {
            EXPECT_EQ(e.cutsLast, polyphonic == 0);
            EXPECT_EQ(e.due.run, sequencer.run());
            EXPECT_EQ(e.periodMs, sequencer.period());
        }
        sequencer.Stop();
        recorder.sound.clear();
        recorder.events.clear();
    }
    EXPECT_EQ(recorder.begunRuns, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(recorder.endedRuns, (std::vector<uint32_t>{1, 2}));
}

TEST_F(SequencerTest, StopSilencesAllOnlyWhenNotPolyphonic) {
    sequencer.Start();
    RunUntil(250);
    const int16_t loop = setup.currentLoop;
    sequencer.Stop();
    EXPECT_FALSE(sequencer.running());
    EXPECT_FALSE(clock->active());
    EXPECT_FALSE(recorder.playButton);
    EXPECT_EQ(recorder.endedRuns, std::vector<uint32_t>{sequencer.run()});
    EXPECT_EQ(recorder.silenceAll, 1);
    EXPECT_EQ(setup.stepIndex, 0);
    EXPECT_EQ(recorder.posted.back(), (Posted{MSG_LOOP_STARTED, loop, -1}));

    setup.polyphonic = 1;
    sequencer.Start();
    sequencer.Stop();
    EXPECT_EQ(recorder.silenceAll, 1); // the last sounds ring on
}

TEST_F(SequencerTest, StopKeepsLoopAndPassAndTheLightGoesOut) {
    setup.loop(0).repeatCount = 4;
    sequencer.Start();
    RunUntil(250);
    sequencer.TakeClockNews();
    EXPECT_TRUE(recorder.lit[2]);
    const int16_t pass = setup.passCount;
    sequencer.Stop();
    EXPECT_FALSE(recorder.lit[2]);
    EXPECT_EQ(setup.passCount, pass);
    // Neither does a step whose news is taken in after the stop, nor a step message.
    sequencer.TakeClockNews();
    sequencer.OnWindowMessage(MSG_STEP_PLAYED, 0, 0);
    for (bool l : recorder.lit)
        EXPECT_FALSE(l);
}

TEST_F(SequencerTest, LoopSelectionWhilePlayingSwitchesAtOnceUnlessCtrlIsHeld) {
    setup.loop(0).repeatCount = 5;
    sequencer.Start();
    RunUntil(250); // at step 3 of loop 0, pass 1

    recorder.ctrlDown = true;
    setup.selectedLoop = 3;
    sequencer.LoopSelected(3);
    EXPECT_EQ(setup.currentLoop, 0);
    RunUntil(360);
    EXPECT_EQ(recorder.Plays().back().loop, 0);

    recorder.ctrlDown = false;
    setup.selectedLoop = 4;
    sequencer.LoopSelected(4);
    EXPECT_EQ(setup.currentLoop, 4);
    EXPECT_EQ(setup.passCount, 0);
    EXPECT_EQ(recorder.playingLoop, 4);
    RunUntil(480);
    EXPECT_EQ(recorder.Plays().back().loop, 4);
    EXPECT_EQ(recorder.Plays().back().step, 4); // same position, new loop

    sequencer.Stop();
    recorder.ctrlDown = true;
    setup.selectedLoop = 6;
    sequencer.LoopSelected(6); // stopped: nothing here
    recorder.ctrlDown = false;
    sequencer.Start();
    EXPECT_EQ(recorder.Plays().back().loop, 6);
}

TEST_F(SequencerTest, OneStepPerPassCountsEveryStepAsAPassAndKeepsTheLightOn) {
    setup.stepCount = 1;
    setup.loop(0).repeatCount = 10;
    sequencer.Start();
    RunUntil(400);
    // The start's own step 0, then three more, each a pass of its own.
    EXPECT_EQ(sequencer.stepsTaken(), 4u);
    EXPECT_EQ(setup.passCount, 4);
    for (const auto& p : recorder.Plays())
        EXPECT_EQ(p.step, 0);
    sequencer.TakeClockNews();
    EXPECT_TRUE(recorder.lit[0]);
    for (int c : recorder.litCalls)
        EXPECT_EQ(c, 0); // never switched off
}

TEST_F(SequencerTest, StepLightFollowsThePlayedStepAndThinsOutAbove1500Bpm) {
    sequencer.Start();
    RunUntil(250);
    sequencer.TakeClockNews();
    EXPECT_TRUE(recorder.lit[2]);
    EXPECT_FALSE(recorder.lit[1]);
    EXPECT_EQ(recorder.playingLoop, 0);

    recorder.litCalls.clear();
    setup.bpm = 4500.0; // bpm / 1500 = 3: the light moves every third step message
    for (int i = 0; i < 6; ++i)
        sequencer.OnWindowMessage(MSG_STEP_PLAYED, 0, 0);
    EXPECT_EQ(std::count_if(recorder.litCalls.begin(), recorder.litCalls.end(),
                            [](int c) { return c >= 0; }),
              2);
}

// The clock wakes the window after every step (the window's doorbell merges them) and
// the window takes in any number of steps at one look: the light on the last step,
// thinned above 1500 BPM as if each step had been told on its own, and the loop whose
// pass began last; a loop chosen meanwhile is not overruled by an older pass.
TEST_F(SequencerTest, TheWindowTakesInAnyNumberOfStepsAtOneLook) {
    setup.stepCount = 4;
    setup.loop(0).nextLoop = 3;
    sequencer.Start();
    RunUntil(600); // loop 0's steps 0 to 3, then loop 3's steps 0 and 1
    EXPECT_EQ(recorder.wakes, 6);
    sequencer.TakeClockNews();
    EXPECT_EQ(recorder.playingLoop, 3);
    EXPECT_EQ(recorder.litCalls, std::vector<int>{1});

    RunUntil(720); // loop 3's step 2
    setup.selectedLoop = 5;
    sequencer.LoopSelected(5);
    RunUntil(840); // step 3, the end of loop 3's pass
    sequencer.TakeClockNews();
    EXPECT_EQ(recorder.playingLoop, 5);

    sequencer.Stop();
    recorder.litCalls.clear();
    setup.bpm = 4500.0; // every third step: 3 1/3 ms apart
    sequencer.Start();
    RunUntil(850); // four steps
    sequencer.TakeClockNews();
    RunUntil(860); // three more
    sequencer.TakeClockNews();
    EXPECT_EQ(std::count_if(recorder.litCalls.begin(), recorder.litCalls.end(),
                            [](int c) { return c >= 0; }),
              2);
}

TEST_F(SequencerTest, LoopStartedMessagesMarkTheStartedLoopThenNone) {
    // What Start and Stop post comes back to the sequencer through the window.
    setup.selectedLoop = 5;
    sequencer.Start();
    DeliverPosted();
    EXPECT_EQ(recorder.playingLoop, 5);
    sequencer.Stop();
    DeliverPosted();
    EXPECT_EQ(recorder.playingLoop, -1);
    setup.selectedLoop = 2;
    sequencer.Start();
    DeliverPosted();
    EXPECT_EQ(recorder.playingLoop, 2);
    EXPECT_FALSE(sequencer.OnWindowMessage(0x0200, 1, 2));
}

TEST_F(SequencerTest, ToggleBroadcastsUnlessCtrlAndRemoteMessagesOnlyChangeState) {
    sequencer.Toggle();
    EXPECT_TRUE(sequencer.running());
    EXPECT_EQ(recorder.broadcasts, (std::vector<Posted>{{MSG_REMOTE_START, 0, 0}}));

    // The broadcast's own copy arrives here too and changes nothing.
    const size_t plays = recorder.Plays().size();
    sequencer.OnWindowMessage(MSG_REMOTE_START, 0, 0);
    EXPECT_EQ(recorder.Plays().size(), plays);

    recorder.ctrlDown = true;
    sequencer.Toggle();
    EXPECT_FALSE(sequencer.running());
    EXPECT_EQ(recorder.broadcasts.size(), 1u);
    sequencer.OnWindowMessage(MSG_REMOTE_STOP, 0, 0);
    EXPECT_FALSE(sequencer.running());
    sequencer.OnWindowMessage(MSG_REMOTE_START, 0, 0);
    EXPECT_TRUE(sequencer.running());
    sequencer.OnWindowMessage(MSG_REMOTE_STOP, 0, 0);
    EXPECT_FALSE(sequencer.running());
}

TEST_F(SequencerTest, AnAnnouncedStartIsHeardWhenEveryInstanceCanMeetItWithItsOwnLead) {
    constexpr int64_t kMs = 1000000;
    const double period = Sequencer::PeriodFromTempo(126.0);
    // Alone, Space starts at once; with others running the first step is heard the start
    // lead after Space, and sent this instance's own lead before that.
    recorder.others = true;
    recorder.leadNs = 20 * kMs;
    sequencer.Toggle();
    const int64_t heard = origin * kMs + Sequencer::kStartLeadNs;
    EXPECT_EQ(recorder.broadcasts, (std::vector<Posted>{{MSG_REMOTE_START, 0, heard}}));
    EXPECT_TRUE(recorder.Plays().empty());
    EXPECT_EQ(clock->deadline, heard - 20 * kMs);
    // A tempo change before the first step leaves it on its moment.
    setup.bpm = 240.0;
    sequencer.TempoChanged();
    const int64_t first = Sequencer::kStartLeadNs / kMs - 20;
    EXPECT_EQ(RunUntil(first + 130), (std::vector<int64_t>{first, first + 63, first + 125}));
    auto plays = recorder.Plays();
    EXPECT_EQ(plays[0].due.Ns(), heard - 20 * kMs);
    EXPECT_EQ(plays[0].due.offsetMs, 0.0);
    EXPECT_EQ(plays[2].due.offsetMs, 2 * Sequencer::PeriodFromTempo(240.0));
    EXPECT_EQ(setup.passCount, 1);
    sequencer.Stop();

    // Another instance whose lead is longer than the start lead allows for: the start is
    // heard that lead and the notice after Space.
    recorder.othersLeadNs = 50 * kMs;
    recorder.broadcasts.clear();
    sequencer.Toggle();
    const int64_t later = clock->NowNs() + 50 * kMs + Sequencer::kNoticeNs;
    EXPECT_EQ(recorder.broadcasts, (std::vector<Posted>{{MSG_REMOTE_START, 0, later}}));
    EXPECT_EQ(clock->deadline, later - 20 * kMs);

    // Stopped and quiet, this instance meets a start sooner than its lead, and so does
    // the other: the start is heard the start lead after Space.
    sequencer.Stop();
    recorder.leadNs = 40 * kMs;
    recorder.othersLeadNs = 10 * kMs;
    recorder.ownLeadNs = 5 * kMs;
    recorder.broadcasts.clear();
    sequencer.Toggle();
    const int64_t quick = clock->NowNs() + Sequencer::kStartLeadNs;
    EXPECT_EQ(recorder.broadcasts, (std::vector<Posted>{{MSG_REMOTE_START, 0, quick}}));
    EXPECT_EQ(clock->deadline, quick - 40 * kMs);
    recorder.leadNs = 20 * kMs;

    // A receiver sends its first step its own lead before the moment it is heard, when
    // there is still time for that; a moment sooner than its lead is sent at once for its
    // moment (the output meets it by writing over its queue); none, a past moment or one
    // too far ahead starts at once.
    enum When { kOnOrigin, kNowForItsMoment, kNow };
    struct Case {
        int64_t aheadNs;
        When when;
    };
    const Case cases[] = {{100 * kMs, kOnOrigin},
                          {20 * kMs, kOnOrigin},
                          {19 * kMs, kNowForItsMoment},
                          {-kMs, kNow},
                          {Sequencer::kMaxLeadNs + 21 * kMs, kNow}};
    setup.bpm = 126.0;
    for (const Case& c : cases) {
        sequencer.Stop();
        recorder.sound.clear();
        const int64_t at = clock->NowNs() + c.aheadNs;
        sequencer.OnWindowMessage(MSG_REMOTE_START, 0, static_cast<intptr_t>(at));
        EXPECT_EQ(recorder.Plays().size(), c.when == kOnOrigin ? 0u : 1u) << c.aheadNs;
        if (c.when == kOnOrigin) {
            clock->now += c.aheadNs / kMs - 20;
            clock->Fire();
        }
        plays = recorder.Plays();
        ASSERT_EQ(plays.size(), 1u) << c.aheadNs;
        EXPECT_EQ(plays[0].due.Ns(), c.when == kNow ? clock->NowNs() : at - 20 * kMs) << c.aheadNs;
        EXPECT_EQ(clock->deadline, plays[0].due.Ns() + std::llround(period * 1e6)) << c.aheadNs;
    }
    sequencer.Stop();
    recorder.sound.clear();
    sequencer.OnWindowMessage(MSG_REMOTE_START, 0, 0);
    EXPECT_EQ(recorder.Plays().size(), 1u) << "a start without an origin, as before";
}

TEST_F(SequencerTest, ARunBehindItsMomentsSendsItsStepsLaterButNeverItsFirstStep) {
    constexpr int64_t kMs = 1000000;
    const int64_t period = std::llround(Sequencer::PeriodFromTempo(126.0) * 1e6);
    // What the output says of the run before (its grid 30 ms behind) holds no first step
    // back; the run's own later steps go that much later.
    recorder.sendAheadNs = -30 * kMs;
    const int64_t at = clock->NowNs() + 100 * kMs;
    sequencer.StartAt(at);
    EXPECT_EQ(clock->deadline, at);
    RunUntil(100);
    ASSERT_EQ(recorder.Plays().size(), 1u);
    RunUntil(100 + period / kMs + 29);
    EXPECT_EQ(recorder.Plays().size(), 1u);
    EXPECT_EQ(clock->deadline, at + period + 30 * kMs);
    RunUntil(100 + period / kMs + 31);
    EXPECT_EQ(recorder.Plays().size(), 2u);
}

TEST_F(SequencerTest, StartPlacesTheFirstStepOnTheFirstFrameTheOutputHasNotPlayed) {
    constexpr int64_t kMs = 1000000;
    recorder.leadNs = 20 * kMs;
    // The output's next frame, within the lead: the run begins there. Further back (an
    // output that stood still), no more than the lead; ahead of now, or unknown, now.
    struct Case {
        int64_t earliestMs;
        int64_t originMs;
    };
    const Case cases[] = {{-7, -7}, {-20, -20}, {-500, -20}, {3, 0}};
    for (const Case& c : cases) {
        recorder.earliestNs = clock->NowNs() + c.earliestMs * kMs;
        recorder.sound.clear();
        sequencer.Start();
        ASSERT_EQ(recorder.Plays().size(), 1u);
        EXPECT_EQ(recorder.Plays()[0].due.Ns(), clock->NowNs() + c.originMs * kMs) << c.earliestMs;
        sequencer.Stop();
    }
}

// A session whose bars fall every 2 s and whose steps are 100 ms apart, then 50 ms from
// step 4 on (a tempo change on the timeline).
class FakeSession : public SessionTimeline {
public:
    static constexpr int64_t kBarNs = 2000000000;
    bool IsOn() const override { return on; }
    int64_t BeginRun(int64_t earliestNs, bool announce) override {
        begun.push_back({earliestNs, announce});
        bar = (earliestNs + kBarNs - 1) / kBarNs * kBarNs;
        return bar;
    }
    void EndRun(bool announce) override { ended.push_back(announce); }
    int64_t StepDueNs(int64_t n) override {
        return bar + std::min<int64_t>(n, 4) * 100000000 + std::max<int64_t>(n - 4, 0) * 50000000;
    }
    int64_t RunStartsAtStep() const override { return startsAt; }
    bool StepsByTime() const override { return byTime; }
    bool on = true;
    bool byTime = false;
    int64_t startsAt = -1;
    int64_t bar = 0;
    std::vector<std::pair<int64_t, bool>> begun;
    std::vector<bool> ended;
};

TEST_F(SequencerTest, WithASessionOnRunsStartOnItsBarAndFollowItsTimeline) {
    FakeSession session;
    session.byTime = true;
    SequencerPorts ports = recorder.Ports();
    ports.session = &session;
    sequencer.Init(ports, &setup, std::make_unique<ManualClock>());
    clock = static_cast<ManualClock*>(sequencer.clock());
    origin = clock->now;

    sequencer.Toggle();
    ASSERT_EQ(session.begun.size(), 1u);
    EXPECT_EQ(session.begun[0], std::make_pair(origin * 1000000, true));
    EXPECT_EQ(recorder.broadcasts.back(), (Posted{MSG_REMOTE_START, 0, session.bar}));
    // The bar at 2 s; its own tempo change does not move the timeline's steps.
    setup.bpm = 300.0;
    sequencer.TempoChanged();
    EXPECT_EQ(RunUntil(1650),
              (std::vector<int64_t>{1000, 1100, 1200, 1300, 1400, 1450, 1500, 1550, 1600, 1650}));
    const auto plays = recorder.Plays();
    EXPECT_EQ(plays[5].due.originNs, session.bar);
    EXPECT_EQ(plays[5].due.offsetMs, 450.0);
    EXPECT_TRUE(plays[5].due.byTime) << "placed by the session's times";

    // Leaving the session, the run goes on at the setup's tempo from its last step.
    session.on = false;
    sequencer.LeaveSession();
    EXPECT_EQ(clock->deadline, session.bar + std::llround((650.0 + sequencer.period()) * 1e6));

    // Ctrl: this instance alone, the session's peers not told. A start from another
    // instance lands on the session's first bar from its origin (less the tolerance).
    session.on = true;
    recorder.ctrlDown = true;
    sequencer.Toggle();
    EXPECT_EQ(session.ended, (std::vector<bool>{false}));
    const int64_t told = clock->NowNs() + 300000000;
    sequencer.OnWindowMessage(MSG_REMOTE_START, 0, static_cast<intptr_t>(told));
    EXPECT_EQ(session.begun.back(), std::make_pair(told - Sequencer::kBarToleranceNs, false));
    recorder.ctrlDown = false;
    sequencer.Toggle();
    EXPECT_EQ(session.ended, (std::vector<bool>{false, true}));
}

TEST_F(SequencerTest, ARunStartingWithinTheSessionsGridPlacesTheChainAsIfPlayedFromItsStart) {
    FakeSession session;
    SequencerPorts ports = recorder.Ports();
    ports.session = &session;
    sequencer.Init(ports, &setup, std::make_unique<ManualClock>());
    clock = static_cast<ManualClock*>(sequencer.clock());
    origin = clock->now;
    // Loop 2 plays twice, then loop 4 once, then back to 2; 12 steps a pass.
    setup.selectedLoop = 2;
    setup.stepCount = 12;
    setup.loop(2).repeatCount = 2;
    setup.loop(2).nextLoop = 4;
    setup.loop(4).repeatCount = 1;
    setup.loop(4).nextLoop = 2;
    struct Case {
        int64_t startsAt;
        int loop;
        int step;
        int passCount; // after the first step
    };
    const Case cases[] = {
        {-1, 2, 0, 1}, {0, 2, 0, 1}, {5, 2, 5, 1}, {12, 2, 0, 2},
        {27, 4, 3, 1}, {36, 2, 0, 1}, {36 * 1000 + 13, 2, 1, 2},
    };
    for (const Case& c : cases) {
        session.startsAt = c.startsAt;
        recorder.ctrlDown = true;
        sequencer.Toggle();
        RunUntil(session.bar / 1000000 - origin + 1); // its first step only
        const auto plays = recorder.Plays();
        ASSERT_FALSE(plays.empty());
        EXPECT_EQ(plays.back().loop, c.loop) << c.startsAt;
        EXPECT_EQ(plays.back().step, c.step) << c.startsAt;
        EXPECT_EQ(setup.passCount, c.passCount) << c.startsAt;
        sequencer.Toggle();
    }
}

TEST_F(SequencerTest, MuteToggledFollowsTheSoundToggleWhateverTheSetupHeld) {
    // The toggle decides, not the stored flag: a setup opened muted stays muted when the
    // toggle is off, and one unmuted stays unmuted when it is on.
    struct Case {
        int16_t muted;
        bool soundOn;
        int mutedAfter;
        int muteAll;
        int unmuteAll;
    };
    const Case cases[] = {
        {0, false, 1, 1, 0},
        {1, false, 1, 1, 0},
        {1, true, 0, 0, 1},
        {0, true, 0, 0, 1},
    };
    for (const Case& c : cases) {
        setup.muted = c.muted;
        setup.modified = 0;
        recorder.muteAll = 0;
        recorder.unmuteAll = 0;
        recorder.soundOn = c.soundOn;
        sequencer.MuteToggled();
        EXPECT_EQ(setup.muted, c.mutedAfter) << c.muted << c.soundOn;
        EXPECT_EQ(recorder.muteAll, c.muteAll) << c.muted << c.soundOn;
        EXPECT_EQ(recorder.unmuteAll, c.unmuteAll) << c.muted << c.soundOn;
        EXPECT_EQ(setup.modified, 1);
    }
}

TEST_F(SequencerTest, StepCountLoweredBelowThePositionEndsThePassAtTheNextStep) {
    sequencer.Start();
    RunUntil(1200); // steps 0..10 taken, stepIndex 11
    EXPECT_EQ(setup.stepIndex, 11);
    setup.stepCount = 8;
    RunUntil(1320);
    EXPECT_EQ(recorder.Plays().back().step, 11);
    EXPECT_EQ(setup.stepIndex, 0);
}

TEST_F(SequencerTest, DamagedValuesNeverIndexOutsideTheLoops) {
    setup.stepCount = 400;
    setup.loop(0).nextLoop = 12;
    setup.loop(7).nextLoop = -3;
    sequencer.Start();
    RunUntil(3000); // more than a pass of sixteen steps
    for (const auto& p : recorder.Plays()) {
        EXPECT_GE(p.loop, 0);
        EXPECT_LT(p.loop, 8);
        EXPECT_LT(p.step, 16);
    }
    EXPECT_EQ(setup.currentLoop, 7); // 12 brought into range

    sequencer.Stop();
    setup.stepCount = -5;
    setup.selectedLoop = 9;
    setup.stepIndex = 99;
    setup.currentLoop = 40;
    sequencer.Start();
    RunUntil(3500);
    for (const auto& p : recorder.Plays()) {
        EXPECT_LT(p.step, 16);
        EXPECT_GE(p.step, 0);
        EXPECT_LT(p.loop, 8);
    }
}

TEST_F(SequencerTest, ATempoOfZeroOrNaNNeitherDividesByZeroNorStalls) {
    for (double bpm : {0.0, std::numeric_limits<double>::quiet_NaN()}) {
        setup.bpm = bpm;
        sequencer.Start();
        const size_t before = recorder.Plays().size();
        RunUntil(clock->now - origin + 30001); // 0.5 BPM: one step every 30 s
        EXPECT_EQ(recorder.Plays().size(), before + 1) << bpm;
        sequencer.Stop();
    }
}

// A session whose timeline says what the case says for every step.
class OddSession : public SessionTimeline {
public:
    bool IsOn() const override { return true; }
    int64_t BeginRun(int64_t earliestNs, bool) override { return bar = earliestNs; }
    void EndRun(bool) override {}
    int64_t StepDueNs(int64_t n) override { return due(bar, n); }
    int64_t (*due)(int64_t bar, int64_t n) = nullptr;
    int64_t bar = 0;
};

// Whatever the period or the session's timeline, the clock's thread sleeps at least a
// millisecond after each step it takes, and one that has fallen behind skips to the
// present (the steps between are dropped and counted) instead of taking them all.
TEST_F(SequencerTest, NoTempoOrTimelineMakesTheClockTakeStepsInALoop) {
    struct Case {
        const char* what;
        double bpm;
        int64_t (*due)(int64_t bar, int64_t n); // nullptr: no session
        bool drops;
    };
    const Case cases[] = {
        {"10 000 000 BPM", 1e7, nullptr, true},
        {"a moment long past", 126.0, [](int64_t, int64_t) { return int64_t{1}; }, false},
        {"no time at all", 126.0, [](int64_t, int64_t) { return INT64_MIN; }, false},
        {"ten seconds behind", 126.0,
         [](int64_t bar, int64_t n) { return bar - 10'000'000'000 + n * 100'000; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OddSession session;
        session.due = c.due;
        SequencerPorts ports = recorder.Ports();
        ports.session = c.due != nullptr ? &session : nullptr;
        sequencer.Init(ports, &setup, std::make_unique<ManualClock>());
        clock = static_cast<ManualClock*>(sequencer.clock());
        recorder.sound.clear();
        setup.bpm = c.bpm;
        setup.polyphonic = 1;
        sequencer.Toggle();
        const uint64_t droppedBefore = sequencer.droppedSteps();
        // As the clock's thread: asleep until each deadline, then the callback, for a
        // second (and at most 5000 callbacks: one that never slept would go on for ever).
        const int64_t end = clock->NowNs() + 1'000'000'000;
        int64_t lastStepNs = INT64_MIN / 2;
        int calls = 0;
        int tooSoon = 0;
        while (clock->active() && calls < 5000) {
            clock->SetNowNs(std::max(clock->deadline, clock->NowNs()));
            if (clock->NowNs() > end)
                break;
            const size_t before = recorder.Plays().size();
            clock->Fire();
            ++calls;
            if (recorder.Plays().size() != before) {
                tooSoon += clock->NowNs() - lastStepNs < 1'000'000 ? 1 : 0;
                lastStepNs = clock->NowNs();
            }
        }
        EXPECT_EQ(tooSoon, 0);
        const auto plays = recorder.Plays();
        EXPECT_LE(plays.size(), 1001u);
        EXPECT_LE(calls, 2002);
        EXPECT_EQ(sequencer.droppedSteps() > droppedBefore, c.drops);
        // The steps taken keep their places on the grid, in order.
        for (size_t k = 1; k < plays.size(); ++k)
            ASSERT_GT(plays[k].due.Ns(), plays[k - 1].due.Ns()) << k;
        if (c.due == nullptr) {
            const double period = Sequencer::PeriodFromTempo(c.bpm);
            const double steps = plays.back().due.offsetMs / period;
            EXPECT_EQ(steps, std::round(steps));
        }
        sequencer.Stop();
    }
}

// The real step clock: a recorder of when each step was taken (CLOCK_MONOTONIC) that can
// hold the clock thread inside a step.
class TimedSteps : public SequencerRecorder {
public:
    void TakeStep(const StepEvent& step) override {
        if (!step.on)
            return;
        const int64_t now = MonotonicNs();
        {
            std::lock_guard lock(mutex);
            SequencerRecorder::TakeStep(step);
            takenNs.push_back(now);
        }
        if (holdAt >= 0 && ++count > holdAt) {
            held = true;
            held.notify_all();
            release.wait(false); // asleep: this is the real-time clock thread
        }
    }
    void PostMessage(int, intptr_t, intptr_t) override {}

    std::mutex mutex;
    std::vector<int64_t> takenNs;
    int holdAt = -1;
    int count = 0;
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
};

class RealClockTest : public ::testing::Test {
protected:
    void Init(int32_t cpuTicksPerMs) {
        auto owned = std::make_unique<PrecisionTimer>(cpuTicksPerMs);
        timer = owned.get();
        sequencer.Init(steps.Ports(), &setup, std::move(owned));
    }

    mb::Setup setup;
    TimedSteps steps;
    Sequencer sequencer;
    PrecisionTimer* timer = nullptr;
};

// With either clock source, even a time-stamp rate that is 1 % off, every step lies
// exactly k periods after the origin and is never taken before that moment; the clock
// thread wakes about once per step while playing and not at all while stopped.
TEST_F(RealClockTest, StepsKeepTheExactGridWithEitherClockAndTheThreadSleepsBetweenThem) {
    const int32_t measured = MeasureCpuTicksPerMs();
    Init(measured > 0 ? RoundTicksPerMs(measured * 99 / 100) : 0);
    setup.bpm = 3000.0; // 5 ms steps
    setup.polyphonic = 1;
    const double period = Sequencer::PeriodFromTempo(setup.bpm);
    for (bool tsc : {true, false}) {
        timer->SetUseCpuClock(tsc);
        steps.sound.clear();
        steps.takenNs.clear();
        const uint64_t wakeupsBefore = timer->event().wakeups();
        const uint64_t droppedBefore = sequencer.droppedSteps();
        sequencer.Start();
        while (true) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::lock_guard lock(steps.mutex);
            if (steps.takenNs.size() >= 21)
                break;
        }
        sequencer.Stop();
        const auto plays = steps.Plays();
        // A thread held up for more than a few steps (a busy machine) drops the steps it
        // missed; every step it takes still lies exactly on its place.
        int64_t last = -1;
        for (size_t k = 0; k < plays.size(); ++k) {
            const int64_t n = std::llround(plays[k].due.offsetMs / period);
            EXPECT_EQ(plays[k].due.offsetMs, static_cast<double>(n) * period) << tsc << k;
            EXPECT_GT(n, last) << tsc << k;
            last = n;
            EXPECT_GE(steps.takenNs[k], plays[k].due.Ns()) << tsc << k;
        }
        EXPECT_EQ(static_cast<uint64_t>(last + 1) - plays.size(),
                  sequencer.droppedSteps() - droppedBefore)
            << tsc;
        EXPECT_LE(timer->event().wakeups() - wakeupsBefore, 2 * plays.size() + 2) << tsc;
    }
    // The Stop itself wakes the thread once; after that it sleeps for good.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const uint64_t stopped = timer->event().wakeups();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(timer->event().wakeups(), stopped);
}

// A Stop that lands while the clock thread takes the step at which a tempo change
// applies waits for it, and leaves the clock stopped: no step follows once Stop has
// returned. The test holds the clock thread inside the step until Stop is waiting.
TEST_F(RealClockTest, StopWinsOverAStepThatAppliesATempoChange) {
    Init(0);
    setup.bpm = 3000.0;
    steps.holdAt = 1; // hold inside step 1, the first taken by the clock thread
    sequencer.Start();
    setup.bpm = 6000.0;
    sequencer.TempoChanged();
    steps.held.wait(false);
    std::thread stopper([this] { sequencer.Stop(); });
    while (timer->event().stopsWaiting() == 0)
        std::this_thread::yield();
    steps.release = true;
    steps.release.notify_all();
    stopper.join();
    EXPECT_FALSE(timer->active());
    EXPECT_FALSE(sequencer.running());
    EXPECT_EQ(steps.Plays().size(), 2u);
    EXPECT_EQ(steps.endedRuns, std::vector<uint32_t>{sequencer.run()});
}

} // namespace
} // namespace mb
