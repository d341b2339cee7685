// Synthesises the demo kit: sixteen short drum sounds, 44 100 Hz mono 16-bit WAV files,
// written into the folder given as the only argument.
//
// Every sound starts on its loudest edge (its first sample is well above silence) and
// has faded to exact silence after at most 100 ms, shorter than one step at the
// default tempo, so that each step's onset can be found to the sample in a recording.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "engine/WaveWriter.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr double kMaxSeconds = 0.1;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// A repeatable noise source, the same on every machine.
class Noise {
public:
    double Next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state_ >> 11) / 4503599627370496.0 - 1.0;
    }

private:
    uint64_t state_ = 0x9E3779B97F4A7C15ULL;
};

// Renders `seconds` of f(t) (t in seconds), shapes the end to silence and normalises
// the peak.
std::vector<float> Make(double seconds, const std::function<double(double)>& f, double peak) {
    const auto frames = static_cast<size_t>(std::min(seconds, kMaxSeconds) * kRate);
    std::vector<float> out(frames);
    double top = 0.0;
    std::vector<double> raw(frames);
    for (size_t i = 0; i < frames; ++i) {
        raw[i] = f(static_cast<double>(i) / kRate);
        top = std::max(top, std::abs(raw[i]));
    }
    const size_t fade = frames / 5;
    for (size_t i = 0; i < frames; ++i) {
        double g = top > 0.0 ? peak / top : 0.0;
        if (i + fade >= frames)
            g *= static_cast<double>(frames - 1 - i) / static_cast<double>(fade);
        out[i] = static_cast<float>(raw[i] * g);
    }
    // The onset is the first sample, at full peak.
    if (!out.empty())
        out[0] = static_cast<float>(raw[0] < 0.0 ? -peak : peak);
    return out;
}

double Decay(double t, double time) {
    return std::exp(-t / time);
}

// A sine that starts at its crest, so that the first sample is the loudest.
double Tone(double t, double hz) {
    return std::cos(kTwoPi * hz * t);
}

// A tone whose frequency falls from `from` to `to` with the time constant `glide`.
std::function<double(double)> Drop(double from, double to, double glide, double decay) {
    return [=](double t) {
        const double phase = kTwoPi * (to * t + (from - to) * glide * (1.0 - std::exp(-t / glide)));
        return std::cos(phase) * Decay(t, decay);
    };
}

struct KitSound {
    const char* name;
    std::vector<float> samples;
};

std::vector<KitSound> MakeKit() {
    Noise n;
    auto noisy = [&n](double amount, double decay, double tone, double hz, double toneDecay) {
        return [&n, amount, decay, tone, hz, toneDecay](double t) {
            return amount * n.Next() * Decay(t, decay) + tone * Tone(t, hz) * Decay(t, toneDecay);
        };
    };
    std::vector<KitSound> kit;
    kit.push_back({"01-kick.wav", Make(0.1, Drop(160.0, 48.0, 0.012, 0.045), 0.95)});
    kit.push_back({"02-snare.wav", Make(0.1, noisy(0.7, 0.03, 0.6, 190.0, 0.02), 0.9)});
    kit.push_back({"03-closed-hat.wav", Make(0.05, noisy(1.0, 0.008, 0.0, 0.0, 1.0), 0.7)});
    kit.push_back({"04-open-hat.wav", Make(0.1, noisy(1.0, 0.04, 0.0, 0.0, 1.0), 0.6)});
    kit.push_back({"05-clap.wav", Make(
                                      0.1,
                                      [&n](double t) {
                                          const double bursts =
                                              std::fmod(t, 0.011) < 0.004 && t < 0.033 ? 1.0 : 0.35;
                                          return n.Next() * bursts * Decay(t, 0.03);
                                      },
                                      0.85)});
    kit.push_back({"06-low-tom.wav", Make(0.1, Drop(140.0, 90.0, 0.03, 0.05), 0.9)});
    kit.push_back({"07-mid-tom.wav", Make(0.1, Drop(200.0, 130.0, 0.03, 0.045), 0.9)});
    kit.push_back({"08-high-tom.wav", Make(0.1, Drop(280.0, 190.0, 0.03, 0.04), 0.9)});
    kit.push_back({"09-rim.wav", Make(0.03, noisy(0.4, 0.003, 1.0, 1700.0, 0.006), 0.8)});
    kit.push_back(
        {"10-cowbell.wav",
         Make(
             0.1,
             [](double t) { return (Tone(t, 562.0) + 0.8 * Tone(t, 845.0)) * Decay(t, 0.035); },
             0.7)});
    kit.push_back({"11-clave.wav",
                   Make(
                       0.04, [](double t) { return Tone(t, 2500.0) * Decay(t, 0.01); }, 0.8)});
    kit.push_back(
        {"12-shaker.wav",
         Make(
             0.07,
             [&n](double t) { return n.Next() * (0.4 + 0.6 * Decay(t, 0.02)) * Decay(t, 0.03); },
             0.5)});
    kit.push_back({"13-crash.wav", Make(0.1, noisy(1.0, 0.08, 0.3, 430.0, 0.05), 0.7)});
    kit.push_back({"14-conga.wav", Make(0.1, Drop(420.0, 330.0, 0.01, 0.04), 0.85)});
    kit.push_back({"15-zap.wav", Make(0.1, Drop(2200.0, 180.0, 0.02, 0.05), 0.6)});
    kit.push_back(
        {"16-blip.wav", Make(
                            0.06, [](double t) { return Tone(t, 1320.0) * Decay(t, 0.02); }, 0.6)});
    return kit;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: marrowbeat-kitsynth FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    for (const KitSound& sound : MakeKit()) {
        const std::string path = folder + "/" + sound.name;
        const auto bytes =
            mb::WaveWriter::Encode(sound.samples, 1, kRate, mb::WaveWriter::Encoding::kPcm16);
        if (!mb::WaveWriter::WriteFile(path, bytes)) {
            std::fprintf(stderr, "marrowbeat-kitsynth: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
