#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "LiveCapture.h"
#include "RealTimeProbe.h"
#include "WaveFiles.h"
#include "audio/OutputKeeper.h"
#include "devices/PulseSinks.h"
#include "platform/Clocks.h"

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
// buffer so long that the output needs more than its usual lead. The first step, started
// while all is quiet, is written over what the output had queued, and lies on the grid too. Without
// a server (or without the 48 kHz sink) the test is skipped, except in CI, where that is a failure.
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
    // A step sent later than the output's margin for it was the machine's doing.
    if (capture.lateCommands > 0 && capture.heldUpNs > OutputKeeper::kLeadMarginNs)
        GTEST_SKIP() << "the machine held the step clock up " << capture.heldUpNs / 1000
                     << " us: a step came late";
    EXPECT_EQ(capture.rate, sink.rate);
    ASSERT_GE(capture.onsets.size(), 15u) << "recorded " << capture.left.size() << " frames";
    const double first = static_cast<double>(capture.onsets[0]);
    for (size_t i = 1; i < capture.onsets.size(); ++i) {
        const double interval = static_cast<double>(capture.onsets[i] - capture.onsets[i - 1]);
        EXPECT_LE(std::abs(interval - capture.periodFrames), 1.0)
            << "onset " << i << "; late commands " << capture.lateCommands << ", mapping moves "
            << capture.mappingMoves;
        // No drift: every onset within a sample of the grid from the first.
        EXPECT_LE(std::abs(static_cast<double>(capture.onsets[i]) - first -
                           static_cast<double>(i) * capture.periodFrames),
                  1.0)
            << "onset " << i;
    }
    EXPECT_EQ(capture.lateCommands, 0u);
    EXPECT_GT(capture.rewinds, 0u) << "the first step waited for the output's queue";
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

// What the step clock takes: each step's place on the grid, and whether it was on.
class TakenSteps : public StepFollower {
public:
    struct Taken {
        int64_t dueNs = 0;
        bool on = false;
    };
    // Step-clock thread: no allocation, no lock.
    void TakeStep(const StepEvent& step) override {
        const size_t n = count_.load(std::memory_order_relaxed);
        if (n < steps_.size()) {
            steps_[n] = {step.due.Ns(), step.on};
            count_.store(n + 1, std::memory_order_release);
        }
    }
    size_t count() const { return count_.load(std::memory_order_acquire); }
    Taken at(size_t i) const { return steps_[i]; }

private:
    std::array<Taken, 256> steps_{};
    std::atomic<size_t> count_{0};
};

void SleepUntil(int64_t monotonicNs) {
    timespec t{static_cast<time_t>(monotonicNs / 1000000000),
               static_cast<long>(monotonicNs % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

// A step turned on shortly before it is heard (the output's queue and margin, as the
// mixer says it, and 10 ms more: a fraction of a step) sounds at that step: the step
// clock takes each step no earlier than the output needs it. Only step 0 is on at first;
// steps of the second and third pass are turned on one by one, each that long before it
// is heard (an edit the test's thread makes later than that, on a busy machine, proves
// nothing and is left out).
TEST(LiveOutput, AStepTurnedOnShortlyBeforeItIsHeardSoundsOnItsPlace) {
    if (!test::PulseServerReachable()) {
        if (InCi())
            FAIL() << "no PulseAudio server (scripts/test.sh starts one)";
        GTEST_SKIP() << "no PulseAudio server; run scripts/test.sh";
    }
    constexpr int kEdited[] = {18, 21, 24, 27, 35, 38, 41, 44};
    test::MonitorRecording recording;
    ASSERT_EQ(recording.Start("@DEFAULT_MONITOR@", 44100), "");
    mb::Setup setup;
    ScriptedPrompts prompts;
    SoundEngine engine;
    engine.Init(&setup, &prompts, [] {
        return DeviceOutput::Open({"pulse", "", OutputChoice::kDefaultBufferFrames});
    });
    SoundFolder folder(setup, engine, prompts, {});
    ASSERT_NE(engine.device(), nullptr);
    ASSERT_TRUE(folder.ScanSoundFolder(MB_KIT_DIR));
    ASSERT_EQ(engine.device()->rate(), 44100u);
    for (int i = 1; i < kStepsPerLoop; ++i)
        setup.loop(0).steps[static_cast<size_t>(i)].on = 0;
    test::NoFace face;
    TakenSteps taken;
    Sequencer sequencer;
    SequencerPorts ports{&face, &face, &engine, nullptr, nullptr};
    ports.midi = &taken;
    sequencer.Init(ports, &setup);
    ASSERT_TRUE(test::WaitForSteadyStream(engine.device()->mixer()));

    sequencer.Start();
    for (int i = 0; i < 500 && taken.count() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GT(taken.count(), 0u);
    const int64_t origin = taken.at(0).dueNs;
    const double periodNs = sequencer.period() * 1e6;
    const int64_t editAheadNs = engine.device()->mixer().soundDelayNs() + 10'000'000;
    // The delay follows the output's queue (45 ms here), not a constant tenth of a second.
    EXPECT_LT(editAheadNs, 80'000'000);
    ASSERT_LT(editAheadNs, std::llround(periodNs)) << "the output's delay is a whole step";
    std::vector<int> inTime;
    for (const int k : kEdited) {
        // When the step is heard: its moment plus the output's delay for the run.
        const int64_t heard =
            origin + std::llround(k * periodNs) + engine.device()->mixer().soundDelayNs();
        SleepUntil(heard - editAheadNs);
        setup.loop(0).steps[static_cast<size_t>(k % kStepsPerLoop)].on = 1;
        if (MonotonicNs() <= heard - editAheadNs + 2'000'000)
            inTime.push_back(k);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sequencer.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const uint64_t late = engine.device()->mixer().lateCommands();
    const std::vector<int64_t> onsets = test::FindOnsets(recording.Stop());
    if (inTime.empty())
        GTEST_SKIP() << "the machine held the test up: no step was turned on in time";
    ASSERT_FALSE(onsets.empty());
    const double periodFrames = sequencer.period() * 44.1;
    for (const int k : inTime) {
        const double at = static_cast<double>(onsets[0]) + k * periodFrames;
        const bool heard = std::any_of(onsets.begin(), onsets.end(), [at](int64_t o) {
            return std::abs(static_cast<double>(o) - at) <= 1.0;
        });
        EXPECT_TRUE(heard) << "step " << k << " turned on " << editAheadNs / 1000000
                           << " ms before it is heard; late commands " << late;
    }
}

// An output that stands still (nothing has sounded for a while) runs again at the next
// step, and the step clock's thread, which sends it, neither allocates nor takes a lock
// to wake it: it rings the keeper's doorbell. Held flowing (other copies are open), it
// runs again and no longer stands still until let go.
TEST(LiveOutput, AStepWakesAStillOutputWithoutALockOrAnAllocation) {
    if (!test::PulseServerReachable()) {
        if (InCi())
            FAIL() << "no PulseAudio server (scripts/test.sh starts one)";
        GTEST_SKIP() << "no PulseAudio server; run scripts/test.sh";
    }
    const auto device = DeviceOutput::Open({"pulse", "", OutputChoice::kDefaultBufferFrames});
    ASSERT_NE(device, nullptr);
    const WaveFormat format = test::Pcm16Format(1, 44100);
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

    ASSERT_TRUE(waitFor(true)) << "the idle output never stood still again";
    device->output()->HoldFlowing(true);
    EXPECT_TRUE(waitFor(false)) << "a held output did not run again";
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_FALSE(device->output()->Paused()) << "a held output stood still";
    device->output()->HoldFlowing(false);
    EXPECT_TRUE(waitFor(true)) << "an output let go never stood still";
}

} // namespace
} // namespace mb
