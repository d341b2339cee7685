#pragma once

#include <cstdint>
#include <vector>

#include "engine/Sequencer.h"
#include "engine/SequencerPorts.h"
#include "engine/SoundEngine.h"

namespace mb {

class Prompts;
class Setup;

// The sequencer, the sound engine and the mixer of live playback, driven by a virtual
// clock instead of the timer and rendered into memory as fast as the processor allows.
// Step k of a start sounds exactly on frame round(k x period x rate): there is no
// latency and no timer jitter. Single-threaded: the caller's thread plays the window,
// the step clock and the audio thread in turn.
class OfflineSession : private MessagePoster, private PlaybackFace {
public:
    static constexpr uint32_t kRate = 44100;
    static constexpr int kBlockFrames = 256;

    // Opens an offline device for the engine; the engine is ready for LoadAll.
    OfflineSession(Setup& setup, Prompts& prompts);
    OfflineSession(const OfflineSession&) = delete;
    OfflineSession& operator=(const OfflineSession&) = delete;
    ~OfflineSession() override;

    SoundEngine& engine() { return engine_; }
    Sequencer& sequencer() { return sequencer_; }
    int64_t nowNs() const { return nowNs_; }

    // Starts playback at time 0 and renders `frames` stereo frames (interleaved).
    std::vector<float> Render(int64_t frames);

private:
    void PostMessage(int, intptr_t, intptr_t) override {}
    void SetPlayButton(bool) override {}
    bool IsSoundOn() const override { return true; }
    void SetStepLit(int, bool) override {}
    void SetPlayingLoop(int) override {}

    int64_t nowNs_ = 0;
    SoundEngine engine_;
    Sequencer sequencer_;
};

} // namespace mb
