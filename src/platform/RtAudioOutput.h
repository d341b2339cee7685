#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/AudioDevice.h"

class RtAudio;

namespace mb {

// The real-time output stream: 44 100 Hz stereo float through RtAudio, trying PulseAudio
// (or PipeWire's PulseAudio server), then ALSA, then JACK, with a buffer of 256 frames
// or less where the device allows. Its callback, on RtAudio's audio thread, only calls
// the device's Render.
class RtAudioOutput : public AudioOutput {
public:
    static constexpr unsigned kRate = 44100;
    static constexpr unsigned kChannels = 2;
    static constexpr unsigned kBufferFrames = 256;
    // What the step clock may be late by, on top of one buffer and the device's own
    // latency, before a step would miss its frame.
    static constexpr int64_t kStepClockAllowanceFrames = 220;
    // Room kept for a sound server that takes its buffers in bursts.
    static constexpr double kHeadroomFrames = 2048.0;
    // How long the stream's timing must have stayed steady before a new run of the step
    // clock is placed by it: a sound server may take a first burst and then stall for
    // most of a second before it plays.
    static constexpr int64_t kSettleNs = 300000000;

    // Window thread: a device whose stream is running, or nothing when no output opens.
    static std::unique_ptr<AudioDevice> Open();

    ~RtAudioOutput() override;

    // The name of the back end and the buffer size in use (for the curious).
    std::string description() const { return description_; }
    // Any thread: the stream failed (its writes went wrong) and was aborted.
    bool failed() const { return failed_.load(std::memory_order_acquire); }

private:
    RtAudioOutput() = default;
    static int
    Callback(void* out, void* in, unsigned frames, double streamTime, unsigned status, void* user);

    std::unique_ptr<RtAudio> audio_;
    AudioDevice* device_ = nullptr;
    std::string description_;
    double rate_ = kRate;
    uint32_t errorsAtOpen_ = 0;
    std::atomic<bool> failed_{false};
    // Audio thread only.
    int64_t firstCallbackNs_ = 0;
    int64_t framesTaken_ = 0;
};

} // namespace mb
