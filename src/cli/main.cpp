// marrowbeat-cli: the program's engine without its window.
//
//   marrowbeat-cli render [SETUP.mbx] [--sounds DIR] -o OUT.wav [--seconds S] [--bpm B]
//                         [--float]
//
// plays a setup (without one, the new setup: sound j on step j, every step on) through
// the same sequencer, sound engine and mixer as live playback, driven by a virtual
// clock, and writes the result as a 44 100 Hz stereo WAV file (16-bit, or 32-bit float
// with --float), faster than real time. A setup plays from its selected loop through
// its loop chain with its own tempo, step count, mute, master volume and polyphonic
// mode, with the sounds of its sound folder found as opening it finds them (without
// asking: --sounds names the folder when it cannot be found).
//
//   marrowbeat-cli info SETUP.mbx
//
// prints the setup as JSON, as the program holds it after opening it.
//
//   marrowbeat-cli --version
//
// prints the program's version.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "Version.h"
#include "engine/OfflineSession.h"
#include "engine/WaveWriter.h"
#include "files/PathNames.h"
#include "files/SetupDocument.h"
#include "files/SetupJson.h"
#include "files/SoundFolder.h"
#include "model/Setup.h"
#include "platform/Prompts.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr double kDefaultSeconds = 8.0;
constexpr double kMaxSeconds = 3600.0;
// --bpm takes a narrower range than the window's tempo: a render of an hour at the
// window's highest tempo would play billions of steps.
constexpr double kRenderMinBpm = 1.0;
constexpr double kRenderMaxBpm = 10000.0;
constexpr const char* kUsage =
    "usage: marrowbeat-cli render [SETUP.mbx] [--sounds DIR] -o OUT.wav [--seconds S] "
    "[--bpm B] [--float] | marrowbeat-cli info SETUP.mbx | marrowbeat-cli --version";

// Without a window, a message is one line on standard error and every dialog is
// cancelled.
class ConsolePrompts : public mb::Prompts {
public:
    void ShowNote(const std::string& text) override {
        std::string line = text;
        for (char& c : line)
            if (c == '\n')
                c = ' ';
        std::fprintf(stderr, "marrowbeat-cli: %s\n", line.c_str());
    }
    int SaveChanges(const std::string&) override { return kCancel; }
    bool OkCancel(const std::string&) override { return false; }
    std::optional<std::string> OpenSetupPath() override { return std::nullopt; }
    std::optional<std::string> SaveSetupPath(const std::string&) override { return std::nullopt; }
    std::optional<std::string> ImportSoundFile() override { return std::nullopt; }
    std::optional<uint32_t> PickColor(uint32_t) override { return std::nullopt; }
    std::optional<mb::MidiChoice> ChooseMidi(const mb::MidiChoice&,
                                             const std::vector<mb::MidiPortId>&,
                                             const std::vector<mb::MidiPortId>&) override {
        return std::nullopt;
    }
};

struct RenderOptions {
    std::string setupPath;
    std::string sounds;
    std::string output;
    double seconds = kDefaultSeconds;
    double bpm = 0.0;
    bool floatOutput = false;
};

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "marrowbeat-cli: %s\n", message.c_str());
    return code;
}

bool ParseNumber(const std::string& text, double low, double high, double& out) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != '\0' || !std::isfinite(v) || v < low || v > high)
        return false;
    out = v;
    return true;
}

// Parses the arguments after "render"; an error message, or nothing when they are good.
std::optional<std::string> ParseRender(const std::vector<std::string>& args, RenderOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--float") {
            o.floatOutput = true;
            continue;
        }
        if (!a.starts_with("-") && o.setupPath.empty()) {
            o.setupPath = a;
            continue;
        }
        if (a != "--sounds" && a != "-o" && a != "--output" && a != "--seconds" && a != "--bpm")
            return "unknown argument '" + a + "'";
        if (i + 1 >= args.size())
            return "'" + a + "' needs a value";
        const std::string& v = args[++i];
        if (a == "--sounds") {
            o.sounds = v;
        } else if (a == "-o" || a == "--output") {
            o.output = v;
        } else if (a == "--seconds") {
            if (!ParseNumber(v, 0.001, kMaxSeconds, o.seconds))
                return "--seconds must be a number from 0.001 to 3600, not '" + v + "'";
        } else if (!ParseNumber(v, kRenderMinBpm, kRenderMaxBpm, o.bpm)) {
            return "--bpm must be a number from 1 to 10000, not '" + v + "'";
        }
    }
    if (o.sounds.empty() && o.setupPath.empty())
        return std::string("--sounds DIR is missing");
    if (o.output.empty())
        return std::string("-o OUT.wav is missing");
    return std::nullopt;
}

int Render(const RenderOptions& o) {
    mb::Setup setup;
    std::string sounds = o.sounds;
    if (!o.setupPath.empty()) {
        const auto read = mb::SetupDocument::ReadFile(o.setupPath);
        if (!read.error.empty())
            return Fail(kExitFailure, read.error);
        read.record.ApplyTo(setup);
        if (sounds.empty()) {
            const auto found = mb::PathNames::ExistingSoundFolder(setup.soundFolder, o.setupPath);
            if (!found)
                return Fail(kExitFailure, "cannot find the sound folder '" + setup.soundFolder +
                                              "' of '" + o.setupPath + "' (name one with --sounds)");
            sounds = *found;
        }
    }
    if (o.bpm > 0.0)
        setup.bpm = o.bpm;
    ConsolePrompts prompts;
    mb::OfflineSession session(setup, prompts);
    mb::SoundFolder folder(setup, session.engine(), prompts, {});
    if (!folder.ScanSoundFolder(sounds))
        return Fail(kExitFailure, "cannot read the sound folder '" + sounds + "'");

    const auto frames = static_cast<int64_t>(std::llround(o.seconds * mb::OfflineSession::kRate));
    const std::vector<float> samples = session.Render(frames);
    const auto encoding =
        o.floatOutput ? mb::WaveWriter::Encoding::kFloat32 : mb::WaveWriter::Encoding::kPcm16;
    const auto bytes = mb::WaveWriter::Encode(samples, 2, mb::OfflineSession::kRate, encoding);
    if (!mb::WaveWriter::WriteFile(o.output, bytes))
        return Fail(kExitFailure, "cannot write '" + o.output + "'");

    int loaded = 0;
    for (int i = 0; i < session.engine().soundCount(); ++i)
        loaded += session.engine().IsLoaded(i) ? 1 : 0;
    std::printf("%s: %.3f s at %.2f BPM, %d of %zu sounds loaded, step period %.4f ms "
                "(%.4f frames), %s\n",
                o.output.c_str(), static_cast<double>(frames) / mb::OfflineSession::kRate,
                static_cast<double>(setup.bpm), loaded, setup.soundNames.size(),
                session.sequencer().period(),
                session.sequencer().period() * mb::OfflineSession::kRate / 1000.0,
                o.floatOutput ? "32-bit float" : "16-bit");
    return 0;
}

int Info(const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].starts_with("-"))
        return Fail(kExitUsage, std::string("info takes one setup file; ") + kUsage);
    const auto result = mb::SetupJson::FromFile(args[0]);
    if (!result.error.empty())
        return Fail(kExitFailure, result.error);
    std::printf("%s\n", result.json.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("marrowbeat-cli %s\n", mb::kVersion);
        return 0;
    }
    if (!args.empty() && args[0] == "info")
        return Info({args.begin() + 1, args.end()});
    if (args.empty() || args[0] != "render")
        return Fail(kExitUsage, args.empty() ? std::string(kUsage)
                                             : "unknown command '" + args[0] + "'; " + kUsage);
    RenderOptions options;
    if (auto error = ParseRender({args.begin() + 1, args.end()}, options))
        return Fail(kExitUsage, *error + "; " + kUsage);
    return Render(options);
}
