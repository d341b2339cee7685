#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "LiveCapture.h"

namespace mb {
namespace {

// Real playback, end to end: the step clock on its timer, the engine, the mixer and the
// RtAudio stream into a sound server, recorded back from the server. The test command
// starts a PulseAudio server with a null sink; without one the test is skipped, except
// in CI, where a missing server is a failure.
TEST(LivePlayback, StepsSoundOnePeriodApartThroughTheSoundServer) {
    if (!test::PulseServerReachable()) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::strcmp(ci, "true") == 0)
            FAIL() << "no PulseAudio server answers (scripts/test.sh starts one)";
        GTEST_SKIP() << "no PulseAudio server answers; run scripts/test.sh, which starts one";
    }
    const auto capture = test::PlayAndRecord(MB_KIT_DIR, 2.0, false);
    ASSERT_EQ(capture.error, "");
    ASSERT_GE(capture.onsets.size(), 15u) << "recorded " << capture.left.size() << " frames";
    for (size_t i = 1; i < capture.onsets.size(); ++i) {
        const double interval = static_cast<double>(capture.onsets[i] - capture.onsets[i - 1]);
        EXPECT_LE(std::abs(interval - capture.periodFrames), 2.0)
            << "onset " << i << "; late commands " << capture.lateCommands << ", mapping moves "
            << capture.mappingMoves;
    }
    EXPECT_EQ(capture.lateCommands, 0u);
}

} // namespace
} // namespace mb
