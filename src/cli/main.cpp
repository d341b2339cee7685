// marrowbeat-cli: the program's engine without its window.
//
//   marrowbeat-cli render [SETUP.mbx] [--sounds DIR] -o OUT.wav|- [--passes N] [--loopable]
//                         [--seconds S] [--bpm B] [--rate R] [--float] [--stems DIR]
//                         [--seed N] [--midi FILE.mid] [--midi-channel N]
//
// plays a setup (without one, the new setup: sound j on step j, every step on) through
// the same sequencer, sound engine and mixer as live playback, driven by a virtual
// clock, and writes the result as a stereo WAV file as it renders, faster than real time;
// with --midi, also (or, without -o, only) the notes the live MIDI output would send, as
// a MIDI file.
//
//   marrowbeat-cli info SETUP.mbx
//
// prints the setup as JSON, as the program holds it after opening it.
//
//   marrowbeat-cli write SETUP.json|- -o SETUP.mbx
//
// writes the setup that such JSON describes (keys left out take a new setup's values).
//
// The manual page marrowbeat-cli(1) describes every option.
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include <CLI/CLI.hpp>

#include "Version.h"
#include "engine/RenderJob.h"
#include "engine/WaveStreamWriter.h"
#include "files/AtomicFile.h"
#include "files/PathNames.h"
#include "files/SetupDocument.h"
#include "files/SetupJson.h"
#include "files/SetupJsonReader.h"
#include "files/SetupRecord.h"
#include "files/SoundFolder.h"
#include "model/Setup.h"
#include "platform/Notifier.h"
#include "platform/OutputFile.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr double kMaxSeconds = 86400.0;
// --bpm takes a narrower range than the window's tempo: a render of an hour at the
// window's highest tempo would play billions of steps.
constexpr double kRenderMinBpm = 1.0;
constexpr double kRenderMaxBpm = 10000.0;
// The progress bar appears once a render has taken this long, and is redrawn at most this
// often.
constexpr auto kProgressDelay = std::chrono::seconds(1);
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
constexpr int kProgressWidth = 40;

// Without a window, a message is one line on standard error.
class ConsoleNotifier : public mb::Notifier {
public:
    void ShowNote(const std::string& text) override {
        std::string line = text;
        for (char& c : line)
            if (c == '\n')
                c = ' ';
        std::fprintf(stderr, "marrowbeat-cli: %s\n", line.c_str());
    }
    void ShowNotice(const std::string& text) override { ShowNote(text); }
};

struct RenderOptions {
    std::string setupPath;
    std::string sounds;
    std::string output;
    std::string stems;
    std::string midi;
    double bpm = 0.0;
    std::optional<uint32_t> seed;
    mb::RenderSettings settings;
};

// Ends the process as the signal would, after removing the files a render was writing,
// so that Ctrl-C leaves every output as it was before.
extern "C" void RemoveOutputsAndEnd(int signal) {
    mb::OutputFile::RemoveTemporaries();
    // The handler was reset to the default: the signal, held back until the handler
    // returns, then ends the process.
    ::raise(signal);
}

void RemoveOutputsOnSignals() {
    struct sigaction action {};
    action.sa_handler = RemoveOutputsAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigfillset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        ::sigaction(signal, &action, nullptr);
}

void Say(const std::string& message) {
    std::fprintf(stderr, "marrowbeat-cli: %s\n", message.c_str());
}

int Fail(int code, const std::string& message) {
    Say(message);
    return code;
}

// CLI::Range lets NaN through (every comparison with it is false), and a NaN tempo or
// length would be ignored without a word: such values are refused before the range is
// checked.
const CLI::Validator kFinite(
    [](std::string& text) -> std::string {
        double value = 0.0;
        if (!CLI::detail::lexical_cast(text, value) || std::isfinite(value))
            return {};
        return "Value " + text + " is not a finite number";
    },
    "FINITE");

// A bar on standard error while a long render runs, when standard error is a terminal.
class ProgressBar {
public:
    ProgressBar() : enabled_(::isatty(STDERR_FILENO) != 0) {}
    ~ProgressBar() {
        if (shown_)
            std::fprintf(stderr, "\n");
    }
    // The render completed: a bar on show reaches its end.
    void Finish() {
        if (shown_)
            Draw(100);
    }

    bool Update(int64_t done, int64_t planned) {
        if (!enabled_ || planned <= 0)
            return true;
        const auto now = Clock::now();
        if (now - start_ < kProgressDelay || (shown_ && now - drawn_ < kProgressInterval))
            return true;
        shown_ = true;
        drawn_ = now;
        Draw(static_cast<int>(std::min<int64_t>(100 * done / planned, 100)));
        return true;
    }

private:
    static void Draw(int percent) {
        const int filled = percent * kProgressWidth / 100;
        std::fprintf(stderr, "\rrendering [%s%s] %3d%%", std::string(filled, '#').c_str(),
                     std::string(kProgressWidth - filled, ' ').c_str(), percent);
        std::fflush(stderr);
    }

    using Clock = std::chrono::steady_clock;
    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_ = Clock::now();
    Clock::time_point drawn_;
};

int Render(const RenderOptions& o) {
    mb::SetupRecord record;
    bool haveRecord = false;
    std::string sounds = o.sounds;
    if (!o.setupPath.empty()) {
        const auto read = mb::SetupDocument::ReadFile(o.setupPath);
        if (!read.error.empty())
            return Fail(kExitFailure, read.error);
        if (!read.notice.empty())
            Say(read.notice);
        record = read.record;
        haveRecord = true;
        if (sounds.empty()) {
            mb::Setup stored;
            record.ApplyTo(stored);
            const auto found = mb::PathNames::ExistingSoundFolder(stored.soundFolder, o.setupPath);
            if (!found)
                return Fail(kExitFailure, "cannot find the sound folder '" + stored.soundFolder +
                                              "' of '" + o.setupPath +
                                              "' (name one with --sounds)");
            sounds = *found;
        }
    }
    std::error_code error;
    if (!std::filesystem::is_directory(sounds, error))
        return Fail(kExitFailure, "cannot read the sound folder '" + sounds + "'");
    const std::string folder = std::filesystem::absolute(sounds, error).string();
    const std::vector<std::string> names = mb::SoundFolder::ListWaveFiles(folder);

    ConsoleNotifier notifier;
    mb::RenderJob job(
        [&](mb::Setup& setup) {
            if (haveRecord)
                record.ApplyTo(setup);
            if (o.bpm > 0.0)
                setup.bpm = o.bpm;
            if (o.seed)
                setup.seed = *o.seed;
            setup.soundFolder = folder;
            setup.soundNames = names;
        },
        o.settings, notifier);
    if (!o.midi.empty())
        job.WriteMidi(o.midi);
    if (const std::string problem = job.Prepare(); !problem.empty())
        return Fail(kExitFailure, problem);
    std::string problem;
    RemoveOutputsOnSignals();
    {
        ProgressBar bar;
        problem = job.Run(o.output, o.stems, [&bar](int64_t done, int64_t planned) {
            return bar.Update(done, planned);
        });
        if (problem.empty())
            bar.Finish();
    }
    if (!problem.empty())
        return Fail(kExitFailure, problem);

    // Standard output may be the file itself.
    FILE* report = o.output == mb::WaveStreamWriter::kStandardOutput ? stderr : stdout;
    const double rate = o.settings.rate;
    std::fprintf(report,
                 "%s: %.3f s at %.2f BPM, %d of %zu sounds loaded, step period %.4f ms "
                 "(%.4f frames), %u Hz, %s%s\n",
                 !o.output.empty()  ? o.output.c_str()
                 : !o.stems.empty() ? o.stems.c_str()
                                    : o.midi.c_str(),
                 static_cast<double>(job.framesWritten()) / rate,
                 static_cast<double>(job.setup().bpm), job.loadedSounds(),
                 job.setup().soundNames.size(), job.period(), job.period() * rate / 1000.0,
                 o.settings.rate, o.settings.floatOutput ? "32-bit float" : "16-bit",
                 o.settings.loopable ? ", loopable" : "");
    return 0;
}

int Info(const std::string& path) {
    const auto result = mb::SetupJson::FromFile(path);
    if (!result.error.empty())
        return Fail(kExitFailure, result.error);
    if (!result.notice.empty())
        Say(result.notice);
    std::printf("%s\n", result.json.c_str());
    return 0;
}

// Writes the setup that the JSON text at jsonPath (- for standard input) describes to
// setupPath, as the program saves: nothing is written unless the whole text is a setup.
int Write(const std::string& jsonPath, const std::string& setupPath) {
    std::string text;
    if (jsonPath == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else {
        const auto file = mb::AtomicFile::ReadAll(jsonPath, mb::SetupDocument::kMaxFileBytes);
        if (!file.error.empty())
            return Fail(kExitFailure, "cannot read '" + jsonPath + "': " + file.error);
        text.assign(file.bytes.begin(), file.bytes.end());
    }
    const auto read = mb::SetupJsonReader::Read(text);
    if (!read.error.empty())
        return Fail(kExitFailure, read.error);
    mb::Setup setup;
    read.record.ApplyTo(setup);
    const std::string error = mb::SetupDocument::WriteFile(setupPath, setup, read.record.face);
    if (!error.empty())
        return Fail(kExitFailure, error);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Renders Marrowbeat setups to WAV files without a window, prints them and "
                 "writes them from JSON.",
                 "marrowbeat-cli"};
    // --version stands alone: with anything else on the line it is a usage error.
    bool version = false;
    app.add_flag("--version", version, "Print the version and exit");
    app.require_subcommand(0, 1);

    RenderOptions o;
    CLI::App* render = app.add_subcommand(
        "render", "Plays a setup through the program's engine and writes it as a stereo WAV file.");
    render->add_option("setup", o.setupPath,
                       "The setup file (.mbx); without one, the new setup: sound j on step j");
    render->add_option("--sounds", o.sounds,
                       "The sound folder (a setup's own folder is found as opening it finds it)");
    render->add_option("-o,--output", o.output, "The WAV file to write, or - for standard output");
    auto* passes = render
                       ->add_option("--passes", o.settings.passes,
                                    "Rounds of the loop chain's cycle after its lead-in (1)")
                       ->check(CLI::Range(int64_t{1}, mb::RenderJob::kMaxPasses));
    auto* loopable = render->add_flag(
        "--loopable", o.settings.loopable,
        "Fold what rings past the end onto the start, so the file loops seamlessly");
    render->add_option("--seconds", o.settings.seconds, "Render this long instead of by passes")
        ->check(kFinite)
        ->check(CLI::Range(0.001, kMaxSeconds))
        ->excludes(passes)
        ->excludes(loopable);
    render->add_option("--bpm", o.bpm, "The tempo instead of the setup's")
        ->check(kFinite)
        ->check(CLI::Range(kRenderMinBpm, kRenderMaxBpm));
    render->add_option("--rate", o.settings.rate, "Frames per second (44100)")
        ->check(CLI::Range(mb::RenderJob::kMinRate, mb::RenderJob::kMaxRate));
    render->add_flag("--float", o.settings.floatOutput, "32-bit float samples instead of 16-bit");
    render->add_option("--stems", o.stems,
                       "Also write one file per sound that plays into this folder");
    render->add_option("--midi", o.midi,
                       "Also write the notes the MIDI output sends as a MIDI file (without -o, "
                       "no WAV file is written)");
    render
        ->add_option("--midi-channel", o.settings.midiChannel,
                     "The MIDI file's channel (" + std::to_string(o.settings.midiChannel) + ")")
        ->check(CLI::Range(1, 16));
    uint32_t seed = 0;
    auto* seedOption = render->add_option("--seed", seed,
                                          "Where the chance outcomes come from, instead of the "
                                          "setup's seed (0 to 4294967295)");

    std::string infoPath;
    CLI::App* info =
        app.add_subcommand("info", "Prints a setup file as JSON, as the program holds it.");
    info->add_option("setup", infoPath, "The setup file (.mbx)")->required();

    std::string writeJson;
    std::string writeSetup;
    CLI::App* write = app.add_subcommand(
        "write", "Writes a setup file from JSON as info prints it; keys left out take a new "
                 "setup's values.");
    write->add_option("json", writeJson, "The JSON file, or - for standard input")->required();
    write->add_option("-o,--output", writeSetup, "The setup file to write (.mbx)")->required();

    try {
        app.parse(argc, argv);
        if (version && argc != 2)
            throw CLI::ValidationError("--version takes nothing else");
        if (!version && app.get_subcommands().empty())
            throw CLI::RequiredError("a command (render, info or write)");
        if (render->parsed()) {
            if (o.sounds.empty() && o.setupPath.empty())
                throw CLI::ValidationError("--sounds DIR is missing");
            if (o.output.empty() && o.stems.empty() && o.midi.empty())
                throw CLI::ValidationError("-o OUT.wav is missing");
            if (seedOption->count() > 0)
                o.seed = seed;
        }
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string message = e.what();
        for (char& c : message)
            if (c == '\n')
                c = ' ';
        return Fail(kExitUsage, message + " (see marrowbeat-cli --help)");
    }
    if (version) {
        std::printf("marrowbeat-cli %s\n", mb::kVersion);
        return 0;
    }
    if (info->parsed())
        return Info(infoPath);
    if (write->parsed())
        return Write(writeJson, writeSetup);
    return Render(o);
}
