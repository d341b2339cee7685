#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "platform/AudioDevice.h"
#include "platform/SpscQueue.h"

namespace mb {
namespace {

constexpr AudioMixer::Lane kWindow = AudioMixer::kWindowLane;
constexpr AudioMixer::Lane kClock = AudioMixer::kStepClockLane;

WaveFormat Pcm16Format(uint16_t channels, uint32_t rate) {
    WaveFormat f;
    f.formatTag = WAVE_FORMAT_PCM;
    f.channels = channels;
    f.samplesPerSec = rate;
    f.bitsPerSample = 16;
    f.blockAlign = static_cast<uint16_t>(2 * channels);
    f.avgBytesPerSec = rate * f.blockAlign;
    return f;
}

// An offline device rendered block by block; its clock is the time of the next frame
// to render, so "now" commands sound on that frame.
class MixerTest : public ::testing::TestWithParam<bool> {
protected:
    MixerTest() {
        AudioDevice::Config config;
        // Both the eight-frame kernels (where the processor has them) and the baseline.
        config.mixer.wideKernels = GetParam();
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

    AudioDevice::VoiceId Voice(AudioDevice::BufferId buffer) {
        AudioDevice::VoiceId v = 0;
        EXPECT_EQ(device->DuplicateSoundBuffer(buffer, &v), AudioDevice::DS_OK);
        return v;
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

    static std::vector<int16_t> Ramp(int n) {
        std::vector<int16_t> v;
        for (int i = 0; i < n; ++i)
            v.push_back(static_cast<int16_t>((i * 997) % 60001 - 30000));
        return v;
    }

    static int FirstNonZero(const std::vector<float>& out) {
        for (size_t i = 0; i < out.size(); ++i)
            if (out[i] != 0.0f)
                return static_cast<int>(i / 2);
        return -1;
    }

    int64_t nowNs = 0;
    int64_t rendered = 0;
    std::unique_ptr<AudioDevice> device;
};

TEST_P(MixerTest, AVoiceAtItsFilesRatePlaysTheSamplesBitForBit) {
    const auto mono = Ramp(300);
    const auto voice = Voice(Buffer(mono));
    device->Play(kWindow, voice);
    const auto out = Render(400);
    for (size_t i = 0; i < mono.size(); ++i) {
        ASSERT_EQ(out[2 * i], mono[i] / 32768.0f) << i;
        ASSERT_EQ(out[2 * i + 1], mono[i] / 32768.0f) << i;
    }
    for (size_t i = mono.size(); i < 400; ++i)
        ASSERT_EQ(out[2 * i], 0.0f);

    const auto stereo = Ramp(200);
    const auto v2 = Voice(Buffer(stereo, 2));
    device->Play(kWindow, v2);
    const auto out2 = Render(150);
    for (size_t i = 0; i < stereo.size(); ++i)
        ASSERT_EQ(out2[i], stereo[i] / 32768.0f) << i;
}

TEST_P(MixerTest, TimedCommandsSoundOnTheirFrameWhateverTheBlockSize) {
    const auto voice = Voice(Buffer(std::vector<int16_t>(5000, 10000)));
    for (int block : {1, 64, 256, 1000}) {
        const int64_t base = rendered;
        device->SetCurrentPosition(kClock, voice, 0, TimeOf(base + 1000.3));
        device->Play(kClock, voice, TimeOf(base + 1000.3));
        device->Stop(kClock, voice, TimeOf(base + 1499.6));
        const auto out = Render(2000, block);
        EXPECT_EQ(FirstNonZero(out), 1000) << block;
        EXPECT_NE(out[2 * 1499], 0.0f) << block;
        EXPECT_EQ(out[2 * 1500], 0.0f) << block;
    }
    EXPECT_EQ(device->mixer().lateCommands(), 0u);
}

TEST_P(MixerTest, ACommandThatArrivesLateSoundsAtTheStartOfTheNextBlock) {
    const auto voice = Voice(Buffer(std::vector<int16_t>(500, 10000)));
    Render(1000);
    device->Play(kClock, voice, TimeOf(900));
    const auto out = Render(100);
    EXPECT_EQ(FirstNonZero(out), 0);
    EXPECT_EQ(device->mixer().lateCommands(), 1u);
}

TEST_P(MixerTest, TheFrequencySetsThePlaybackSpeedAgainstTheOutputRate) {
    // A 22 050 Hz sound lasts twice its frames at its own rate, and plays its samples
    // unchanged (an octave high) at 44 100 Hz.
    const auto samples = Ramp(100);
    const auto voice = Voice(Buffer(samples, 1, 22050));
    device->Play(kWindow, voice);
    auto out = Render(300);
    int last = -1;
    for (int i = 0; i < 300; ++i)
        if (out[2 * static_cast<size_t>(i)] != 0.0f)
            last = i;
    EXPECT_EQ(last, 199);

    device->SetCurrentPosition(kWindow, voice, 0);
    device->SetFrequency(kWindow, voice, 44100);
    device->Play(kWindow, voice);
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
    const auto voice = Voice(Buffer(line));
    device->SetFrequency(kWindow, voice, 22050);
    device->Play(kWindow, voice);
    const auto out = Render(100);
    for (int k = 2; k < 100; ++k)
        ASSERT_NEAR(out[2 * static_cast<size_t>(k)], (k * 0.5) * 256 / 32768.0, 1e-6) << k;

    device->Stop(kWindow, voice);
    // Stereo, each channel its own line, at a speed that is no simple fraction.
    std::vector<int16_t> lines;
    for (int i = 0; i < 200; ++i) {
        lines.push_back(static_cast<int16_t>(i * 128));
        lines.push_back(static_cast<int16_t>(-i * 64));
    }
    const auto stereo = Voice(Buffer(lines, 2));
    device->SetFrequency(kWindow, stereo, 30011);
    device->Play(kWindow, stereo);
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
        {-1000, 10000, std::pow(10.0, -0.5) * 1e-5, std::pow(10.0, -0.5)},
        {-10000, 0, 1e-5, 1e-5},
        // Beyond the range: clamped.
        {500, -20000, 1.0, 1e-5},
    };
    const auto voice = Voice(Buffer(std::vector<int16_t>(4, 16384)));
    for (const Case& c : cases) {
        device->SetCurrentPosition(kWindow, voice, 0);
        device->SetVolume(kWindow, voice, c.volume);
        device->SetPan(kWindow, voice, c.pan);
        device->Play(kWindow, voice);
        const auto out = Render(4);
        EXPECT_NEAR(out[0], 0.5 * c.left, 1e-6) << c.volume << " " << c.pan;
        EXPECT_NEAR(out[1], 0.5 * c.right, 1e-6) << c.volume << " " << c.pan;
    }
}

TEST_P(MixerTest, StatusFollowsAVoiceFromPlayToItsEnd) {
    const auto voice = Voice(Buffer(std::vector<int16_t>(100, 1)));
    uint32_t status = 9;
    EXPECT_EQ(device->GetStatus(voice, &status), AudioDevice::DS_OK);
    EXPECT_EQ(status, 0u);
    device->Play(kClock, voice, TimeOf(50));
    device->GetStatus(voice, &status);
    EXPECT_EQ(status, AudioDevice::DSBSTATUS_PLAYING) << "a Play waiting for its frame counts";
    Render(100);
    device->GetStatus(voice, &status);
    EXPECT_EQ(status, AudioDevice::DSBSTATUS_PLAYING);
    Render(100);
    device->GetStatus(voice, &status);
    EXPECT_EQ(status, 0u);
}

TEST_P(MixerTest, AReleasedVoiceIsRefusedAndItsSlotsNextVoiceIgnoresOldCommands) {
    const auto buffer = Buffer(std::vector<int16_t>(1000, 8000));
    const auto old = Voice(buffer);
    device->Play(kClock, old, TimeOf(500));
    device->ReleaseVoice(old);
    EXPECT_FALSE(device->IsVoice(old));
    EXPECT_EQ(device->SetVolume(kWindow, old, 0), AudioDevice::DSERR_INVALIDPARAM);
    uint32_t status = 0;
    EXPECT_EQ(device->GetStatus(old, &status), AudioDevice::DSERR_INVALIDPARAM);
    // The next voice takes the same slot with a new handle.
    const auto next = Voice(buffer);
    EXPECT_NE(next, old);
    const auto out = Render(1000);
    EXPECT_EQ(FirstNonZero(out), -1) << "the old voice's Play must not start the new voice";
}

TEST_P(MixerTest, SampleDataIsFreedOnlyOnceTheAudioThreadHasLetGoOfIt) {
    const auto buffer = Buffer(std::vector<int16_t>(1000, 8000));
    const auto voice = Voice(buffer);
    device->Play(kWindow, voice);
    Render(100);
    device->Collect();
    EXPECT_EQ(device->dataCount(), 1u);
    device->ReleaseBuffer(buffer);
    EXPECT_EQ(device->dataCount(), 1u) << "the voice still plays the data";
    device->ReleaseVoice(voice);
    EXPECT_EQ(device->dataCount(), 1u) << "the audio thread has not seen the release yet";
    Render(64);
    device->Collect();
    EXPECT_EQ(device->dataCount(), 0u);
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
    AudioDevice::VoiceId v = 0;
    EXPECT_EQ(device->DuplicateSoundBuffer(12345, &v), AudioDevice::DSERR_INVALIDPARAM);
}

INSTANTIATE_TEST_SUITE_P(Kernels, MixerTest, ::testing::Values(true, false), [](const auto& info) {
    return info.param ? "Wide" : "Baseline";
});

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
