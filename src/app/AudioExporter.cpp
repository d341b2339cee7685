#include "app/AudioExporter.h"

#include <algorithm>
#include <filesystem>

#include "engine/RenderJob.h"
#include "files/SetupRecord.h"
#include "model/Setup.h"
#include "platform/Clocks.h"
#include "platform/Notifier.h"

namespace mb {

namespace {

constexpr const char* kUntitled = "Untitled.wav";
constexpr const char* kUntitledMidi = "Untitled.mid";

} // namespace

AudioExporter::AudioExporter(Setup& setup, Prompts& prompts) : setup_(setup), prompts_(prompts) {
    timer_.setInterval(kPollMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
}

AudioExporter::~AudioExporter() {
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
}

void AudioExporter::Export() {
    if (Busy())
        return;
    ExportChoice proposed = last_;
    if (proposed.path.empty())
        proposed.path =
            setup_.filePath.empty()
                ? kUntitled
                : std::filesystem::path(setup_.filePath).replace_extension(".wav").string();
    const std::optional<ExportChoice> choice = prompts_.ExportAudioChoice(proposed);
    if (!choice)
        return;
    last_ = *choice;

    RenderSettings settings;
    settings.passes = choice->passes;
    settings.floatOutput = choice->floatOutput;
    settings.loopable = choice->loopable;
    failedText_ = kFailedText;
    Start(settings, choice->path, {});
}

void AudioExporter::ExportMidi(int channel) {
    if (Busy())
        return;
    std::string proposed = lastMidi_;
    if (proposed.empty())
        proposed = setup_.filePath.empty()
                       ? kUntitledMidi
                       : std::filesystem::path(setup_.filePath).replace_extension(".mid").string();
    const std::optional<std::string> path = prompts_.ExportMidiPath(proposed);
    if (!path)
        return;
    lastMidi_ = *path;
    // One pass of the cycle, as the audio export's default.
    RenderSettings settings;
    settings.midiChannel = channel;
    failedText_ = kMidiFailedText;
    Start(settings, {}, *path);
}

void AudioExporter::Start(const RenderSettings& settings,
                          const std::string& path,
                          const std::string& midiPath) {
    // The worker's own copy of everything it plays.
    const SetupRecord record = SetupRecord::FromSetup(setup_, {});
    const std::string folder = setup_.soundFolder;
    const std::vector<std::string> names = setup_.soundNames;

    done_ = 0;
    planned_ = 0;
    cancel_ = false;
    finished_ = false;
    error_.clear();
    target_ = midiPath.empty() ? path : midiPath;
    // Titled with the file's name, so that it tells which export it follows.
    progress_ = prompts_.ShowProgress((midiPath.empty() ? kProgressText : kMidiProgressText) +
                                      std::filesystem::path(target_).filename().string() + "...");
    worker_ = std::thread([this, record, folder, names, path, midiPath, settings] {
        NameThisThread("mb-export");
        // Worker thread: messages of the sound loading are not shown (the window loaded
        // the same sounds and said so).
        SilentNotifier quiet;
        RenderJob job(
            [&](Setup& s) {
                record.ApplyTo(s);
                s.soundFolder = folder;
                s.soundNames = names;
            },
            settings, quiet);
        if (!midiPath.empty())
            job.WriteMidi(midiPath);
        std::string error = job.Prepare();
        if (error.empty())
            error = job.Run(path, {}, [this](int64_t done, int64_t planned) {
                done_.store(done, std::memory_order_relaxed);
                planned_.store(planned, std::memory_order_relaxed);
                return !cancel_.load(std::memory_order_relaxed);
            });
        error_ = error;
        finished_.store(true, std::memory_order_release);
    });
    timer_.start();
}

void AudioExporter::Poll() {
    if (progress_) {
        const int64_t planned = planned_.load(std::memory_order_relaxed);
        if (planned > 0)
            progress_->SetProgress(static_cast<int>(std::min<int64_t>(
                done_.load(std::memory_order_relaxed) * ProgressPrompt::kFull / planned,
                ProgressPrompt::kFull)));
        if (progress_->Cancelled())
            cancel_ = true;
    }
    if (!finished_.load(std::memory_order_acquire))
        return;
    timer_.stop();
    worker_.join();
    progress_.reset();
    if (!error_.empty())
        prompts_.ShowNote(failedText_ + error_);
    else if (!cancel_ && onWritten_)
        onWritten_(std::filesystem::path(target_).filename().string() + kWrittenText);
}

} // namespace mb
