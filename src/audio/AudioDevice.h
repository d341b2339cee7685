#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "audio/AudioMixer.h"
#include "audio/AudioOutput.h"
#include "audio/GridTime.h"
#include "audio/SoundData.h"
#include "audio/WaveFormat.h"

namespace mb {

// The sound device the engine plays through: sound buffers holding each sound's decoded
// samples, and voices that play them. A buffer is named by a handle (never a pointer)
// that carries a generation, so that a handle of a released buffer is simply refused. A
// voice is named by its number (0 to AudioMixer::kMaxVoices - 1) and lives in the mixer:
// one command (Trigger) restarts it with everything it needs.
//
// Threads. Buffers are created, filled and released on the window thread. Voice commands
// go through a lane: the window thread uses kWindowLane, the step-clock thread
// kStepClockLane. A command never waits: when its lane is full it is dropped and counted.
// IsPlaying is safe on any thread. Render runs on the audio thread only (see AudioMixer).
class AudioDevice {
public:
    using Lane = AudioMixer::Lane;
    using BufferId = uint32_t;

    static constexpr int32_t DS_OK = 0;
    static constexpr int32_t DSERR_BADFORMAT = SoundData::kBadFormat;
    static constexpr int32_t DSERR_INVALIDPARAM = static_cast<int32_t>(0x80070057u);
    static constexpr int32_t DSERR_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
    static constexpr int32_t DSERR_ALLOCATED = static_cast<int32_t>(0x8878000Au);
    // The largest sound buffer the device makes (bytes of the file's data), and the
    // largest its decoded samples may take.
    static constexpr uint64_t kMaxBufferBytes = uint64_t{1} << 30;
    static constexpr uint64_t kMaxDecodedBytes = uint64_t{512} << 20;

    struct Config {
        AudioMixer::Config mixer;
        // The clock that "now" is read on; CLOCK_MONOTONIC unless given.
        std::function<int64_t()> clock;
    };

    // How a voice plays its sound.
    struct VoiceStart {
        // 100 to 200 000 Hz (the ratio to the output rate is the playback speed).
        int32_t hz = 44100;
        // Hundredths of a decibel, -10000 (silence) to 0.
        int32_t volume = 0;
        // -10000 (left) to 10000 (right): the other channel loses |pan| hundredths of a dB.
        int32_t pan = 0;
    };

    explicit AudioDevice(Config config);
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;
    // Stops the output first, then frees every buffer.
    ~AudioDevice();

    // Window thread. The output that calls Render from now on; owned.
    void AttachOutput(std::unique_ptr<AudioOutput> output);
    AudioOutput* output() const { return output_.get(); }
    // See AudioMixer::Restart.
    void Restart(const AudioMixer::Config& config) { mixer_->Restart(config); }

    // Window thread: sound buffers. CreateSoundBuffer refuses a format it cannot play
    // with DSERR_BADFORMAT. Lock gives the whole buffer (zeroed); Unlock decodes the
    // samples of its first `written` bytes and hands them to the mixer.
    int32_t CreateSoundBuffer(const WaveFormat& format, uint64_t bytes, BufferId* out);
    int32_t Lock(BufferId buffer, uint8_t** data, uint64_t* size);
    int32_t Unlock(BufferId buffer, uint64_t written);
    // The buffer's voices stop; its handle is refused from now on.
    void ReleaseBuffer(BufferId buffer);
    // Any thread that owns the handle: whether it names a buffer with samples.
    bool IsBuffer(BufferId buffer) const;

    // Voice `voice` restarts the buffer's samples from their beginning at `at`. Refused
    // (DSERR_INVALIDPARAM) for a released buffer or a voice out of range; DSERR_ALLOCATED
    // when the lane is full.
    int32_t Trigger(Lane lane, int voice, BufferId buffer, const VoiceStart& start, GridTime at);
    // Step-clock lane: a step that is on, on voice `voice`. It plays `buffer` as Trigger
    // does; with no such buffer (0, or released) it only counts as the step started last,
    // which the mixer cuts at the next step that says so (see MixerCommand::StepRole).
    void StepOn(int voice, BufferId buffer, const VoiceStart& start, GridTime at, bool cutsLast);
    void StopVoice(Lane lane, int voice, GridTime at);
    // Window thread, at once: one voice's volume; every voice stops; the commands of a run
    // of the step clock (and of the runs before it) that are still waiting for their
    // frame are dropped, and any that come later never sound.
    void SetVoiceVolume(int voice, int32_t volume);
    void StopAllVoices();
    void EndRun(uint32_t run);
    // Any thread: an output that stands still starts again now.
    void WakeOutput() {
        if (output_ && output_->Paused())
            output_->Wake();
    }
    // Step-clock lane's thread: the commands sent so far make whole steps; an output that
    // can write its queue again looks at them now (see AudioMixer::StepSent).
    void StepSent() {
        mixer_->StepSent();
        if (output_)
            output_->Nudge();
    }
    // Any thread: sound is about to be played; see AudioOutput::KeepAwake.
    void KeepOutputAwake() {
        if (output_)
            output_->KeepAwake();
    }
    // Any thread: the voice is sounding or about to.
    bool IsPlaying(int voice) const { return mixer_->IsPlaying(voice); }

    // A GridTime for "now" on the device's clock.
    GridTime Now() const { return GridTime{0, clock_(), 0.0}; }

    // Audio thread.
    void Render(float* out, int frames, int64_t nowNs) { mixer_->Render(out, frames, nowNs); }

    // Window thread: frees the sample data whose removal the audio thread has received.
    void Collect();

    const AudioMixer& mixer() const { return *mixer_; }
    AudioMixer& mixer() { return *mixer_; }
    uint32_t rate() const { return mixer_->rate(); }
    // Window thread: sample data kept alive, including data waiting to be freed.
    size_t dataCount() const { return data_.size() + retired_.size(); }
    // Commands dropped because their lane was full (any thread).
    uint64_t droppedCommands() const { return dropped_.load(std::memory_order_relaxed); }

private:
    struct DataRecord {
        std::unique_ptr<SoundData> data;
        // Window-lane commands sent when the removal was sent; never freed when the
        // removal itself could not be sent.
        size_t removedAt = 0;
    };
    struct Master {
        uint32_t generation = 0;
        bool used = false;
        WaveFormat format;
        uint64_t bytes = 0;
        std::vector<uint8_t> locked;
        DataRecord* record = nullptr;
    };

    Master* FindMaster(BufferId buffer);
    bool Send(Lane lane, const MixerCommand& command);
    int32_t SendTrigger(Lane lane,
                        int voice,
                        BufferId buffer,
                        const VoiceStart& start,
                        GridTime at,
                        MixerCommand::StepRole role);
    // Sends the removal of the master's samples and retires them.
    void Retire(size_t slot, Master& m);

    std::unique_ptr<AudioMixer> mixer_;
    std::function<int64_t()> clock_;
    std::vector<Master> masters_;
    // The live handle of each master, read by the step clock's thread.
    std::array<std::atomic<BufferId>, AudioMixer::kMaxSounds> live_{};
    std::vector<std::unique_ptr<DataRecord>> data_;
    std::vector<std::unique_ptr<DataRecord>> retired_;
    std::atomic<uint64_t> dropped_{0};
    std::unique_ptr<AudioOutput> output_;
};

} // namespace mb
