// The MIDI clock follower fed messages at chosen times on the test's thread: the tempo
// and phase it finds, where a run starts, and what the window is told.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "midi/ClockFollower.h"

namespace mb {
namespace {

using News = ClockFollower::News;

constexpr int64_t kMs = 1'000'000;

int64_t IntervalNs(double bpm) {
    return std::llround(60e9 / (ClockFollower::kClocksPerBeat * bpm));
}

// A sender of clocks: each clock's exact time is kept, and it is received that time plus
// a jitter of up to jitterNs either way (a fixed pseudo-random sequence).
struct Sender {
    explicit Sender(ClockFollower& f) : follower(f) {}
    ClockFollower& follower;
    int64_t nowNs = 1'000 * kMs;
    int64_t jitterNs = 0;
    std::vector<int64_t> sent;
    // Clocks (counted from the first sent) that never arrive.
    std::vector<int> lost;
    uint32_t seed = 12345;

    void Byte(unsigned char byte) { follower.Take(&byte, 1, nowNs); }
    void SongPosition(int sixteenths) {
        const unsigned char message[] = {ClockFollower::kSongPosition,
                                         static_cast<unsigned char>(sixteenths & 0x7F),
                                         static_cast<unsigned char>(sixteenths >> 7)};
        follower.Take(message, 3, nowNs);
    }
    void Clocks(int count, double bpm) {
        for (int i = 0; i < count; ++i) {
            nowNs += IntervalNs(bpm);
            seed = seed * 1664525U + 1013904223U;
            const int64_t jitter =
                jitterNs == 0 ? 0 : static_cast<int64_t>(seed >> 8) % (2 * jitterNs + 1) - jitterNs;
            sent.push_back(nowNs);
            const int number = static_cast<int>(sent.size()) - 1;
            if (std::find(lost.begin(), lost.end(), number) != lost.end())
                continue;
            const unsigned char clock = ClockFollower::kClock;
            follower.Take(&clock, 1, nowNs + jitter);
        }
    }
};

TEST(ClockFollower, FollowsTheTempoAndPhaseWithinTwoBeats) {
    struct Case {
        const char* name;
        int64_t jitterNs;
        double from;
        double to;
        std::vector<int> lost;
    };
    // Clocks lost on the way are counted; a tempo halved is not taken for lost clocks.
    const Case cases[] = {
        {"steady", 0, 120.0, 120.0, {}},
        {"jittered", 300'000, 120.0, 120.0, {}},
        {"slower", 0, 120.0, 90.0, {}},
        {"slower, jittered", 300'000, 120.0, 90.0, {}},
        {"faster", 0, 90.0, 140.0, {}},
        {"halved", 0, 120.0, 60.0, {}},
        {"a clock lost", 0, 120.0, 120.0, {60}},
        {"three lost, jittered", 300'000, 120.0, 120.0, {60, 61, 62}},
        {"lost twice", 0, 120.0, 120.0, {55, 80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClockFollower follower({[] { return 5 * kMs; }});
        follower.SetOn(true);
        Sender sender(follower);
        sender.jitterNs = c.jitterNs;
        sender.lost = c.lost;
        sender.Byte(ClockFollower::kStart);
        sender.Clocks(48, c.from);
        sender.Clocks(48, c.to);
        const News news = follower.Poll(sender.nowNs);
        EXPECT_EQ(news.transport, News::Transport::kStart);
        EXPECT_NEAR(news.bpm, c.to, 0.05);
        // The run starts on the next 16th, the clock after the last one sent (position 96).
        const int64_t due = follower.BeginRun(sender.nowNs - 4 * kMs, false);
        EXPECT_EQ(follower.RunStartsAtStep(), 16);
        const int64_t interval = IntervalNs(c.to);
        const int64_t last = sender.sent.back();
        EXPECT_NEAR(static_cast<double>(due + 5 * kMs), static_cast<double>(last + interval), 1e6);
        // The steps of the next two bars lie on their clocks.
        for (int n = 0; n < 32; ++n)
            EXPECT_NEAR(static_cast<double>(follower.StepDueNs(n) + 5 * kMs),
                        static_cast<double>(last + (1 + 6 * n) * interval), 1e6)
                << "step " << n;
    }
}

TEST(ClockFollower, StartsARunWhereTheSongIsSkippingStepsTooLateToSend) {
    struct Case {
        const char* name;
        int songPosition; // 16ths set before Continue; -1: Start
        int64_t latencyNs;
        int64_t earliestAfterLastNs; // from the last clock sent
        int64_t step;
        int dueClock; // clocks after the first one following the start
    };
    // Three clocks follow the start (positions p, p+1, p+2 in clocks).
    const Case cases[] = {
        {"start, plenty of time", -1, 0, 0, 1, 6},
        {"start, the latency costs a step", -1, 100 * kMs, 0, 2, 12},
        {"continue from 16th 20", 20, 0, 0, 21, 6},
        {"continue, the earliest moment past a step", 20, 0, 110 * kMs, 22, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClockFollower follower({[&c] { return c.latencyNs; }});
        follower.SetOn(true);
        Sender sender(follower);
        sender.Clocks(48, 120.0);
        if (c.songPosition >= 0) {
            sender.SongPosition(c.songPosition);
            sender.Byte(ClockFollower::kContinue);
        } else {
            sender.Byte(ClockFollower::kStart);
        }
        sender.Clocks(3, 120.0);
        ASSERT_EQ(follower.Poll(sender.nowNs).transport, News::Transport::kStart);
        const int64_t first = sender.sent[48];
        const int64_t due = follower.BeginRun(sender.nowNs + c.earliestAfterLastNs, false);
        EXPECT_EQ(follower.RunStartsAtStep(), c.step);
        EXPECT_NEAR(static_cast<double>(due + c.latencyNs),
                    static_cast<double>(first + c.dueClock * IntervalNs(120.0)), 1e3);
    }
}

TEST(ClockFollower, WaitsForAClockOnTheStartsPhaseThenStopsAndLosesTheClock) {
    ClockFollower follower;
    follower.SetOn(true);
    Sender sender(follower);
    sender.Clocks(48, 120.0);
    sender.Byte(ClockFollower::kStop);
    EXPECT_EQ(follower.Poll(sender.nowNs).transport, News::Transport::kStop);
    // The clock restarts with Start half a clock off its old phase: no run until two
    // clocks on the new phase are in.
    sender.nowNs += IntervalNs(120.0) / 2;
    sender.Byte(ClockFollower::kStart);
    EXPECT_EQ(follower.Poll(sender.nowNs).transport, News::Transport::kNone);
    sender.Clocks(1, 120.0);
    EXPECT_EQ(follower.Poll(sender.nowNs).transport, News::Transport::kNone);
    sender.Clocks(1, 120.0);
    EXPECT_EQ(follower.Poll(sender.nowNs).transport, News::Transport::kStart);
    follower.BeginRun(sender.nowNs, false);
    EXPECT_NEAR(static_cast<double>(follower.StepDueNs(1)),
                static_cast<double>(sender.sent[48] + 12 * IntervalNs(120.0)), 1e3);

    // Silence: within two beats nothing happens, after them the run plays on along the
    // line it had, told once.
    sender.Clocks(40, 120.0);
    const int64_t along = follower.StepDueNs(40);
    EXPECT_FALSE(follower.Poll(sender.nowNs + 990 * kMs).lost);
    const News lost = follower.Poll(sender.nowNs + 1010 * kMs);
    EXPECT_TRUE(lost.lost);
    EXPECT_EQ(ClockFollower::LostMessage(lost.bpm),
              "The MIDI clock stopped arriving; playing on at 120.0 BPM.");
    EXPECT_FALSE(follower.Poll(sender.nowNs + 1020 * kMs).lost);
    // Clocks coming again in another phase do not move the lost run.
    sender.nowNs += 1500 * kMs + IntervalNs(120.0) / 3;
    sender.Clocks(10, 120.0);
    EXPECT_EQ(follower.StepDueNs(40), along);
}

// The step clock reads the line while the input thread moves it: every reading is one
// whole line (a torn one would be a clock or more off), and under ThreadSanitizer the
// line crosses the threads through atomics only.
TEST(ClockFollower, TheStepClockReadsWholeLinesWhileClocksArrive) {
    ClockFollower follower;
    follower.SetOn(true);
    Sender sender(follower);
    sender.Byte(ClockFollower::kStart);
    sender.Clocks(48, 120.0);
    follower.BeginRun(sender.nowNs, false);
    const int64_t first = sender.sent[0] + 6 * follower.RunStartsAtStep() * IntervalNs(120.0);
    std::thread input([&sender] { sender.Clocks(20000, 120.0); });
    int64_t worstNs = 0;
    for (int i = 0; i < 20000; ++i) {
        const int64_t n = i % 64;
        const int64_t off = follower.StepDueNs(n) - (first + 6 * n * IntervalNs(120.0));
        worstNs = std::max(worstNs, std::abs(off));
    }
    input.join();
    EXPECT_LT(worstNs, 1000);
}

} // namespace
} // namespace mb
