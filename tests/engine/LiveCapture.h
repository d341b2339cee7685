#pragma once

// Plays the demo kit live through the real output and records what the sound server
// plays, from the monitor of its default sink, with parec. Shared by the end-to-end test
// and the live timing benchmark.

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ScriptedPrompts.h"
#include "WaveFiles.h"
#include "devices/DeviceOutput.h"
#include "devices/PulseSinks.h"
#include "engine/Sequencer.h"
#include "engine/SoundEngine.h"
#include "files/SoundFolder.h"
#include "model/Setup.h"

namespace mb::test {

struct LiveCapture {
    // Empty when the capture worked.
    std::string error;
    // Left channel of the recording.
    std::vector<int16_t> left;
    // Frames of the recording at which a step's sound begins.
    std::vector<int64_t> onsets;
    // The step period in frames, and the output's rate.
    double periodFrames = 0.0;
    uint32_t rate = 0;
    // Commands that reached the mixer after their frame had been played.
    uint64_t lateCommands = 0;
    // The most the step clock took a step after its moment to be sent.
    int64_t heldUpNs = 0;
    // How often the output wrote its queue again (the first step, started while all was
    // quiet, is written over the queue).
    uint64_t rewinds = 0;
    // Moves of the mapping from the step clock's time to the stream's frames during the
    // playback.
    uint64_t mappingMoves = 0;
    std::string output;
};

// A window and face that take the step clock's messages and show nothing.
struct NoFace : MessagePoster, PlaybackFace {
    void PostMessage(int, intptr_t, intptr_t) override {}
    void SetPlayButton(bool) override {}
    bool IsSoundOn() const override { return true; }
    void SetStepLit(int, bool) override {}
    void SetPlayingLoop(int) override {}
};

// Whether a PulseAudio (or PipeWire) server answers.
inline bool PulseServerReachable() {
    return std::system("pactl info >/dev/null 2>&1") == 0;
}

// Waits until the stream takes frames at the real-time rate: a new stream on a sound
// server may block for a second or two before it starts flowing. False when it never
// does (within ten seconds).
inline bool WaitForSteadyStream(const AudioMixer& mixer) {
    constexpr int kWindowMs = 250;
    const double kExpected = mixer.rate() * kWindowMs / 1000.0;
    int steady = 0;
    for (int i = 0; i < 40 && steady < 3; ++i) {
        const int64_t before = mixer.framesRendered();
        std::this_thread::sleep_for(std::chrono::milliseconds(kWindowMs));
        const auto taken = static_cast<double>(mixer.framesRendered() - before);
        steady = taken > 0.8 * kExpected && taken < 1.2 * kExpected ? steady + 1 : 0;
    }
    return steady >= 3;
}

// parec recording a sink's monitor into a temporary file, from Start to Stop.
class MonitorRecording {
public:
    // Empty when the recording runs.
    std::string Start(const std::string& monitor, uint32_t rate) {
        const std::string device = "--device=" + monitor;
        const std::string rateArgument = "--rate=" + std::to_string(rate);
        const int fd = mkstemp(path_);
        if (fd < 0)
            return "cannot make a temporary file";
        made_ = true;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fd, STDOUT_FILENO);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDERR_FILENO);
            execlp("parec", "parec", device.c_str(), "--format=s16le", rateArgument.c_str(),
                   "--channels=2", "--raw", "--latency-msec=20", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fd);
        return pid_ > 0 ? "" : "cannot start parec";
    }
    // The left channel recorded.
    std::vector<int16_t> Stop() {
        std::vector<int16_t> left;
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            waitpid(pid_, nullptr, 0);
            pid_ = 0;
        }
        if (std::FILE* f = made_ ? std::fopen(path_, "rb") : nullptr) {
            int16_t frame[2];
            while (std::fread(frame, sizeof frame, 1, f) == 1)
                left.push_back(frame[0]);
            std::fclose(f);
        }
        return left;
    }
    ~MonitorRecording() {
        Stop();
        if (made_)
            unlink(path_);
    }

private:
    char path_[32] = "/tmp/marrowbeat-capture-XXXXXX";
    bool made_ = false;
    pid_t pid_ = 0;
};

// Plays the kit (sound j on step j, polyphonic off, 126 BPM) for `seconds` through the
// sink named (its description; "" the default sink) while parec records `monitor`.
// cpuClock chooses the step clock's time source; bufferFrames the output's buffer.
inline LiveCapture PlayAndRecord(const std::string& kitDir,
                                 double seconds,
                                 bool cpuClock,
                                 const std::string& sink = {},
                                 const std::string& monitor = "@DEFAULT_MONITOR@",
                                 int bufferFrames = OutputChoice::kDefaultBufferFrames) {
    LiveCapture result;
    const uint32_t rate = PulseSinks::Rate(sink) != 0 ? PulseSinks::Rate(sink) : 44100;
    MonitorRecording recording;
    result.error = recording.Start(monitor, rate);
    if (!result.error.empty())
        return result;

    {
        Setup setup;
        ScriptedPrompts prompts;
        SoundEngine engine;
        engine.Init(&setup, &prompts, [&sink, bufferFrames] {
            return DeviceOutput::Open({"pulse", sink, bufferFrames});
        });
        SoundFolder folder(setup, engine, prompts, {});
        if (engine.device() == nullptr) {
            result.error = "no audio output opened";
        } else if (!folder.ScanSoundFolder(kitDir) || !prompts.notes.empty()) {
            result.error = "the kit did not load from " + kitDir;
        } else {
            NoFace face;
            Sequencer sequencer;
            sequencer.Init({&face, &face, &engine, nullptr, nullptr}, &setup);
            sequencer.clock()->SetUseCpuClock(cpuClock);
            if (!WaitForSteadyStream(engine.device()->mixer()))
                result.error = "the output stream never ran steadily";
            const uint64_t movesBefore = engine.device()->mixer().mappingMoves();
            sequencer.Start();
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
            sequencer.Stop();
            result.rate = engine.device()->rate();
            result.periodFrames = sequencer.period() * result.rate / 1000.0;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            result.lateCommands = engine.device()->mixer().lateCommands();
            result.heldUpNs = sequencer.mostHeldUpNs();
            result.mappingMoves = engine.device()->mixer().mappingMoves() - movesBefore;
            result.rewinds = engine.device()->mixer().rewinds();
        }
    }
    result.left = recording.Stop();
    if (result.error.empty() && result.left.empty())
        result.error = "parec recorded nothing";
    result.onsets = FindOnsets(result.left);
    return result;
}

} // namespace mb::test
