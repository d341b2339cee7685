#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "LiveCapture.h"
#include "RealTimeProbe.h"
#include "platform/PulseSinks.h"

namespace mb {
namespace {

bool InCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

// A sink of the server, by the description the output knows it by, with its monitor and
// its rate; the test command's server has the default one at 44 100 Hz and one at 48 000.
struct Sink {
    const char* description;
    const char* monitor;
    uint32_t rate;
    int bufferFrames = OutputChoice::kDefaultBufferFrames;
};

class LivePlayback : public ::testing::TestWithParam<Sink> {};

// Real playback, end to end: the step clock on its timer, the engine, the mixer and the
// stream into a sound server, recorded back from the server. Every step lies on the grid
// at the sink's own rate, to the sample, and none comes late for its frame, with a
// buffer so long that the output needs more than its usual lead. Without a server (or without the
// 48 kHz sink) the test is skipped, except in CI, where that is a failure.
TEST_P(LivePlayback, StepsSoundOnePeriodApartThroughTheSoundServer) {
    const Sink sink = GetParam();
    if (!test::PulseServerReachable() || PulseSinks::Rate(sink.description) != sink.rate) {
        if (InCi())
            FAIL() << "no PulseAudio server with the sink (scripts/test.sh starts one)";
        GTEST_SKIP() << "no PulseAudio server with the sink; run scripts/test.sh";
    }
    const auto capture = test::PlayAndRecord(MB_KIT_DIR, 2.0, false, sink.description, sink.monitor,
                                             sink.bufferFrames);
    ASSERT_EQ(capture.error, "");
    EXPECT_EQ(capture.rate, sink.rate);
    ASSERT_GE(capture.onsets.size(), 15u) << "recorded " << capture.left.size() << " frames";
    const double first = static_cast<double>(capture.onsets[0]);
    for (size_t i = 1; i < capture.onsets.size(); ++i) {
        const double interval = static_cast<double>(capture.onsets[i] - capture.onsets[i - 1]);
        EXPECT_LE(std::abs(interval - capture.periodFrames), 1.0)
            << "onset " << i << "; late commands " << capture.lateCommands
            << ", mapping moves " << capture.mappingMoves;
        // No drift: every onset within a sample of the grid from the first.
        EXPECT_LE(std::abs(static_cast<double>(capture.onsets[i]) - first -
                           static_cast<double>(i) * capture.periodFrames),
                  1.0)
            << "onset " << i;
    }
    EXPECT_EQ(capture.lateCommands, 0u);
}

INSTANTIATE_TEST_SUITE_P(Sinks,
                         LivePlayback,
                         ::testing::Values(Sink{"", "@DEFAULT_MONITOR@", 44100},
                                           Sink{"Null48", "marrowbeat_null48.monitor", 48000},
                                           Sink{"", "@DEFAULT_MONITOR@", 44100, 2048}),
                         [](const auto& info) {
                             if (info.param.bufferFrames != OutputChoice::kDefaultBufferFrames)
                                 return std::string("Buffer") +
                                        std::to_string(info.param.bufferFrames);
                             return std::string(info.param.rate == 44100 ? "At44100" : "At48000");
                         });

// An output that stands still (nothing has sounded for a while) runs again at the next
// step, and the step clock's thread, which sends it, neither allocates nor takes a lock
// to wake it: it rings the keeper's doorbell.
TEST(LiveOutput, AStepWakesAStillOutputWithoutALockOrAnAllocation) {
    if (!test::PulseServerReachable()) {
        if (InCi())
            FAIL() << "no PulseAudio server (scripts/test.sh starts one)";
        GTEST_SKIP() << "no PulseAudio server; run scripts/test.sh";
    }
    const auto device = RtAudioOutput::Open({"pulse", "", OutputChoice::kDefaultBufferFrames});
    ASSERT_NE(device, nullptr);
    WaveFormat format;
    format.formatTag = WAVE_FORMAT_PCM;
    format.channels = 1;
    format.samplesPerSec = 44100;
    format.bitsPerSample = 16;
    format.blockAlign = 2;
    format.avgBytesPerSec = 88200;
    AudioDevice::BufferId sound = 0;
    uint8_t* data = nullptr;
    uint64_t size = 0;
    ASSERT_EQ(device->CreateSoundBuffer(format, 2000, &sound), AudioDevice::DS_OK);
    ASSERT_EQ(device->Lock(sound, &data, &size), AudioDevice::DS_OK);
    std::memset(data, 0x40, size);
    ASSERT_EQ(device->Unlock(sound, size), AudioDevice::DS_OK);
    const auto waitFor = [&device](bool paused) {
        for (int i = 0; i < 400 && device->output()->Paused() != paused; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return device->output()->Paused() == paused;
    };
    ASSERT_TRUE(waitFor(true)) << "the idle output never stood still";

    const GridTime now = device->Now();
    const uint64_t allocations = test::RealTimeWatch::Allocations();
    const uint64_t locks = test::RealTimeWatch::Locks();
    {
        test::RealTimeWatch watch;
        EXPECT_EQ(device->Trigger(AudioMixer::kStepClockLane, 0, sound, {}, now),
                  AudioDevice::DS_OK);
    }
    EXPECT_EQ(test::RealTimeWatch::Allocations() - allocations, 0u);
    if (test::RealTimeWatch::CountsLocks()) {
        EXPECT_EQ(test::RealTimeWatch::Locks() - locks, 0u);
    }
    EXPECT_TRUE(waitFor(false)) << "the output did not run again";
}

} // namespace
} // namespace mb
