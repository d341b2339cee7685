// Mixer throughput: 128 voices playing pitched sounds at once (every voice at its own
// speed, so every one interpolates), rendered offline on one core. Prints the audio
// seconds mixed per second of processor time: the multiple of real time. Once with mono
// sounds (like the demo kit), once with half of them stereo.
//
//   bench_mixer_throughput [seconds of audio, default 60]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "WaveFiles.h"
#include "audio/AudioDevice.h"

namespace {

constexpr int kVoices = 128;
constexpr uint32_t kRate = 44100;
constexpr int kBlock = 256;

// Mixes `seconds` of audio with 128 voices.
void Measure(double seconds, bool someStereo) {
    int64_t now = 0;
    mb::AudioDevice::Config config;
    config.clock = [&now] { return now; };
    mb::AudioDevice device(std::move(config));

    // Eight sounds of 4 s, mono or (every other one) stereo.
    std::vector<mb::AudioDevice::BufferId> buffers;
    for (int b = 0; b < 8; ++b) {
        const uint16_t channels = someStereo && b % 2 == 1 ? 2 : 1;
        const uint64_t frames = 4 * kRate;
        mb::AudioDevice::BufferId id = 0;
        device.CreateSoundBuffer(mb::test::Pcm16Format(channels, kRate), frames * 2 * channels,
                                 &id);
        uint8_t* p = nullptr;
        uint64_t size = 0;
        device.Lock(id, &p, &size);
        for (uint64_t i = 0; i < size / 2; ++i) {
            const auto s =
                static_cast<int16_t>(8000 * std::sin(0.001 * static_cast<double>(i) * (b + 1)));
            p[2 * i] = static_cast<uint8_t>(s & 0xFF);
            p[2 * i + 1] = static_cast<uint8_t>((s >> 8) & 0xFF);
        }
        device.Unlock(id, size);
        buffers.push_back(id);
    }
    std::vector<mb::AudioDevice::VoiceStart> starts;
    for (int v = 0; v < kVoices; ++v) {
        mb::AudioDevice::VoiceStart start;
        // Pitches from about an octave down to an octave up, none at the file's rate.
        start.hz = 22050 + 345 * v + 7;
        start.volume = -1200;
        start.pan = (v % 21 - 10) * 500;
        starts.push_back(start);
    }

    std::vector<float> out(2 * kBlock);
    const auto totalFrames = static_cast<int64_t>(seconds * kRate);
    // Every voice restarts each second, so that all 128 always play.
    const int64_t restartFrames = kRate;
    double checksum = 0.0;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    for (int64_t frame = 0; frame < totalFrames; frame += kBlock) {
        if (frame % restartFrames < kBlock) {
            for (int v = 0; v < kVoices; ++v)
                device.Trigger(mb::AudioMixer::kWindowLane, v, buffers[static_cast<size_t>(v % 8)],
                               starts[static_cast<size_t>(v)], device.Now());
        }
        now = frame * 1000000000 / kRate;
        device.Render(out.data(), kBlock, now);
        checksum += out[0];
    }
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int playing = 0;
    for (int v = 0; v < kVoices; ++v)
        playing += device.IsPlaying(v) ? 1 : 0;
    std::printf("Mixer: %d pitched voices, %s (%d still playing at the end): %.0f s of audio in "
                "%.3f s of processor time (%.3f s wall): %.0fx real time (checksum %.3f)\n",
                kVoices, someStereo ? "half of them stereo" : "all mono", playing, seconds, cpu,
                wall, seconds / cpu, checksum);
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 60.0;
    Measure(seconds, false);
    Measure(seconds, true);
    return 0;
}
