#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioDevice.h"
#include "audio/OutputChoice.h"
#include "audio/OutputStream.h"
#include "platform/Doorbell.h"

namespace mb {

// The real-time output: keeps a stream (see OutputStream) flowing into the device's
// mixer. The program's streams go to PulseAudio or PipeWire (which say when each frame is
// heard) or to ALSA or JACK, at 44 100 Hz where the device takes it and at its own rate
// otherwise (a sound server's sink at its own rate), with the buffer that the choice asks
// for. On a stream that says when its frames are heard the mixer places every moment on
// the frame heard a lead later: the time the stream measures from a write to the ear, one
// block and a margin, so that a command is heard as soon as the device allows. The
// moment a frame is heard is the same for every program on one sink, so programs that
// agree on when a step is heard, each with its own lead (other copies, a Link session),
// sound together.
//
// A keeper thread looks after the stream. While the stream should run it checks every
// quarter of a second that callbacks come; when the stream fails (its writes go wrong, or
// no callback for half a second) it says so once, renders on silently in time so that
// the mixer keeps the clock, and opens the stream again every two seconds until it is
// back, then sound goes on where the steps are. When nothing has sounded for a while it
// stops the stream (no thread then wakes until something is to be played) and starts it
// again at the next command. It also applies a new choice, in the background, and says
// when the latency changes.
//
// Threads: Open, Apply and the destructor on the window thread; Status on any thread;
// Paused, Wake and KeepAwake on any thread without a lock (the step clock calls them:
// they set atomics and ring the keeper's doorbell, on which it sleeps); the stream's
// calls (StreamClient) on its audio thread only call the device's Render. Events are
// reported on the keeper thread.
class OutputKeeper : public AudioOutput, private StreamClient {
public:
    static constexpr unsigned kRate = 44100;
    static constexpr unsigned kChannels = 2;
    // What the step clock may be late by, on top of one buffer and the device's own
    // latency, before a step would miss its frame.
    static constexpr int64_t kStepClockAllowanceFrames = 220;
    // Room kept for a sound server that takes its buffers in bursts (ALSA, which may be a
    // sound server's plugin), and for the jitter of a JACK server's periods.
    static constexpr double kHeadroomFrames = 2048.0;
    static constexpr double kJackHeadroomSeconds = 0.001;
    // How long a new stream's timing must have stayed steady before a new run of the step
    // clock is placed by it: a sound server may take a first burst and then stall for
    // most of a second before it plays. A stream started again after standing still is
    // steady sooner.
    static constexpr int64_t kSettleNs = 300000000;
    static constexpr int64_t kResumeSettleNs = 60000000;
    // On a stream that says when its frames are heard: how long after its moment a
    // command is heard (the lead). A block's commands must be in before it is written, so
    // the lead is the longest time seen from writing a block to hearing its last frame,
    // plus this margin for the step clock's lateness, rounded up to whole kLeadStepNs. It
    // grows at once when a block needs more, and comes down when no block has needed it
    // for kLeadWindowSeconds.
    static constexpr int64_t kLeadMarginNs = 3000000;
    static constexpr int64_t kLeadStepNs = 1000000;
    static constexpr int kLeadWindowSeconds = 4;
    // On a stream that says when its frames are heard, a run that starts while all is
    // quiet is written over the queue (see StreamClient::Rewrite): its first step is
    // placed this long after the soonest the stream can write again, for the step to
    // reach the stream.
    static constexpr int64_t kRewriteAllowanceNs = 2000000;

    struct Event {
        enum Kind {
            kLost,     // the output went away; sound is off until it is back
            kBack,     // the output is back
            kFellBack, // the chosen device did not open; `text` says which, and what plays
            kLatency,  // how long after its time a command is heard is now `latencyNs`
        };
        Kind kind = kLost;
        std::string text;
        int64_t latencyNs = 0;
        // kLatency: while nothing sounds, how long after it is told of a run a stream
        // that says when its frames are heard can start it (it writes over its queue),
        // else 0; as it was at atNs (monotonic).
        int64_t quickNs = 0;
        int64_t atNs = 0;
    };
    using EventHandler = std::function<void(const Event&)>;

    // Window thread: a device whose stream, opened by `opener`, is running, or nothing
    // when no output opens. When the chosen device does not open and another does, *note
    // says so.
    static std::unique_ptr<AudioDevice> Open(StreamOpener opener,
                                             const OutputChoice& choice = {},
                                             EventHandler events = {},
                                             std::string* note = nullptr);

    ~OutputKeeper() override;

    // AudioOutput.
    void Apply(const OutputChoice& choice) override;
    OutputStatus Status() const override;
    bool Paused() const override { return paused_.load(std::memory_order_seq_cst); }
    void Wake() override;
    void KeepAwake() override;
    void HoldFlowing(bool hold) override;
    void Nudge() override { nudge_.Ring(); }

private:
    enum class State {
        kRunning,
        kPaused,
        kLost,
    };

    explicit OutputKeeper(StreamOpener opener) : opener_(std::move(opener)) {}
    // StreamClient.
    void Block(float* out, unsigned frames, int64_t nowNs, int64_t skippedFrames) override;
    bool
    HeardBlock(float* out, unsigned frames, int64_t playNs, bool known, int64_t rewriteNs) override;
    int64_t Rewrite(int64_t most, int64_t playNs) override;
    // After every block: notes whether nothing sounds, for the stream to stand still.
    void AfterBlock(unsigned frames, int64_t nowNs);
    // Audio thread, on a stream that says when its frames are heard: a block of `frames`
    // is heard from playNs on, written at nowNs; the lead follows what it needs.
    void FollowLead(unsigned frames, int64_t playNs, int64_t nowNs);
    static int64_t RoundLead(int64_t ns) {
        return (ns + kLeadStepNs - 1) / kLeadStepNs * kLeadStepNs;
    }
    // Opens (not starts) a stream for the choice, falling back to the back end's default
    // device and then, with anyApi, to any back end; what happened goes to *note. Keeper
    // thread, or the window thread before the keeper runs.
    bool OpenStream(const OutputChoice& choice, std::string* note, bool anyApi = true);
    bool TryOpen(const OutputChoice& choice);
    void StartStream(int64_t settleNs);
    void CloseStream();
    AudioMixer::Config MixerConfig(int64_t settleNs) const;
    void Keep();
    // Keeper thread: sleeps (without the lock) until done() holds, the doorbell rings or
    // timeoutNs has passed (a negative timeout: no limit); done() is asked under the lock.
    template <typename Done>
    void Sleep(std::unique_lock<std::mutex>& lock, int64_t timeoutNs, Done done);
    void KeepRunning(std::unique_lock<std::mutex>& lock);
    void KeepLost(std::unique_lock<std::mutex>& lock);
    void RenderSilently();
    void Report(Event::Kind kind,
                const std::string& text = {},
                int64_t latencyNs = 0,
                int64_t quickNs = 0);
    // Sound was announced less than kIdleSeconds before nowNs. Any thread.
    bool Stirred(int64_t nowNs) const;

    StreamOpener opener_;
    AudioDevice* device_ = nullptr;
    EventHandler events_;

    // The stream; opened, started, stopped and closed by one thread at a time (the
    // window thread at start-up, the keeper thread after).
    std::unique_ptr<OutputStream> stream_;
    OutputChoice choice_;
    std::string api_;
    std::string deviceName_;
    uint32_t rate_ = kRate;
    unsigned bufferFrames_ = 0;
    long deviceLatency_ = 0;
    int64_t startedNs_ = 0;

    mutable std::mutex mutex_;
    // The keeper sleeps on it; whoever asks something of the keeper rings it.
    Doorbell bell_;
    // Rings a stream that can write its queue again when commands come (see Nudge).
    Doorbell nudge_;
    std::thread keeper_;
    State state_ = State::kRunning;
    bool quit_ = false;
    std::atomic<bool> wakeRequested_{false};
    bool applyRequested_ = false;
    OutputChoice requested_;
    std::string description_;
    // Silent rendering while lost: the time up to which frames have been rendered.
    int64_t silentUntilNs_ = 0;
    // The latency last reported (kLatency), and the quick start. Keeper thread.
    int64_t reportedLatencyNs_ = -1;
    int64_t reportedQuickNs_ = -1;

    std::atomic<bool> paused_{false};
    std::atomic<bool> idleLong_{false};
    // On a stream that says when its frames are heard: nothing has sounded or waited for
    // kQuietSeconds (audio thread).
    std::atomic<bool> quiet_{false};
    std::atomic<int64_t> lastCallbackNs_{0};
    // When sound was last announced (KeepAwake): the stream does not stand still for
    // kIdleSeconds after it.
    std::atomic<int64_t> stirredNs_{0};
    // HoldFlowing: the stream does not stand still.
    std::atomic<bool> held_{false};
    // Audio thread only.
    int64_t idleFrames_ = 0;
    // On a stream that says when its frames are heard (audio thread; set while no callback
    // runs): the lead in use, the most the blocks of the present window have needed and
    // the frames of that window.
    int64_t leadNs_ = 0;
    int64_t windowNeedNs_ = 0;
    int64_t windowFrames_ = 0;
};

} // namespace mb
