#include <gtest/gtest.h>

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

TEST(PrecisionTimer, MeasuredRateIsAMultipleOfAThousandOrZero) {
    const int32_t rate = MeasureCpuTicksPerMs();
    EXPECT_EQ(rate % 1000, 0);
    if (CpuHasTimeStampCounter()) {
        EXPECT_GT(rate, 0);
    }
}

TEST(PrecisionTimer, AnUnusableTimeStampRateFallsBackToTheMonotonicClock) {
    PrecisionTimer timer(0);
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
    PrecisionTimer timer(rate);
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
        PrecisionTimer timer(rate);
        const int64_t reading = timer.ElapsedMs();
        const int64_t mono = timer.ToMonotonicNs(static_cast<double>(reading) + 10.0);
        const int64_t now = MonotonicNs();
        // Ten milliseconds after a whole-millisecond reading taken just now.
        EXPECT_GT(mono, now + 8000000) << rate;
        EXPECT_LT(mono, now + 11000000) << rate;
    }
}

} // namespace
} // namespace mb
