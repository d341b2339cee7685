#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <QTimer>

#include "dialogs/Prompts.h"
#include "engine/RenderJob.h"

namespace mb {

class Setup;

// "Export Audio": asks for the file and its options, then renders the setup as it stands
// into a WAV file on a worker thread, through the render the command-line tool uses, so
// the file is the one `marrowbeat-cli render` writes for the same setup and options.
// "Export MIDI" asks for the file alone and writes one pass of the loop chain's cycle as a
// MIDI file the same way (`render --midi`). The worker has its own copy of the setup and
// loads its own sounds: the live engine never sees it, playing goes on and the window
// stays responsive. A progress display with Cancel stays up meanwhile.
//
// Threads: everything here runs on the window thread except the worker, which touches
// only its own copies and the atomics below; the window thread polls them on a timer.
class AudioExporter {
public:
    static constexpr int kPollMs = 50;
    static constexpr const char* kProgressText = "Exporting audio to ";
    static constexpr const char* kFailedText = "Could not export the audio:\n";
    static constexpr const char* kMidiProgressText = "Exporting MIDI to ";
    static constexpr const char* kWrittenText = " was written.";
    static constexpr const char* kMidiFailedText = "Could not export the MIDI file:\n";

    AudioExporter(Setup& setup, Prompts& prompts);
    AudioExporter(const AudioExporter&) = delete;
    AudioExporter& operator=(const AudioExporter&) = delete;
    // Cancels a running export and waits for its worker.
    ~AudioExporter();

    // The command: nothing while an export runs.
    void Export();
    // The MIDI command, its notes on `channel` (1 to 16): nothing while an export runs.
    void ExportMidi(int channel);
    // An export is running.
    bool Busy() const { return worker_.joinable(); }
    // Where a finished export says which file it wrote (the window's status field).
    void OnWritten(std::function<void(const std::string&)> say) { onWritten_ = std::move(say); }

private:
    // Renders on the worker into `path` (the WAV file), or into the MIDI file `midiPath`
    // alone.
    void
    Start(const RenderSettings& settings, const std::string& path, const std::string& midiPath);
    void Poll();

    Setup& setup_;
    Prompts& prompts_;
    ExportChoice last_;
    std::string lastMidi_;
    // The message that starts what is said when the running export fails.
    const char* failedText_ = kFailedText;
    // The file the running export writes.
    std::string target_;
    std::function<void(const std::string&)> onWritten_;
    QTimer timer_;
    std::unique_ptr<ProgressPrompt> progress_;
    std::thread worker_;
    // Shared with the worker.
    std::atomic<int64_t> done_{0};
    std::atomic<int64_t> planned_{0};
    std::atomic<bool> cancel_{false};
    std::atomic<bool> finished_{false};
    // Written by the worker before it sets finished_.
    std::string error_;
};

} // namespace mb
