#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/OfflineSession.h"
#include "midi/MidiSender.h"
#include "model/LoopChain.h"

namespace mb {

class MidiFileWriter;
class Notifier;
class OutputFile;
class Setup;
class WaveStreamWriter;

// How a setup is rendered to a file.
struct RenderSettings {
    // Output frames per second.
    uint32_t rate = OfflineSession::kDefaultRate;
    // 32-bit float samples instead of 16-bit PCM.
    bool floatOutput = false;
    // More than 0: this many seconds from the start, cut there; otherwise `passes` rounds
    // of the loop chain's cycle (after its lead-in), and what rings on after the last step.
    double seconds = 0.0;
    int64_t passes = 1;
    // The rounds of the cycle as they sound when the file plays over and over: what rings
    // past the end sounds at the start instead. Needs a chain that returns to its start.
    bool loopable = false;
    // The channel of the notes of a MIDI file (see RenderJob::WriteMidi), 1 to 16.
    int midiChannel = MidiSender::Options{}.channel;
};

// One render of a setup into a WAV file (and one file per sound for stems), written as it
// is rendered: the memory it takes does not grow with the length. The command-line tool
// and the window's export both render through it, so the same setup and settings give the
// same bytes.
//
// A loopable file is the second half of a render twice as long: it then holds exactly
// what follows one pass of it, the sound of the previous pass ringing into its start.
// Stems are rendered from a session per sound, each playing the whole sequence with only
// that sound heard and no limiter; their sum, limited, is the mix written with them.
//
// Threads: one thread from construction to destruction (the window's export runs it on a
// worker thread of its own); `notifier` is called on that thread.
class RenderJob {
public:
    static constexpr uint32_t kMinRate = 8000;
    static constexpr uint32_t kMaxRate = 384000;
    static constexpr int64_t kMaxPasses = 100000;
    // What rings on after the last step of a render by passes is cut after this long.
    static constexpr double kMaxRingOutSeconds = 60.0;

    // Fills a new setup with the values, sound folder and sound list to render.
    using SetupSource = std::function<void(Setup&)>;
    // Called after every block with the frames rendered so far and the frames planned
    // before any ring-out; returning false cancels the render.
    using Progress = std::function<bool(int64_t done, int64_t planned)>;

    RenderJob(SetupSource source, const RenderSettings& settings, Notifier& notifier);
    RenderJob(const RenderJob&) = delete;
    RenderJob& operator=(const RenderJob&) = delete;
    ~RenderJob();

    // Before Prepare: Run also writes the notes that the live MIDI output sends for the
    // same steps to `path`, a Standard MIDI File of the same length (see MidiFileWriter).
    void WriteMidi(const std::string& path) { midiPath_ = path; }

    // Builds the setup, loads its sounds and plans the length: an error message, or empty.
    std::string Prepare();
    // Renders into `output` (a path, "-" for standard output, or empty for no mix) and,
    // unless stemsDir is empty, one file per sound that plays into that folder (made when
    // missing), and the MIDI file when one was asked for. Each file replaces its target as an
    // OutputFile does, and none does before all are complete: a render that fails or is cancelled
    // leaves every file as it was, and no file of its own. Two outputs that would be one file are
    // refused before anything is written. An error message naming the file and the cause ("cannot
    // write 'mix.wav': No space left on device"), or empty when done or cancelled.
    std::string
    Run(const std::string& output, const std::string& stemsDir, const Progress& progress = {});

    bool cancelled() const { return cancelled_; }
    // After Prepare.
    const Setup& setup() const { return *setup_; }
    double period() const;
    int loadedSounds() const;
    int64_t plannedFrames() const { return skipFrames_ + writeFrames_; }
    // After Run: frames in each file written.
    int64_t framesWritten() const { return written_; }

    // The file name of a sound's stem: its number (from 01) and its file name.
    static std::string StemName(int sound, const std::string& soundName);

private:
    struct Part;

    void LoadPart(Part& part, int soloSound);
    std::vector<int> SoundsThatPlay() const;
    std::string Render(std::vector<std::unique_ptr<Part>>& parts,
                       bool summed,
                       WaveStreamWriter* mix,
                       const std::string& output,
                       OutputFile* midiFile,
                       const Progress& progress);

    SetupSource source_;
    RenderSettings settings_;
    Notifier& notifier_;
    std::unique_ptr<Setup> setup_;
    std::string midiPath_;
    // Declared before the session that feeds it.
    std::unique_ptr<MidiFileWriter> midi_;
    std::unique_ptr<OfflineSession> session_;
    LoopChain chain_;
    // Frames rendered before the file starts (a loopable file's first half), frames
    // written before any ring-out, and steps taken in all.
    int64_t skipFrames_ = 0;
    int64_t writeFrames_ = 0;
    int64_t stepLimit_ = -1;
    bool ringOut_ = false;
    bool cancelled_ = false;
    int64_t written_ = 0;
};

} // namespace mb
