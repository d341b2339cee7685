// The MIDI a run of the step clock makes: a real sequencer on a manual clock tells the
// sender its steps, and a target with a time line of 48 000 frames per second records
// what the sender hands it, taken millisecond by millisecond as an output would.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <set>
#include <vector>

#include "ManualClock.h"
#include "SequencerRecorder.h"
#include "engine/Sequencer.h"
#include "midi/MidiSender.h"
#include "model/Groove.h"
#include "model/Setup.h"

namespace mb {
namespace {

constexpr double kFramesPerMs = 48.0;

struct Sent {
    int64_t at;
    std::vector<int> bytes;
    bool operator==(const Sent&) const = default;
};

void PrintTo(const Sent& s, std::ostream* out) {
    *out << s.at << ":";
    for (int b : s.bytes)
        *out << " " << std::hex << b << std::dec;
}

class Recorder : public MidiTarget {
public:
    int64_t PlaceOf(int64_t ns) override { return std::llround(ns * kFramesPerMs / 1e6); }
    double UnitsPerMs() const override { return kFramesPerMs; }
    void Emit(const MidiEvent& e) override {
        sent.push_back({e.at, std::vector<int>(e.bytes, e.bytes + e.size)});
    }
    // The places of the events whose status byte is `status`, and the other events.
    std::vector<int64_t> Places(int status) const {
        std::vector<int64_t> at;
        for (const Sent& s : sent)
            if (s.bytes[0] == status)
                at.push_back(s.at);
        return at;
    }
    std::vector<Sent> Without(int status) const {
        std::vector<Sent> rest;
        for (const Sent& s : sent)
            if (s.bytes[0] != status)
                rest.push_back(s);
        return rest;
    }
    std::vector<Sent> sent;
};

class MidiSenderTest : public ::testing::Test {
protected:
    MidiSenderTest() {
        auto owned = std::make_unique<test::ManualClock>();
        clock = owned.get();
        SequencerPorts ports = recorder.Ports();
        ports.midi = &sender;
        sequencer.Init(ports, &setup, std::move(owned));
        setup.stepCount = 4;
        setup.bpm = 120.0;
        Step* steps = setup.loop(0).steps.data();
        steps[1].on = 0;
        steps[2].sound = 100; // note 136 is out of range: 127
        steps[2].volume = 64;
        steps[3].volume = 0; // silent: no note
    }

    // Moves the clock on one millisecond at a time to `ms` after the first start,
    // taking the steps due at each and then the events of that millisecond, as an
    // output with cycles of 1 ms would.
    void RunTo(int64_t ms) {
        while (clock->now < kOrigin + ms) {
            ++clock->now;
            if (clock->active())
                clock->Fire();
            sender.Take(target, Frame(clock->now - 1), Frame(clock->now));
        }
    }
    static int64_t Frame(double ms) { return std::llround(ms * kFramesPerMs); }

    static constexpr int64_t kOrigin = 1000;
    mb::Setup setup;
    test::SequencerRecorder recorder;
    test::ManualClock* clock = nullptr;
    MidiSender sender;
    Sequencer sequencer;
    Recorder target;
};

TEST_F(MidiSenderTest, NotesAndSixClocksPerStepLieOnTheGridOfEachRun) {
    sender.Enable({});
    const double p = Sequencer::PeriodFromTempo(120.0);
    sequencer.Start();
    RunTo(1010); // steps 0 to 8
    sequencer.Stop();
    const int64_t stop = Frame(kOrigin + 1010);
    RunTo(1020);
    clock->now = 3000; // a restart: its own origin
    sequencer.Start();
    RunTo(2001);

    std::vector<int64_t> clocks;
    for (int k = 0; k < 8; ++k)
        for (int j = 0; j < 6; ++j)
            clocks.push_back(Frame(kOrigin + k * p + j * p / 6));
    // The stop cuts step 8's clocks short.
    clocks.push_back(Frame(kOrigin + 8 * p));
    clocks.push_back(Frame(3000));
    EXPECT_EQ(target.Places(0xF8), clocks);

    const int v = setup.loop(0).steps[0].volume;
    auto on = [](double ms, int note, int velocity) {
        return Sent{Frame(ms), {0x99, note, velocity}};
    };
    auto off = [](double ms, int note) { return Sent{Frame(ms), {0x89, note, 0}}; };
    const std::vector<Sent> expected = {
        {Frame(kOrigin), {0xFA}},
        on(kOrigin, 36, v),
        off(kOrigin + p / 4, 36),
        on(kOrigin + 2 * p, 127, 64),
        off(kOrigin + 2 * p + p / 4, 127),
        on(kOrigin + 4 * p, 36, v),
        off(kOrigin + 4 * p + p / 4, 36),
        on(kOrigin + 6 * p, 127, 64),
        off(kOrigin + 6 * p + p / 4, 127),
        on(kOrigin + 8 * p, 36, v),
        // Stopped 10 ms into step 8: its note ends with the run.
        {stop, {0x89, 36, 0}},
        {stop, {0xFC}},
        // The next run starts from the top, and says so.
        {Frame(3000), {0xF2, 0, 0}},
        {Frame(3000), {0xFA}},
        on(3000, 36, v),
    };
    EXPECT_EQ(target.Without(0xF8), expected);
    EXPECT_EQ(sender.dropped(), 0u);
}

// The groove moves the notes, never the clock: a swung step's note lies (2s - 1) x P after
// its place, a step delayed early before it, and ratchets split the step evenly.
TEST_F(MidiSenderTest, GroovedNotesMoveAndTheClockStaysOnTheGrid) {
    sender.Enable({});
    const double p = Sequencer::PeriodFromTempo(120.0);
    Step* steps = setup.loop(0).steps.data();
    steps[1].on = 1;
    steps[2].sound = 0;
    steps[3].volume = 100;
    setup.loop(0).swing = 75;
    setup.dDial = static_cast<int16_t>(DDial::kRepeats);
    steps[2].dValue = 127; // 8 hits
    sequencer.Start();
    RunTo(static_cast<int64_t>(4 * p) - 1);
    std::vector<int64_t> notes = target.Places(0x99);
    std::vector<int64_t> expected = {Frame(kOrigin), Frame(kOrigin + 1.5 * p)};
    for (int hit = 0; hit < 8; ++hit)
        expected.push_back(Frame(kOrigin + 2 * p + hit * p / 8));
    expected.push_back(Frame(kOrigin + 3.5 * p));
    EXPECT_EQ(notes, expected);
    std::vector<int64_t> clocks;
    for (int j = 0; j < 4 * 6; ++j)
        clocks.push_back(Frame(kOrigin + j * p / 6));
    EXPECT_EQ(target.Places(0xF8), clocks);
    sequencer.Stop();
    RunTo(static_cast<int64_t>(5 * p));

    // D on Delay at 0: half a step early, except the run's first step.
    target.sent.clear();
    setup.loop(0).swing = 50;
    setup.dDial = static_cast<int16_t>(DDial::kDelay);
    for (int k = 0; k < 4; ++k)
        steps[k].dValue = 0;
    const int64_t origin = clock->now;
    sequencer.Start();
    RunTo(origin - kOrigin + static_cast<int64_t>(3 * p));
    notes = target.Places(0x99);
    ASSERT_GE(notes.size(), 3u);
    EXPECT_EQ(notes[0], Frame(origin));
    EXPECT_EQ(notes[1], Frame(origin + 0.5 * p));
    EXPECT_EQ(notes[2], Frame(origin + 1.5 * p));
}

// The sequencer's record of ended runs has the say as soon as a stop is published, before
// the sender hears of it: a step of that run still queued is not sent.
TEST(MidiSenderRunEnds, AStepOfARunTheSequencerEndedIsNotSent) {
    MidiSender sender;
    auto ends = std::make_shared<RunEnds>();
    sender.FollowRuns(ends);
    sender.Enable({});
    StepEvent step;
    step.on = true;
    step.volume = 100;
    step.periodMs = 100.0;
    step.due = GridTime{5, 0, 0.0};
    sender.TakeStep(step);
    ends->End(5);
    step.due = GridTime{6, 0, 0.0};
    sender.TakeStep(step);
    Recorder target;
    sender.Take(target, 0, 48);
    EXPECT_EQ(target.Places(0xFA), std::vector<int64_t>{0}) << "run 6 alone starts";
    EXPECT_EQ(target.Places(0x99).size(), 1u);
}

TEST_F(MidiSenderTest, ClocksFollowATempoChangeAndEveryStepKeepsItsSix) {
    struct Case {
        double toBpm;
        // When the change is made, in ms after step 2.
        int64_t afterMs;
    };
    setup.loop(0).steps[1].on = 1;
    setup.loop(0).steps[3].volume = 100;
    // Slower; faster with clocks of step 2 still to come; so much faster that step 3
    // is overdue, and the run moves on.
    for (const Case& c : {Case{60.0, 30}, Case{240.0, 30}, Case{1000.0, 100}}) {
        SCOPED_TRACE(c.toBpm);
        target.sent.clear();
        recorder.sound.clear();
        setup.bpm = 120.0;
        sender.Enable({1, true, true});
        clock->now = kOrigin;
        sequencer.Start();
        RunTo(static_cast<int64_t>(2 * Sequencer::PeriodFromTempo(120.0)) + c.afterMs);
        setup.bpm = c.toBpm;
        sequencer.TempoChanged();
        RunTo(1800);
        sequencer.Stop();
        RunTo(1900);

        const std::vector<int64_t> clocks = target.Places(0xF8);
        const std::vector<int64_t> notes = target.Places(0x90);
        const auto steps = recorder.Plays();
        ASSERT_GE(notes.size(), 8u);
        // The steps the stop found still waiting for their place were dropped.
        ASSERT_LE(notes.size(), steps.size());
        // Six clocks from each step to the next.
        for (size_t k = 0; k < notes.size(); ++k)
            EXPECT_EQ(clocks.at(6 * k), notes[k]) << "step " << k;
        for (size_t i = 1; i < clocks.size(); ++i)
            EXPECT_LE(clocks[i - 1], clocks[i]) << i;
        // From step 3 on, every clock on the grid of the new tempo.
        const double q = Sequencer::PeriodFromTempo(c.toBpm);
        const int64_t origin = notes[3] - Frame(steps[3].due.offsetMs);
        EXPECT_EQ(origin > Frame(kOrigin), c.toBpm == 1000.0);
        for (size_t k = 3; k + 1 < notes.size(); ++k)
            for (int j = 0; j < 6; ++j)
                EXPECT_EQ(clocks[6 * k + j], origin + Frame(steps[k].due.offsetMs + j * q / 6))
                    << "step " << k << " clock " << j;
    }
}

TEST_F(MidiSenderTest, ChannelNotesAndClockFollowTheOptions) {
    struct Case {
        MidiSender::Options options;
        std::set<int> statuses;
    };
    const Case cases[] = {
        {{1, true, false}, {0x90, 0x80}},
        {{16, true, true}, {0xFA, 0xF8, 0x9F, 0x8F, 0xFC}},
        {{10, false, true}, {0xFA, 0xF8, 0xFC}},
        {{10, false, false}, {}},
    };
    for (const Case& c : cases) {
        target.sent.clear();
        sender.Enable(c.options);
        clock->now = kOrigin;
        sequencer.Start();
        RunTo(100);
        sequencer.Stop();
        RunTo(101);
        std::set<int> statuses;
        for (const Sent& s : target.sent)
            statuses.insert(s.bytes[0]);
        EXPECT_EQ(statuses, c.statuses) << c.options.channel;
    }
    // Disabled, nothing is queued.
    sender.Disable();
    target.sent.clear();
    clock->now = kOrigin;
    sequencer.Start();
    RunTo(500);
    EXPECT_TRUE(target.sent.empty());
}

} // namespace
} // namespace mb
