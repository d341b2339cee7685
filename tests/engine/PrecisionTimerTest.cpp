#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/PrecisionTimer.h"
#include "platform/Clocks.h"

namespace mb {
namespace {

TEST(PrecisionTimer, CalibrationRoundsToWholeThousandsThroughThreeRoundings) {
    struct Case {
        int64_t measured;
        int32_t expected;
    };
    const Case cases[] = {
        {2394449, 2395000}, // the roundings carry upward
        {2394444, 2394000},
        {2400000, 2400000},
        {3000400, 3000000},
        {3000499, 3001000}, // 300 050, then 30 005, then 3 001
        {445, 1000},
        {444, 0}, // too slow to be usable
        {0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RoundTicksPerMs(c.measured), c.expected) << c.measured;
}

TEST(PrecisionTimer, EventPeriodIsClampedToTheDeviceRange) {
    PrecisionTimer coarse(TimerCaps{2, 100}, 0);
    EXPECT_EQ(coarse.beginPeriod(), 2u);
    coarse.Configure(1, nullptr, nullptr);
    EXPECT_EQ(coarse.eventPeriod(), 2u);
    coarse.Configure(5000, nullptr, nullptr);
    EXPECT_EQ(coarse.eventPeriod(), 100u);
    coarse.Configure(7, nullptr, nullptr);
    EXPECT_EQ(coarse.eventPeriod(), 7u);

    PrecisionTimer fine(TimerCaps{}, 0);
    EXPECT_EQ(fine.beginPeriod(), 1u);
    fine.Configure(0, nullptr, nullptr);
    EXPECT_EQ(fine.eventPeriod(), 1u);
}

TEST(PrecisionTimer, MeasuredRateIsAMultipleOfAThousandOrZero) {
    const int32_t rate = MeasureCpuTicksPerMs();
    EXPECT_EQ(rate % 1000, 0);
    if (CpuHasTimeStampCounter()) {
        EXPECT_GT(rate, 0);
    }
}

TEST(PrecisionTimer, AnUnusableTimeStampRateFallsBackToTheMonotonicClock) {
    PrecisionTimer timer(TimerCaps{}, 0);
    const int64_t before = MonotonicNs() / 1000000;
    const int64_t reading = timer.ElapsedMs();
    const int64_t after = MonotonicNs() / 1000000;
    EXPECT_GE(reading, before);
    EXPECT_LE(reading, after);
}

TEST(PrecisionTimer, SwitchingTheClockSourceKeepsTheReadingContinuous) {
    const int32_t rate = MeasureCpuTicksPerMs();
    if (rate == 0)
        GTEST_SKIP() << "no usable time-stamp counter";
    PrecisionTimer timer(TimerCaps{}, rate);
    for (bool flag : {false, true, false, true}) {
        const int64_t before = timer.ElapsedMs();
        timer.SetUseCpuClock(flag);
        const int64_t after = timer.ElapsedMs();
        EXPECT_GE(after, before - 1) << flag;
        EXPECT_LE(after, before + 2) << flag;
        EXPECT_EQ(timer.useCpuClock(), flag);
    }
}

TEST(PrecisionTimer, ClockMillisecondsMapOntoMonotonicTime) {
    for (int32_t rate : {0, MeasureCpuTicksPerMs()}) {
        PrecisionTimer timer(TimerCaps{}, rate);
        const int64_t reading = timer.ElapsedMs();
        const int64_t mono = timer.ToMonotonicNs(static_cast<double>(reading) + 10.0);
        const int64_t now = MonotonicNs();
        // Ten milliseconds after a whole-millisecond reading taken just now.
        EXPECT_GT(mono, now + 8000000) << rate;
        EXPECT_LT(mono, now + 11000000) << rate;
    }
}

// The step clock restarts its timer from inside the callback at a tempo change: the
// restart must neither deadlock, nor lose the next callback, nor fire the old schedule.
TEST(PrecisionTimer, RestartFromInsideItsOwnCallback) {
    struct State {
        PrecisionTimer* timer = nullptr;
        std::atomic<int> calls{0};
        std::atomic<int64_t> restartAt{0};
        std::atomic<int64_t> firstAfterRestart{0};
    } state;
    PrecisionTimer timer(TimerCaps{}, 0);
    state.timer = &timer;
    timer.Configure(
        1,
        [](void* user) {
            auto* s = static_cast<State*>(user);
            const int n = ++s->calls;
            if (n == 5) {
                s->restartAt = MonotonicNs();
                s->timer->Stop();
                s->timer->Start();
            } else if (n == 6) {
                s->firstAfterRestart = MonotonicNs();
            }
        },
        &state);
    timer.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (state.calls < 20 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    timer.Stop();
    EXPECT_GE(state.calls, 20);
    // The first callback after the restart keeps to the new origin: a whole period later.
    EXPECT_GE(state.firstAfterRestart - state.restartAt, 900000);

    const int stoppedAt = state.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(state.calls, stoppedAt);
    EXPECT_FALSE(timer.active());
}

} // namespace
} // namespace mb
