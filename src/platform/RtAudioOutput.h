#pragma once

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

    // Window thread: a device whose stream is running, or nothing when no output opens.
    static std::unique_ptr<AudioDevice> Open();

    ~RtAudioOutput() override;

    // The name of the back end and the buffer size in use (for the curious).
    std::string description() const { return description_; }

private:
    RtAudioOutput() = default;
    static int
    Callback(void* out, void* in, unsigned frames, double streamTime, unsigned status, void* user);

    std::unique_ptr<RtAudio> audio_;
    AudioDevice* device_ = nullptr;
    std::string description_;
};

} // namespace mb
