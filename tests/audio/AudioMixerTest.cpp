#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "../engine/WaveFiles.h"
#include "audio/AudioDevice.h"
#include "audio/RunEnds.h"
#include "audio/SpscQueue.h"

namespace mb {
namespace {

constexpr AudioMixer::Lane kWindow = AudioMixer::kWindowLane;
constexpr AudioMixer::Lane kClock = AudioMixer::kStepClockLane;

using test::Pcm16Format;

// An offline device rendered block by block; its clock is the time of the next frame
// to render, so "now" commands sound on that frame.
class MixerTest : public ::testing::TestWithParam<bool> {
protected:
    explicit MixerTest(int64_t settleNs = 0) {
        AudioDevice::Config config;
        // Both the eight-frame kernels (where the processor has them) and the baseline.
        config.mixer.wideKernels = GetParam();
        config.mixer.settleNs = settleNs;
        config.clock = [this] { return nowNs; };
        device = std::make_unique<AudioDevice>(std::move(config));
    }

    static int64_t TimeOf(double frame) { return std::llround(frame * 1e9 / 44100.0); }

    AudioDevice::BufferId
    Buffer(const std::vector<int16_t>& samples, uint16_t channels = 1, uint32_t rate = 44100) {
        AudioDevice::BufferId id = 0;
        EXPECT_EQ(device->CreateSoundBuffer(Pcm16Format(channels, rate), samples.size() * 2, &id),
                  AudioDevice::DS_OK);
        uint8_t* p = nullptr;
        uint64_t size = 0;
        EXPECT_EQ(device->Lock(id, &p, &size), AudioDevice::DS_OK);
        for (size_t i = 0; i < samples.size(); ++i) {
            p[2 * i] = static_cast<uint8_t>(samples[i] & 0xFF);
            p[2 * i + 1] = static_cast<uint8_t>((samples[i] >> 8) & 0xFF);
        }
        EXPECT_EQ(device->Unlock(id, size), AudioDevice::DS_OK);
        return id;
    }

    // Voice 0 restarts `buffer` now (or at `at`), at `hz`, volume and pan.
    int32_t Play(AudioDevice::BufferId buffer,
                 int32_t hz = 44100,
                 int32_t volume = 0,
                 int32_t pan = 0,
                 std::optional<GridTime> at = {},
                 int voice = 0) {
        return device->Trigger(at && at->run != 0 ? kClock : kWindow, voice, buffer,
                               {hz, volume, pan}, at ? *at : device->Now());
    }

    // Renders `frames` more frames in blocks of `block` and returns them (stereo).
    std::vector<float> Render(int frames, int block = 64) {
        std::vector<float> out(static_cast<size_t>(frames) * 2);
        for (int at = 0; at < frames; at += block) {
            const int n = std::min(block, frames - at);
            nowNs = TimeOf(static_cast<double>(rendered));
            device->Render(out.data() + 2 * at, n, nowNs);
            rendered += n;
        }
        nowNs = TimeOf(static_cast<double>(rendered));
        return out;
    }

    // Values up to about -2.4 dBFS: below the limiter's knee.
    static std::vector<int16_t> Ramp(int n) {
        std::vector<int16_t> v;
        for (int i = 0; i < n; ++i)
            v.push_back(static_cast<int16_t>((i * 997) % 50001 - 25000));
        return v;
    }

    // Frames at which the left channel goes from silence to sound.
    static std::vector<int> Onsets(const std::vector<float>& out) {
        std::vector<int> onsets;
        for (size_t i = 0; i < out.size() / 2; ++i)
            if (out[2 * i] != 0.0f && (i == 0 || out[2 * i - 2] == 0.0f))
                onsets.push_back(static_cast<int>(i));
        return onsets;
    }

    static int FirstNonZero(const std::vector<float>& out) {
        const auto onsets = Onsets(out);
        return onsets.empty() ? -1 : onsets[0];
    }

    // 1800 blocks of 256 frames; `clock` sets nowNs before each. A step of a run whose
    // grid of 5250 frames starts at `origin` is taken whenever the clock has reached its
    // time less sendAheadNs, as the step clock takes it. The recording's onsets.
    std::vector<int> TakeStepsAhead(int64_t origin, const std::function<void(int)>& clock) {
        const auto buffer = Buffer(std::vector<int16_t>(10, 10000));
        const double period = 119.04761904761905; // 5250 frames
        std::vector<float> out;
        int k = 0;
        for (int callback = 0; callback < 1800; ++callback) {
            clock(callback);
            while (nowNs >= origin + std::llround(k * period * 1e6) - device->mixer().sendAheadNs())
                Play(buffer, 44100, 0, 0, GridTime{1, origin, k * period}, k++ % 16);
            std::vector<float> block(2 * 256);
            device->Render(block.data(), 256, nowNs);
            out.insert(out.end(), block.begin(), block.end());
            rendered += 256;
        }
        return Onsets(out);
    }

    int64_t nowNs = 0;
    int64_t rendered = 0;
    std::unique_ptr<AudioDevice> device;
};

TEST_P(MixerTest, AVoiceAtItsFilesRatePlaysTheSamplesBitForBit) {
    const auto mono = Ramp(300);
    Play(Buffer(mono));
    const auto out = Render(400);
    for (size_t i = 0; i < mono.size(); ++i) {
        ASSERT_EQ(out[2 * i], mono[i] / 32768.0f) << i;
        ASSERT_EQ(out[2 * i + 1], mono[i] / 32768.0f) << i;
    }
    for (size_t i = mono.size(); i < 400; ++i)
        ASSERT_EQ(out[2 * i], 0.0f);

    const auto stereo = Ramp(200);
    Play(Buffer(stereo, 2), 44100, 0, 0, {}, 1);
    const auto out2 = Render(150);
    for (size_t i = 0; i < stereo.size(); ++i)
        ASSERT_EQ(out2[i], stereo[i] / 32768.0f) << i;
}

// Steps of a run sound on origin + round(offset x rate), whatever the block size, and a
// stop on the grid cuts a voice on its frame.
TEST_P(MixerTest, GridCommandsSoundOnTheirExactFrameWhateverTheBlockSize) {
    const auto buffer = Buffer(std::vector<int16_t>(5000, 10000));
    uint32_t run = 0;
    for (int block : {1, 64, 256, 1000}) {
        ++run;
        const int64_t origin = TimeOf(static_cast<double>(rendered) + 1000.3);
        const double period = 119.04761904761905; // 126 BPM: 5250 frames
        for (int k = 0; k < 3; ++k)
            Play(buffer, 44100, 0, 0, GridTime{run, origin, k * period}, k);
        device->StopVoice(kClock, 2, GridTime{run, origin, 2 * period + 10.0});
        const int64_t base = rendered;
        const auto out = Render(12000, block);
        EXPECT_EQ(FirstNonZero(out), 1000) << block;
        // Voice 2: from 1000 + 10500 to 441 frames later (10 ms), then silent.
        EXPECT_NE(out[2 * (11500 + 440)], 0.0f) << block;
        EXPECT_EQ(out[2 * (11500 + 441)], 0.0f) << block;
        EXPECT_EQ(rendered - base, 12000);
    }
    EXPECT_EQ(device->mixer().lateCommands(), 0u);
}

TEST_P(MixerTest, ALateStepSoundsNowAndTheRestOfItsRunKeepsItsSpacing) {
    const auto buffer = Buffer(std::vector<int16_t>(10, 10000));
    Render(1000);
    // Step 0 was due at frame 900, already rendered.
    const int64_t origin = TimeOf(900);
    Play(buffer, 44100, 0, 0, GridTime{7, origin, 0.0}, 0);
    Render(64);
    for (int k = 1; k < 3; ++k)
        Play(buffer, 44100, 0, 0, GridTime{7, origin, k * 10.0}, k); // 441 frames apart
    const auto out = Render(1200);
    EXPECT_EQ(Onsets(out), (std::vector<int>{441 - 64, 882 - 64}));
    // A plain command that comes late sounds at the start of the next block.
    Play(buffer, 44100, 0, 0, GridTime{0, TimeOf(static_cast<double>(rendered) - 300), 0.0}, 5);
    EXPECT_EQ(FirstNonZero(Render(64)), 0);
    EXPECT_EQ(device->mixer().lateCommands(), 1u) << "the run's late start is no late step";
}

TEST_P(MixerTest, EndingARunDropsItsWaitingStepsButNotTheNextRuns) {
    const auto buffer = Buffer(std::vector<int16_t>(100, 10000));
    Play(buffer, 44100, 0, 0, GridTime{1, TimeOf(500), 0.0}, 0);
    EXPECT_TRUE(device->IsPlaying(0)) << "a trigger waiting for its frame counts as playing";
    device->EndRun(1);
    Play(buffer, 44100, 0, 0, GridTime{2, TimeOf(800), 0.0}, 1);
    const auto out = Render(1000);
    EXPECT_EQ(Onsets(out), std::vector<int>{800});
    EXPECT_FALSE(device->IsPlaying(0));
}

// A stop is published before its command is sent, and the lanes are read one after the
// other: whichever the mixer reads first, no step of a stopped run sounds and the run
// does not start again, while the next run and plain commands do.
TEST_P(MixerTest, NoStepOfAStoppedRunSoundsWhateverOrderItsStopIsReadIn) {
    const auto buffer = Buffer(std::vector<int16_t>(100, 10000));
    RunEnds ends;
    device->mixer().FollowRunEnds(&ends);
    Play(buffer, 44100, 0, 0, GridTime{1, TimeOf(100), 0.0}, 0);
    EXPECT_EQ(Onsets(Render(256)), std::vector<int>{100});
    // Run 1's stop is read first, the step its clock sent just before it a block later.
    ends.End(1);
    device->EndRun(1);
    Render(64);
    Play(buffer, 44100, 0, 0, GridTime{1, TimeOf(100), 10.0}, 1); // frame 541
    // Run 2's step waits for its frame when its stop is published, not yet sent.
    Play(buffer, 44100, 0, 0, GridTime{2, TimeOf(700), 0.0}, 2);
    Render(64);
    ends.End(2);
    Play(buffer, 44100, 0, 0, GridTime{3, TimeOf(900), 0.0}, 3);
    Play(buffer, 44100, 0, 0, GridTime{0, TimeOf(1100), 0.0}, 4);
    EXPECT_EQ(Onsets(Render(1000)), (std::vector<int>{900 - 384, 1100 - 384}));
    EXPECT_FALSE(device->IsPlaying(1));
    EXPECT_FALSE(device->IsPlaying(2));
}

TEST_P(MixerTest, TheFrequencySetsThePlaybackSpeedAgainstTheOutputRate) {
    // A 22 050 Hz sound lasts twice its frames at its own rate, and plays its samples
    // unchanged (an octave high) at 44 100 Hz.
    const auto samples = Ramp(100);
    const auto buffer = Buffer(samples, 1, 22050);
    Play(buffer, 22050);
    auto out = Render(300);
    int last = -1;
    for (int i = 0; i < 300; ++i)
        if (out[2 * static_cast<size_t>(i)] != 0.0f)
            last = i;
    EXPECT_EQ(last, 199);

    Play(buffer, 44100);
    out = Render(300);
    for (size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ(out[2 * i], samples[i] / 32768.0f) << i;
    EXPECT_EQ(out[2 * 100], 0.0f);
}

TEST_P(MixerTest, PitchShiftingInterpolatesBetweenSamples) {
    // A straight line stays a straight line through the cubic.
    std::vector<int16_t> line;
    for (int i = 0; i < 64; ++i)
        line.push_back(static_cast<int16_t>(i * 256));
    Play(Buffer(line), 22050);
    const auto out = Render(100);
    for (int k = 2; k < 100; ++k)
        ASSERT_NEAR(out[2 * static_cast<size_t>(k)], (k * 0.5) * 256 / 32768.0, 1e-6) << k;

    // Stereo, each channel its own line, at a speed that is no simple fraction.
    std::vector<int16_t> lines;
    for (int i = 0; i < 200; ++i) {
        lines.push_back(static_cast<int16_t>(i * 128));
        lines.push_back(static_cast<int16_t>(-i * 64));
    }
    Play(Buffer(lines, 2), 30011);
    const auto out2 = Render(120);
    const double speed = 30011.0 / 44100.0;
    for (int k = 2; k < 120; ++k) {
        const double x = k * speed;
        ASSERT_NEAR(out2[2 * static_cast<size_t>(k)], x * 128 / 32768.0, 2e-5) << k;
        ASSERT_NEAR(out2[2 * static_cast<size_t>(k) + 1], -x * 64 / 32768.0, 2e-5) << k;
    }
}

TEST_P(MixerTest, VolumeAndPanAttenuateInHundredthsOfADecibel) {
    struct Case {
        int32_t volume;
        int32_t pan;
        double left;
        double right;
    };
    const Case cases[] = {
        {0, 0, 1.0, 1.0},
        {-2000, 0, 0.1, 0.1},
        {-600, 0, std::pow(10.0, -0.3), std::pow(10.0, -0.3)},
        {0, -2000, 1.0, 0.1},
        {0, 2000, 0.1, 1.0},
        {-1000, 9999, std::pow(10.0, -0.5) * std::pow(10.0, -9999 / 2000.0), std::pow(10.0, -0.5)},
        // The bottom of the range is silence, not a very quiet sound.
        {-10000, 0, 0.0, 0.0},
        {0, 10000, 0.0, 1.0},
        // Beyond the range: clamped.
        {500, -20000, 1.0, 0.0},
    };
    const auto buffer = Buffer(std::vector<int16_t>(4, 16384));
    for (const Case& c : cases) {
        Play(buffer, 44100, c.volume, c.pan);
        const auto out = Render(4);
        EXPECT_NEAR(out[0], 0.5 * c.left, 1e-6) << c.volume << " " << c.pan;
        EXPECT_NEAR(out[1], 0.5 * c.right, 1e-6) << c.volume << " " << c.pan;
    }
    // A voice's volume changes while it sounds.
    Play(Buffer(std::vector<int16_t>(200, 16384)));
    Render(10);
    device->SetVoiceVolume(0, -2000);
    EXPECT_NEAR(Render(10)[0], 0.05, 1e-6);
}

TEST_P(MixerTest, StatusFollowsAVoiceFromTriggerToItsEndOrAStop) {
    const auto buffer = Buffer(std::vector<int16_t>(100, 1));
    EXPECT_FALSE(device->IsPlaying(0));
    Play(buffer, 44100, 0, 0, GridTime{0, TimeOf(50), 0.0});
    EXPECT_TRUE(device->IsPlaying(0)) << "a trigger waiting for its frame counts";
    Render(100);
    EXPECT_TRUE(device->IsPlaying(0));
    Render(100);
    EXPECT_FALSE(device->IsPlaying(0));
    Play(buffer);
    Play(buffer, 44100, 0, 0, {}, 1);
    device->StopAllVoices();
    Render(10);
    EXPECT_FALSE(device->IsPlaying(0));
    EXPECT_FALSE(device->IsPlaying(1));
}

TEST_P(MixerTest, AReleasedBufferIsRefusedAndStopsItsVoices) {
    const auto old = Buffer(std::vector<int16_t>(1000, 8000));
    Play(old, 44100, 0, 0, GridTime{0, TimeOf(500), 0.0}, 0);
    Play(old, 44100, 0, 0, {}, 1);
    Render(100);
    device->ReleaseBuffer(old);
    EXPECT_FALSE(device->IsBuffer(old));
    EXPECT_EQ(Play(old), AudioDevice::DSERR_INVALIDPARAM);
    // The next buffer takes the same slot with a new handle.
    const auto next = Buffer(std::vector<int16_t>(1000, 8000));
    EXPECT_NE(next, old);
    const auto out = Render(1000);
    EXPECT_EQ(FirstNonZero(out), -1) << "the old buffer's trigger must not play the new one";
    EXPECT_FALSE(device->IsPlaying(0));
    EXPECT_FALSE(device->IsPlaying(1));
}

TEST_P(MixerTest, SampleDataIsFreedOnlyOnceTheAudioThreadHasLetGoOfIt) {
    const auto buffer = Buffer(std::vector<int16_t>(1000, 8000));
    Play(buffer);
    Render(100);
    device->Collect();
    EXPECT_EQ(device->dataCount(), 1u);
    device->ReleaseBuffer(buffer);
    EXPECT_EQ(device->dataCount(), 1u) << "the audio thread has not seen the release yet";
    Render(64);
    device->Collect();
    EXPECT_EQ(device->dataCount(), 0u);
}

// With nobody draining the lanes (a stream that stopped), commands are dropped and
// counted at once, never waited for, and a dropped trigger leaves its voice idle.
// A device clock 2 % fast (far more than any real one, to be quick), in bursts of four
// callbacks: steps taken at their time would come later and later for their frames, and
// the run's grid would move. Taken sendAheadNs earlier, every one lands on its frame.
TEST_P(MixerTest, StepsTakenAheadOfAFastDeviceClockKeepTheirFrames) {
    const auto onsets = TakeStepsAhead(TimeOf(1000), [this](int callback) {
        if (callback % 4 == 0)
            nowNs = std::llround(TimeOf(static_cast<double>(rendered)) * (1.0 - 0.02));
    });
    ASSERT_GT(onsets.size(), 80u);
    for (size_t i = 0; i < onsets.size(); ++i)
        ASSERT_EQ(onsets[i] - onsets[0], 5250 * static_cast<int>(i)) << i;
    EXPECT_EQ(device->mixer().lateCommands(), 0u);
    EXPECT_NEAR(device->mixer().sendAheadNs(), 200'000'000, 30'000'000) << "10 s at 2 %";
}

// An output that says when each block is heard (a sound server's timing reports): a run
// waits while the output has only guessed, and a device clock 2 % fast still keeps every
// step on its frame, the steps taken as far ahead as the clock has crept.
TEST_P(MixerTest, ExactTimesHoldARunUntilKnownAndFollowAFastClock) {
    AudioDevice::Config config;
    config.mixer.exactTimes = true;
    config.mixer.settleNs = 50'000'000;
    device = std::make_unique<AudioDevice>(std::move(config));
    constexpr int kGuessed = 20;
    const auto onsets = TakeStepsAhead(TimeOf(2000), [this](int callback) {
        if (callback < kGuessed) {
            nowNs = TimeOf(static_cast<double>(rendered)) + 30'000'000;
            device->mixer().TimeUnknown(nowNs);
        } else {
            nowNs = std::llround(TimeOf(static_cast<double>(rendered)) * (1.0 - 0.02));
        }
    });
    ASSERT_GT(onsets.size(), 80u);
    // Known from block 20 on, steady 50 ms (2 205 frames, at 2 % fast 2 250) later.
    EXPECT_GE(onsets[0], kGuessed * 256 + 2250);
    EXPECT_LT(onsets[0], kGuessed * 256 + 2250 + 256);
    for (size_t i = 0; i < onsets.size(); ++i)
        ASSERT_EQ(onsets[i] - onsets[0], 5250 * static_cast<int>(i)) << i;
    EXPECT_NEAR(device->mixer().sendAheadNs(), 200'000'000, 30'000'000) << "10 s at 2 %";
}

// Exact times that jump 512 frames' time at block 600, and step 35 sent after its frame
// (the step clock held up). With keepTimeOverGaps, when the device counted those frames
// (a JACK client that missed cycles) the steps after the gap, waiting or sent after it,
// keep their frames of the device's count (512 sooner in what was rendered); when only
// the time jumped (the server's clock corrected) the grid stays. The late step sounds at
// once without moving the ones after it. Without, the grid moves with the late step.
TEST_P(MixerTest, ExactTimesKeepTheStepsPlacesOverAGapWhenAsked) {
    const double period = 119.04761904761905; // 5250 frames
    const std::pair<bool, bool> cases[] = {{false, false}, {true, true}, {true, false}};
    for (const auto& c : cases) {
        const bool keep = c.first;
        const bool skipped = c.second;
        AudioDevice::Config config;
        config.mixer.exactTimes = true;
        config.mixer.keepTimeOverGaps = keep;
        config.mixer.wideKernels = GetParam();
        device = std::make_unique<AudioDevice>(std::move(config));
        const auto buffer = Buffer(std::vector<int16_t>(10, 10000));
        const auto send = [&](int k) {
            Play(buffer, 44100, 0, 0, GridTime{1, TimeOf(2000), k * period}, k % 16);
        };
        std::vector<float> out(2 * 256 * 1000);
        for (int block = 0; block < 1000; ++block) {
            nowNs = TimeOf(256.0 * block + (block >= 600 ? 512 : 0));
            // Steps 0-29 wait from the start, 30-34 come after the gap, 35 late and the
            // rest after it.
            for (int k = 0; k < 40; ++k)
                if ((block == 0 && k < 30) || (block == 610 && k >= 30 && k < 35) ||
                    (block == 730 && k >= 35))
                    send(k);
            if (block == 600 && skipped)
                device->mixer().FramesSkipped(512);
            device->Render(out.data() + 2 * 256 * block, 256, nowNs);
        }
        const auto onsets = Onsets(out);
        ASSERT_EQ(onsets.size(), 40u) << "keep " << keep << " skipped " << skipped;
        // Step 29 is the first after the gap; 35 sounds when it comes (block 730).
        std::vector<int> expected;
        for (int i = 0; i < 40; ++i)
            expected.push_back(2000 + 5250 * i - (skipped && i >= 29 ? 512 : 0));
        const int moved = 730 * 256 - expected[35];
        for (int i = 35; i < 40; ++i)
            expected[static_cast<size_t>(i)] += i == 35 || !keep ? moved : 0;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(onsets, expected) << "keep " << keep << " skipped " << skipped;
    }
}

// Exact times from a device whose frames run 0.01 % slower than the nominal rate, and a
// clock outside that ticks every 5250 of its frames, stamped through the blocks' times
// (a MIDI clock through JACK). Placed by time, each step sounds on its tick's frame;
// on the grid (origin plus nominal offsets) the run creeps a frame every 10 000.
TEST_P(MixerTest, StepsPlacedByTimeFollowTheDevicesClock) {
    constexpr double kSlow = 1.0001;
    for (const bool byTime : {false, true}) {
        AudioDevice::Config config;
        config.mixer.exactTimes = true;
        config.mixer.wideKernels = GetParam();
        device = std::make_unique<AudioDevice>(std::move(config));
        const auto buffer = Buffer(std::vector<int16_t>(10, 10000));
        const auto tick = [](int k) { return 2000.0 + 5250.0 * k; };
        const int64_t origin = TimeOf(tick(0) * kSlow);
        std::vector<float> out(2 * 256 * 820);
        int k = 0;
        for (int block = 0; block < 820; ++block) {
            // Each step is sent three blocks before its frame, as a step clock would.
            for (; k < 40 && tick(k) < 256.0 * (block + 3); ++k) {
                const double offsetMs = static_cast<double>(TimeOf(tick(k) * kSlow) - origin) / 1e6;
                Play(buffer, 44100, 0, 0, GridTime{1, origin, offsetMs, byTime}, k % 16);
            }
            device->Render(out.data() + 2 * 256 * block, 256, TimeOf(256.0 * block * kSlow));
        }
        const auto onsets = Onsets(out);
        ASSERT_EQ(onsets.size(), 40u) << "by time " << byTime;
        const int last = onsets.back() - static_cast<int>(tick(39));
        if (byTime) {
            for (size_t i = 0; i < onsets.size(); ++i)
                EXPECT_EQ(onsets[i], static_cast<int>(tick(static_cast<int>(i)))) << i;
        } else {
            EXPECT_GE(last, 19) << "the grid creeps";
        }
    }
}

// An output that says when each block is heard, with a lead of 20 ms: blocks are written
// 5 ms before they are heard. A run whose first step comes after its frame (its output
// stood still) starts on the next block and its steps are sent as much later, still in
// time; the MIDI delay follows. A change of the lead is no jump: a run started right
// after one is not held back. The run's end forgets how late it was.
TEST_P(MixerTest, ExactTimesSendALateRunsStepsLaterAndFollowTheLead) {
    constexpr int64_t kMs = 1'000'000;
    AudioDevice::Config config;
    config.mixer.exactTimes = true;
    config.mixer.leadNs = 20 * kMs;
    config.mixer.settleNs = 50 * kMs;
    device = std::make_unique<AudioDevice>(std::move(config));
    const auto buffer = Buffer(std::vector<int16_t>(10, 10000));
    int64_t lead = 20 * kMs;
    std::vector<float> out;
    const auto block = [&] {
        const int64_t wall = TimeOf(static_cast<double>(rendered));
        std::vector<float> samples(2 * 256);
        device->Render(samples.data(), 256, wall + 5 * kMs - lead);
        out.insert(out.end(), samples.begin(), samples.end());
        rendered += 256;
    };
    for (int i = 0; i < 20; ++i)
        block();
    // Sent 30 ms late for a 20 ms lead: heard on the next block, frame 5120, instead of
    // frame 4459 (its moment plus 20 ms, heard 5 ms after the frame's time).
    const double period = 119.04761904761905; // 5250 frames
    const int64_t origin = TimeOf(5120) - 30 * kMs;
    int k = 0;
    for (int b = 0; b < 200; ++b) {
        const int64_t wall = TimeOf(static_cast<double>(rendered));
        for (; wall >= origin + std::llround(k * period * 1e6) - device->mixer().sendAheadNs(); ++k)
            Play(buffer, 44100, 0, 0, GridTime{1, origin, k * period}, k % 16);
        block();
        if (b == 1) {
            EXPECT_NEAR(device->mixer().sendAheadNs(), -TimeOf(5120 - 4459), 1000);
            EXPECT_EQ(device->mixer().soundDelayNs(), 20 * kMs - device->mixer().sendAheadNs());
        }
    }
    const auto onsets = Onsets(out);
    ASSERT_GT(onsets.size(), 8u);
    for (size_t i = 0; i < onsets.size(); ++i)
        ASSERT_EQ(onsets[i], 5120 + 5250 * static_cast<int>(i)) << i;
    EXPECT_EQ(device->mixer().lateCommands(), 0u);

    device->EndRun(1);
    block();
    block();
    EXPECT_EQ(device->mixer().sendAheadNs(), 0);
    // The lead grows by 10 ms: a run right after that starts on its moment plus the new
    // lead, not once the mapping has settled again.
    lead = 30 * kMs;
    device->mixer().SetLead(lead);
    block();
    EXPECT_EQ(device->mixer().LatencyNs(), lead);
    out.clear();
    const int64_t start = rendered;
    const int64_t at = TimeOf(static_cast<double>(rendered)) + 5 * kMs;
    Play(buffer, 44100, 0, 0, GridTime{2, at, 0.0}, 0);
    for (int i = 0; i < 10; ++i)
        block();
    EXPECT_EQ(FirstNonZero(out), std::llround((at + lead - 5 * kMs) * 44100.0 / 1e9) - start);
}

// An output that says when each block is heard, with a lead of 50 ms, writes each block
// 40 ms before it is heard and can write again what is heard more than 5 ms from now. A
// run that starts while all is quiet is written over that queue: heard 6 ms after its
// start (the output's word), not after the queue. Frames in which something sounded are
// never written again, nor is the queue when no whole step waits, when the step falls
// beyond it, or while a voice sounds.
TEST_P(MixerTest, ExactTimesWriteAQuietQueueAgainForARunThatStartsInIt) {
    constexpr int64_t kMs = 1'000'000;
    AudioDevice::Config config;
    config.mixer.exactTimes = true;
    config.mixer.leadNs = 50 * kMs;
    device = std::make_unique<AudioDevice>(std::move(config));
    AudioMixer& mixer = device->mixer();
    const auto click = Buffer(std::vector<int16_t>(10, 10000));
    std::vector<float> out(2 * 20000);
    int64_t end = 0;
    const auto timeOf = [](int64_t frame) { return TimeOf(static_cast<double>(frame)) - 50 * kMs; };
    const auto render = [&](int64_t from, int64_t frames) {
        for (int64_t at = from; at < from + frames; at += 256) {
            const auto n = static_cast<int>(std::min<int64_t>(256, from + frames - at));
            device->Render(out.data() + 2 * at, n, timeOf(at));
        }
        end = std::max(end, from + frames);
    };
    // The output at `end`: what it can write again (heard 5 ms from now on), the moment
    // now, and what the mixer writes again.
    const int64_t most = std::llround(0.035 * 44100);
    const auto wall = [&] { return TimeOf(static_cast<double>(end)) - 40 * kMs; };
    const auto rewind = [&] { return mixer.Rewind(most, timeOf(end)); };
    render(0, 40 * 256);
    mixer.SetRewriteNs(6 * kMs);
    EXPECT_EQ(rewind(), 0) << "nothing waits";
    // A click at frame 10340, then a run started at once: it goes on the first quiet frame.
    Play(click, 44100, 0, 0, GridTime{0, timeOf(10340), 0.0}, 1);
    render(end, 512);
    Play(click, 44100, 0, 0, GridTime{1, mixer.EarliestNs(wall()), 0.0}, 0);
    mixer.StepSent();
    EXPECT_EQ(rewind(), 10752 - 10496) << "back to the block after the click";
    render(10496, 256 + 8 * 256);
    // All quiet: the next run is heard 6 ms from now.
    const int64_t heard = std::llround(static_cast<double>(wall() + 6 * kMs) * 44100 / 1e9);
    Play(click, 44100, 0, 0, GridTime{2, mixer.EarliestNs(wall()), 0.0}, 0);
    EXPECT_EQ(rewind(), 0) << "the step is not all sent yet";
    mixer.StepSent();
    EXPECT_EQ(rewind(), end - heard);
    render(heard, end - heard + 256);
    // A run that starts beyond the queue keeps its frame.
    const int64_t beyond = end + 500;
    Play(click, 44100, 0, 0, GridTime{3, timeOf(beyond), 0.0}, 0);
    mixer.StepSent();
    EXPECT_EQ(rewind(), 0);
    render(end, 1024);
    // A voice that still sounds: nothing is written again.
    Play(Buffer(std::vector<int16_t>(5000, 10000)), 44100, 0, 0, GridTime{0, timeOf(end), 0.0}, 2);
    render(end, 256);
    EXPECT_EQ(mixer.EarliestNs(wall()), mixer.nextFrameNs());
    Play(click, 44100, 0, 0, GridTime{4, wall(), 0.0}, 0);
    mixer.StepSent();
    EXPECT_EQ(rewind(), 0);
    out.resize(2 * static_cast<size_t>(end - 512));
    const auto onsets = Onsets(out);
    ASSERT_EQ(onsets.size(), 4u);
    EXPECT_EQ(onsets[0], 10340);
    EXPECT_EQ(onsets[1], 10496);
    EXPECT_NEAR(onsets[2], heard, 1.0);
    EXPECT_EQ(onsets[3], beyond);
}

TEST_P(MixerTest, AFullLaneDropsCommandsWithoutWaiting) {
    const auto buffer = Buffer(std::vector<int16_t>(10, 1)); // one command in the lane
    for (size_t i = 1; i < AudioMixer::kLaneCapacity; ++i)
        device->StopVoice(kWindow, 0, device->Now());
    EXPECT_EQ(device->droppedCommands(), 0u);
    EXPECT_EQ(Play(buffer, 44100, 0, 0, {}, 3), AudioDevice::DSERR_ALLOCATED);
    device->SetVoiceVolume(3, 0);
    EXPECT_EQ(device->droppedCommands(), 2u);
    EXPECT_FALSE(device->IsPlaying(3));
}

TEST_P(MixerTest, BuffersRefuseBadFormatsAndSizes) {
    AudioDevice::BufferId id = 7;
    WaveFormat adpcm = Pcm16Format(1, 44100);
    adpcm.formatTag = 2;
    EXPECT_EQ(device->CreateSoundBuffer(adpcm, 100, &id), AudioDevice::DSERR_BADFORMAT);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(device->CreateSoundBuffer(Pcm16Format(1, 44100), 0, &id),
              AudioDevice::DSERR_INVALIDPARAM);
    EXPECT_EQ(
        device->CreateSoundBuffer(Pcm16Format(1, 44100), AudioDevice::kMaxBufferBytes + 1, &id),
        AudioDevice::DSERR_OUTOFMEMORY);
    EXPECT_EQ(Play(12345), AudioDevice::DSERR_INVALIDPARAM);
}

// A live stream that has not settled yet (here: its first callbacks) holds a new run
// until it has; the run then starts on the frame being rendered and keeps its spacing.
class UnsettledMixerTest : public MixerTest {
protected:
    UnsettledMixerTest() : MixerTest(TimeOf(2000)) {}
};

TEST_P(UnsettledMixerTest, ARunStartedBeforeTheStreamSettlesStartsWhenItDoes) {
    const auto buffer = Buffer(std::vector<int16_t>(10, 10000));
    for (int k = 0; k < 3; ++k)
        Play(buffer, 44100, 0, 0, GridTime{1, 0, k * 10.0}, k); // due at 0, 441, 882
    auto out = Render(2048, 256);
    // A step that arrives with the callback at which the stream settles does not place
    // the run: its oldest step does.
    Play(buffer, 44100, 0, 0, GridTime{1, 0, 30.0}, 3);
    const auto rest = Render(2048, 256);
    out.insert(out.end(), rest.begin(), rest.end());
    // Settled at the callback of frame 2048 (2000 frames after the first one).
    EXPECT_EQ(Onsets(out), (std::vector<int>{2048, 2048 + 441, 2048 + 882, 2048 + 1323}));
    EXPECT_EQ(device->mixer().lateCommands(), 0u);
}

const auto kKernelName = [](const auto& info) { return info.param ? "Wide" : "Baseline"; };
INSTANTIATE_TEST_SUITE_P(Kernels, MixerTest, ::testing::Values(true, false), kKernelName);
INSTANTIATE_TEST_SUITE_P(Kernels, UnsettledMixerTest, ::testing::Values(true, false), kKernelName);

// A new stream at another rate (a device change, an output opened again): a sounding
// voice keeps its pitch, and the next step of a run lands on its time in the new stream.
TEST(MixerRestart, VoicesKeepTheirPitchAndRunsTheirTimesOnANewStream) {
    int64_t now = 0;
    AudioDevice::Config config;
    config.clock = [&now] { return now; };
    AudioDevice device(std::move(config));
    AudioDevice::BufferId line = 0;
    std::vector<int16_t> ramp;
    for (int i = 0; i < 4000; ++i)
        ramp.push_back(static_cast<int16_t>(i * 2));
    device.CreateSoundBuffer(Pcm16Format(1, 44100), ramp.size() * 2, &line);
    uint8_t* p = nullptr;
    uint64_t size = 0;
    device.Lock(line, &p, &size);
    std::memcpy(p, ramp.data(), size);
    device.Unlock(line, size);
    AudioDevice::BufferId dc = 0;
    device.CreateSoundBuffer(Pcm16Format(1, 44100), 200, &dc);
    device.Lock(dc, &p, &size);
    for (uint64_t i = 0; i < size; i += 2)
        p[i + 1] = 0x20; // 8192
    device.Unlock(dc, size);
    auto render = [&](int frames, double rate) {
        std::vector<float> out(static_cast<size_t>(frames) * 2);
        device.Render(out.data(), frames, now);
        now += std::llround(frames * 1e9 / rate);
        return out;
    };
    device.Trigger(AudioMixer::kWindowLane, 0, line, {44100, 0, 0}, device.Now());
    render(1000, 44100);
    AudioMixer::Config at48;
    at48.rate = 48000;
    device.Restart(at48);
    // The step of run 3 due 50 ms after the restart.
    const int64_t restartNs = now;
    device.Trigger(AudioMixer::kStepClockLane, 1, dc, {44100, 0, 0},
                   GridTime{3, restartNs - 1000000000, 1050.0});
    const auto out = render(4800, 48000);
    // The sounding voice goes on from sample 1000 at 44 100 / 48 000 of a sample a frame.
    EXPECT_NEAR(out[2 * 480], (1000 + 480 * 44100.0 / 48000.0) * 2 / 32768.0, 1e-4);
    // Voice 1 starts on frame 2400 of the new stream (50 ms at 48 kHz): the sum jumps.
    EXPECT_NEAR((out[2 * 2399] - out[2 * 2398]) * 32768.0, 2 * 44100.0 / 48000.0, 0.1);
    EXPECT_NEAR((out[2 * 2400] - out[2 * 2399]) * 32768.0, 8192 + 2 * 44100.0 / 48000.0, 0.1);
}

TEST(MixerLimit, PassesUpToTheKneeAndBendsLouderSamplesBelowFullScale) {
    const std::vector<float> in = {0.0f, 0.5f, -0.89f, 0.9f, 0.95f, -1.0f, 1.5f, 3.0f, -3.0f, 1e9f};
    std::vector<float> out = in;
    AudioMixer::Limit(out.data(), out.size());
    for (size_t i = 0; i < in.size(); ++i) {
        if (std::fabs(in[i]) <= 0.89f) {
            EXPECT_EQ(out[i], in[i]) << in[i];
        }
        EXPECT_LE(std::fabs(out[i]), 1.0f) << in[i];
        EXPECT_EQ(std::signbit(out[i]), std::signbit(in[i])) << in[i];
        if (i > 0 && std::fabs(in[i]) > std::fabs(in[i - 1])) {
            EXPECT_GE(std::fabs(out[i]), std::fabs(out[i - 1])) << in[i];
        }
    }
    // Just above the knee the curve goes on smoothly.
    std::vector<float> edge = {0.8912509f, 0.8922509f};
    AudioMixer::Limit(edge.data(), edge.size());
    EXPECT_NEAR(edge[1] - edge[0], 0.001f, 2e-5f);
}

TEST(SpscQueue, CarriesEveryItemInOrderBetweenTwoThreads) {
    static SpscQueue<uint64_t, 64> queue;
    constexpr uint64_t kItems = 200000;
    std::thread producer([] {
        for (uint64_t i = 0; i < kItems;) {
            if (queue.Push(i))
                ++i;
            else
                std::this_thread::yield();
        }
    });
    uint64_t expected = 0;
    while (expected < kItems) {
        uint64_t item = 0;
        if (queue.Pop(item)) {
            ASSERT_EQ(item, expected);
            ++expected;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    uint64_t extra = 0;
    EXPECT_FALSE(queue.Pop(extra));
}

} // namespace
} // namespace mb
