#pragma once

#include <cstdint>
#include <vector>

#include "engine/Sequencer.h"
#include "engine/SequencerPorts.h"
#include "engine/SoundEngine.h"

namespace mb {

class Notifier;
class SessionTimeline;
class Setup;
class VirtualClock;

// The sequencer, the sound engine and the mixer of live playback, driven by a virtual
// clock instead of the timer and rendered block by block as fast as the processor
// allows. Step k of a start sounds exactly on frame round(k x period x rate): there is no
// latency and no timer jitter. Single-threaded: the caller's thread plays the window,
// the step clock and the audio thread in turn.
class OfflineSession : private MessagePoster, private PlaybackFace, private StepSound {
public:
    static constexpr uint32_t kDefaultRate = 44100;
    // Frames mixed per call into the mixer: large enough that the per-block work is
    // negligible, small enough to stay in the processor's cache.
    static constexpr int kBlockFrames = 2048;
    static constexpr int64_t kNsPerSecond = 1000000000;

    struct Options {
        // Output frames per second; every sound keeps its pitch at any rate.
        uint32_t rate = kDefaultRate;
        // False for one part of a mix whose sum is limited afterwards.
        bool limitOutput = true;
        // Only the steps of this sound are heard (-1: every sound). The steps of the other
        // sounds still play their part of the sequence, silencing the previous step when
        // the setup is not polyphonic, so the parts of all sounds add up to the whole.
        int soloSound = -1;
        // Takes every step as the live MIDI output does (a MIDI file's writer); may be
        // none. Called on the rendering thread.
        StepFollower* midi = nullptr;
        // The timeline the steps follow (a plugin host's transport, on the session's
        // frames through NsOfFrame); none: the setup's own tempo from Start.
        SessionTimeline* timeline = nullptr;
        // A step that the timeline puts before the frame rendered next (the host skipped
        // frames) sounds at once, and the rest of its run keeps its places.
        bool keepTimeOverGaps = false;
    };

    // Opens an offline device for the engine, which reports to `notifier`; the engine is
    // ready for LoadAll.
    OfflineSession(Setup& setup, Notifier& notifier, Options options);
    OfflineSession(Setup& setup, Notifier& notifier);
    OfflineSession(const OfflineSession&) = delete;
    OfflineSession& operator=(const OfflineSession&) = delete;
    ~OfflineSession() override;

    SoundEngine& engine() { return engine_; }
    const SoundEngine& engine() const { return engine_; }
    Sequencer& sequencer() { return sequencer_; }
    int64_t nowNs() const { return nowNs_; }
    uint32_t rate() const { return options_.rate; }

    // Starts playback at time 0 (frame 0). After `stepLimit` steps (negative: no limit)
    // the step clock takes no more, and what sounds rings out.
    void Start(int64_t stepLimit = -1);
    // Before the first render: the session's frames are counted from `frame` (its clock
    // stands at NsOfFrame(frame)), as a session that takes over from another goes on.
    void MoveTo(int64_t frame);
    // Starts a run on the timeline's first step from the frame rendered next; the chain
    // stands where the timeline's step count puts it.
    void StartOnTimeline();
    bool Running() const { return sequencer_.running(); }
    // The timeline moved (a host's new word): the step clock looks again from the frame
    // rendered next, rather than sleeping to a step placed on the old one.
    void TimelineMoved();
    // Renders the next `frames` stereo frames into out (interleaved, overwritten).
    void Render(float* out, int64_t frames);
    // Stops playback; what still sounds is cut.
    void Stop();
    // A voice is still sounding or has a step waiting for its frame.
    bool Sounding() const;
    int64_t framesRendered() const { return frame_; }

    // The session clock's nanoseconds at a frame: the moment of the frame's start, cut to
    // the nanosecond (the mixer rounds back to the same frame).
    static int64_t NsOfFrame(int64_t frame, uint32_t rate) {
        // In 128 bits: a plugin's frame count runs for days.
        return static_cast<int64_t>(static_cast<__int128>(frame) * kNsPerSecond / rate);
    }

    // Starts, renders `frames` stereo frames into memory and stops.
    std::vector<float> Render(int64_t frames);

private:
    // MessagePoster: there is no window.
    void PostMessage(int, intptr_t, intptr_t) override {}
    // PlaybackFace: there is no face.
    void SetPlayButton(bool) override {}
    bool IsSoundOn() const override { return true; }
    void SetStepLit(int, bool) override {}
    void SetPlayingLoop(int) override {}
    // StepSound: the engine's, with the solo sound's steps alone heard.
    void TakeStep(const StepEvent& step) override;
    void RunEnded(uint32_t run) override { engine_.RunEnded(run); }
    void SilenceAll() override { engine_.SilenceAll(); }
    void MuteAll() override { engine_.MuteAll(); }
    void UnmuteAll() override { engine_.UnmuteAll(); }

    VirtualClock& clock() const;
    int64_t FrameTimeNs(int64_t frame) const { return NsOfFrame(frame, options_.rate); }

    Options options_;
    int64_t nowNs_ = 0;
    int64_t frame_ = 0;
    int64_t stepsTaken_ = 0;
    int64_t stepLimit_ = -1;
    // The window's part: counts the steps taken.
    struct StepCounter : StepFollower {
        explicit StepCounter(OfflineSession& session) : session(session) {}
        void TakeStep(const StepEvent&) override;
        OfflineSession& session;
    };

    SoundEngine engine_;
    StepCounter counter_{*this};
    Sequencer sequencer_;
};

} // namespace mb
