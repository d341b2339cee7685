#include "platform/RtAudioOutput.h"

#include <algorithm>
#include <cstdlib>
#include <rtaudio/RtAudio.h>

#include "platform/Clocks.h"

namespace mb {

namespace {

constexpr int kCallbackPriority = 70;

// Errors that RtAudio meets once a stream is open (on its own thread, too) come here
// instead of being thrown where nothing could catch them. A stream that fails plays
// nothing more; the program goes on.
void IgnoreStreamError(RtAudioError::Type /*type*/, const std::string& /*text*/) {}

} // namespace

int RtAudioOutput::Callback(void* out,
                            void* /*in*/,
                            unsigned frames,
                            double /*streamTime*/,
                            unsigned /*status*/,
                            void* user) {
    auto* self = static_cast<RtAudioOutput*>(user);
    self->device_->Render(static_cast<float*>(out), static_cast<int>(frames), MonotonicNs());
    return 0;
}

RtAudioOutput::~RtAudioOutput() {
    if (!audio_)
        return;
    try {
        if (audio_->isStreamRunning())
            audio_->stopStream();
        if (audio_->isStreamOpen())
            audio_->closeStream();
    } catch (...) {
        // Nothing more can be done about a stream that will not close.
    }
}

std::unique_ptr<AudioDevice> RtAudioOutput::Open() {
    // Trying JACK must not start a JACK server.
    setenv("JACK_NO_START_SERVER", "1", 0);
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    for (RtAudio::Api api : {RtAudio::LINUX_PULSE, RtAudio::LINUX_ALSA, RtAudio::UNIX_JACK}) {
        if (std::find(compiled.begin(), compiled.end(), api) == compiled.end())
            continue;
        std::unique_ptr<RtAudioOutput> output(new RtAudioOutput());
        try {
            output->audio_ = std::make_unique<RtAudio>(api);
            RtAudio& audio = *output->audio_;
            audio.showWarnings(false);
            if (audio.getDeviceCount() == 0)
                continue;
            RtAudio::StreamParameters params;
            params.deviceId = audio.getDefaultOutputDevice();
            params.nChannels = kChannels;
            params.firstChannel = 0;
            RtAudio::StreamOptions options;
            options.flags = RTAUDIO_MINIMIZE_LATENCY | RTAUDIO_SCHEDULE_REALTIME;
            options.priority = kCallbackPriority;
            options.streamName = "Marrowbeat";
            unsigned bufferFrames = kBufferFrames;
            audio.openStream(&params, nullptr, RTAUDIO_FLOAT32, kRate, &bufferFrames,
                             &RtAudioOutput::Callback, output.get(), &options, &IgnoreStreamError);
            if (!audio.isStreamOpen())
                continue;
            if (audio.getStreamSampleRate() != kRate) {
                audio.closeStream();
                continue;
            }
            const long deviceLatency = audio.getStreamLatency();
            AudioDevice::Config config;
            config.mixer.rate = kRate;
            config.mixer.latencyFrames = static_cast<int64_t>(bufferFrames) +
                                         (deviceLatency > 0 ? deviceLatency : 0) +
                                         kStepClockAllowanceFrames;
            config.mixer.headroomFrames = kHeadroomFrames;
            auto device = std::make_unique<AudioDevice>(std::move(config));
            output->device_ = device.get();
            output->description_ =
                RtAudio::getApiDisplayName(api) + ", " + std::to_string(bufferFrames) + " frames";
            audio.startStream();
            if (!audio.isStreamRunning())
                continue;
            device->AttachOutput(std::move(output));
            return device;
        } catch (const std::exception&) {
            continue;
        }
    }
    return nullptr;
}

} // namespace mb
