#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/AudioMixer.h"
#include "platform/SoundData.h"
#include "platform/WaveFormat.h"

namespace mb {

// Whatever pulls the device's sound out (a real-time stream): stopped before the device
// goes away.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
};

// The sound device the engine plays through: one master buffer per sound, holding its
// samples, and voices duplicated from master buffers that share those samples but keep
// their own position, frequency, pan and volume. Buffers and voices are named by handles
// (never pointers); a handle of a released voice is simply refused.
//
// Threads. Buffers are created, filled and released, and voices duplicated and released,
// on the window thread. The voice controls (position, frequency, pan, volume, play, stop)
// go through a lane: the window thread uses kWindowLane, the step-clock thread
// kStepClockLane. GetStatus is safe on any thread. Render runs on the audio thread only
// (see AudioMixer). Every voice control takes effect at the time `when` (CLOCK_MONOTONIC
// nanoseconds, or the offline clock's), or at the device's current time for kNow.
class AudioDevice {
public:
    using Lane = AudioMixer::Lane;
    using BufferId = uint32_t;
    using VoiceId = uint32_t;

    static constexpr int32_t DS_OK = 0;
    static constexpr int32_t DSERR_BADFORMAT = SoundData::kBadFormat;
    static constexpr int32_t DSERR_INVALIDPARAM = static_cast<int32_t>(0x80070057u);
    static constexpr int32_t DSERR_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
    static constexpr int32_t DSERR_ALLOCATED = static_cast<int32_t>(0x8878000Au);
    static constexpr uint32_t DSBSTATUS_PLAYING = 1;
    static constexpr int64_t kNow = INT64_MIN;
    // The largest sound buffer the device makes (bytes).
    static constexpr uint64_t kMaxBufferBytes = uint64_t{1} << 30;

    struct Config {
        AudioMixer::Config mixer;
        // The clock that `when` is read on; CLOCK_MONOTONIC unless given.
        std::function<int64_t()> clock;
    };

    explicit AudioDevice(Config config);
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;
    // Stops the output first, then frees every buffer.
    ~AudioDevice();

    // Window thread. The output that calls Render from now on; owned.
    void AttachOutput(std::unique_ptr<AudioOutput> output);

    // Window thread: master buffers. CreateSoundBuffer refuses a format it cannot play
    // with DSERR_BADFORMAT. Lock gives the whole buffer (zeroed); Unlock takes the
    // samples of its first `written` bytes.
    int32_t CreateSoundBuffer(const WaveFormat& format, uint64_t bytes, BufferId* out);
    int32_t Lock(BufferId buffer, uint8_t** data, uint64_t* size);
    int32_t Unlock(BufferId buffer, uint64_t written);
    void ReleaseBuffer(BufferId buffer);
    // Window thread: a voice on the buffer's samples, at the buffer's own rate, centre
    // pan, full volume, stopped at position 0.
    int32_t DuplicateSoundBuffer(BufferId buffer, VoiceId* out);
    void ReleaseVoice(VoiceId voice);

    // Voice controls, on the calling thread's lane.
    int32_t SetCurrentPosition(Lane lane, VoiceId voice, uint32_t frame, int64_t when = kNow);
    // 100 to 100 000 Hz (the ratio to the output rate is the playback speed).
    int32_t SetFrequency(Lane lane, VoiceId voice, uint32_t hz, int64_t when = kNow);
    // -10000 (left) to 10000 (right): the other channel loses |pan| hundredths of a dB.
    int32_t SetPan(Lane lane, VoiceId voice, int32_t pan, int64_t when = kNow);
    // Hundredths of a decibel, -10000 to 0.
    int32_t SetVolume(Lane lane, VoiceId voice, int32_t volume, int64_t when = kNow);
    // Plays once from the current position to the end.
    int32_t Play(Lane lane, VoiceId voice, int64_t when = kNow);
    int32_t Stop(Lane lane, VoiceId voice, int64_t when = kNow);
    // Any thread: DSBSTATUS_PLAYING while the voice is playing (or about to).
    int32_t GetStatus(VoiceId voice, uint32_t* status) const;
    // Any thread: whether the handle names a live voice.
    bool IsVoice(VoiceId voice) const;

    // Audio thread.
    void Render(float* out, int frames, int64_t nowNs) { mixer_->Render(out, frames, nowNs); }

    // Window thread: frees the sample data whose release the audio thread has received.
    void Collect();

    int64_t Now() const { return clock_(); }
    const AudioMixer& mixer() const { return *mixer_; }
    uint32_t rate() const { return mixer_->rate(); }
    // Window thread: sample data kept alive, including data waiting to be freed.
    size_t dataCount() const { return data_.size() + retired_.size(); }

private:
    struct DataRecord {
        std::unique_ptr<SoundData> data;
        int users = 0;
        // Window-lane commands sent when the last user let go.
        size_t releasedAt = 0;
    };
    struct Master {
        bool used = false;
        WaveFormat format;
        uint64_t bytes = 0;
        std::vector<uint8_t> locked;
        DataRecord* record = nullptr;
    };
    struct VoiceSlot {
        DataRecord* record = nullptr;
        uint32_t generation = 0;
    };

    Master* FindMaster(BufferId buffer);
    int SlotOf(VoiceId voice) const;
    int32_t Send(Lane lane, VoiceId voice, MixerCommand::Kind kind, int64_t value, int64_t when);
    bool SendWindow(const MixerCommand& command);
    void Unuse(DataRecord* record);

    std::unique_ptr<AudioMixer> mixer_;
    std::function<int64_t()> clock_;
    std::vector<Master> masters_;
    std::vector<std::unique_ptr<DataRecord>> data_;
    std::vector<std::unique_ptr<DataRecord>> retired_;
    std::array<VoiceSlot, AudioMixer::kMaxVoices> slots_{};
    // The live generation of each slot's voice; 0 when the slot is free.
    std::array<std::atomic<uint32_t>, AudioMixer::kMaxVoices> live_{};
    std::unique_ptr<AudioOutput> output_;
};

} // namespace mb
