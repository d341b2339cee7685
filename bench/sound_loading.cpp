// Loading: a folder of 128 sounds of 1 s each (16-bit stereo, 44 100 Hz), scanned and
// loaded into master buffers with a voice for every step, as "Import Sounds" does.
// Prints the best and the median of several runs.
//
//   bench_sound_loading [runs, default 7]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "ScriptedPrompts.h"
#include "engine/SoundEngine.h"
#include "engine/WaveWriter.h"
#include "files/SoundFolder.h"
#include "model/Setup.h"

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::string pattern =
        (std::filesystem::temp_directory_path() / "marrowbeat-load-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        return 1;
    const std::string folder = pattern;
    constexpr int kSounds = 128;
    constexpr uint32_t kRate = 44100;
    for (int i = 0; i < kSounds; ++i) {
        std::vector<float> samples(2 * kRate);
        for (size_t k = 0; k < samples.size(); ++k)
            samples[k] =
                static_cast<float>(0.5 * std::sin(0.01 * static_cast<double>(k) * (i + 1)));
        char name[32];
        std::snprintf(name, sizeof name, "/sound%03d.wav", i);
        mb::WaveWriter::WriteFile(
            folder + name,
            mb::WaveWriter::Encode(samples, 2, kRate, mb::WaveWriter::Encoding::kPcm16));
    }

    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        mb::Setup setup;
        mb::ScriptedPrompts prompts;
        mb::SoundEngine engine;
        engine.Init(&setup, &prompts,
                    [] { return std::make_unique<mb::AudioDevice>(mb::AudioDevice::Config{}); });
        mb::SoundFolder sounds(setup, engine, prompts, {});
        const auto start = std::chrono::steady_clock::now();
        const bool ok = sounds.ScanSoundFolder(folder);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (!ok || !prompts.notes.empty() || engine.soundCount() != kSounds) {
            std::fprintf(stderr, "bench_sound_loading: the folder did not load\n");
            return 1;
        }
    }
    std::filesystem::remove_all(folder);
    std::sort(times.begin(), times.end());
    std::printf("Loading %d sounds of 1 s (16-bit stereo): scan and load best %.1f ms, median %.1f "
                "ms over %d runs (files in the page cache)\n",
                kSounds, times.front(), times[times.size() / 2], runs);
    return 0;
}
