#include <gtest/gtest.h>

#include <cmath>

#include "engine/TransportGrid.h"

namespace mb {

TEST(TransportGridTest, StepsLieOnTheTransportsSixteenthsToTheFrame) {
    struct Case {
        double quarters; // at frame 1000
        double qpm;
        int64_t from;
        int64_t firstStep;
        int64_t frameOfFirst;
    };
    // 48 kHz: a sixteenth is 6000 frames at 120, 8000 at 90, 4687.5 at 153.6.
    const Case cases[] = {
        {1000.0 / 24000.0, 120.0, 1000, 1, 6000},  // just after bar 1
        {0.25, 120.0, 1000, 1, 1000},              // on a step
        {0.25 - 1e-9, 120.0, 1000, 1, 1000},       // the master's rounding below it
        {0.0, 90.0, 1000, 0, 1000},                // bar 1 at frame 1000
        {0.0, 90.0, 1001, 1, 9000},
        {4.0, 153.6, 1000, 16, 1000},              // bar 2
        {4.0, 153.6, 1001, 17, 5688},              // 4687.5 rounds up
    };
    for (const Case& c : cases) {
        TransportView view;
        view.rate = 48000;
        view.frame = 1000;
        view.quarters = c.quarters;
        view.qpm = c.qpm;
        const int64_t step = view.FirstStepFrom(c.from);
        EXPECT_EQ(step, c.firstStep) << c.quarters << " " << c.qpm;
        EXPECT_EQ(view.FrameOfStep(step), c.frameOfFirst) << c.quarters << " " << c.qpm;
    }
    // Bars and beats of any meter become quarters: 6/8, bar 2, beat 4, half a beat.
    EXPECT_DOUBLE_EQ(QuartersOfBbt(2, 4, 960.0, 1920.0, 6.0, 8.0), (6.0 + 3.5) / 2.0);
    EXPECT_DOUBLE_EQ(QpmOfBpm(180.0, 8.0), 90.0);
}

TEST(TransportGridTest, TheSmootherRecoversWhatTheMastersWholeTicksCutOff) {
    // 120 quarters a minute at 48 kHz: a quarter every 24 000 frames; ticks of 1/1920.
    constexpr double kTick = 1.0 / 1920.0;
    const double jump = 2.0 * kTick;
    BbtSmoother smoother;
    double taken = 0.0;
    for (int64_t frame = 130; frame < 24000 * 8; frame += 256) {
        const double truth = static_cast<double>(frame) / 24000.0;
        const double cut = std::floor(truth / kTick) * kTick;
        taken = smoother.Take(frame, cut, 120.0, 48000, jump);
        EXPECT_LE(taken, truth + 1e-9);
    }
    // Within a fraction of a tick of the truth after a few bars.
    EXPECT_NEAR(taken, (24000.0 * 8 - 126) / 24000.0, kTick / 10);
    // A locate starts a new stretch at once.
    EXPECT_DOUBLE_EQ(smoother.Take(24000 * 100, 7.0, 120.0, 48000, jump), 7.0);
}

} // namespace mb
