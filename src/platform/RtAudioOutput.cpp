#include "platform/RtAudioOutput.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <rtaudio/RtAudio.h>

#include "platform/Clocks.h"

namespace mb {

namespace {

constexpr int kCallbackPriority = 70;
// What the callback returns to have RtAudio abort the stream at once.
constexpr int kAbortStream = 2;
// A stream that has taken this many seconds more than the time since its first callback
// is not being played: its writes fail and RtAudio calls back in a tight loop.
constexpr double kRunawaySeconds = 2.0;

// Errors that RtAudio meets once a stream is open (on its own thread, too) come here
// instead of being thrown where nothing could catch them. RtAudio's error callback has no
// user value: the stream that sees the count change knows it has failed.
std::atomic<uint32_t> gStreamErrors{0};

void CountStreamError(RtAudioError::Type /*type*/, const std::string& /*text*/) {
    gStreamErrors.fetch_add(1, std::memory_order_release);
}

} // namespace

int RtAudioOutput::Callback(void* out,
                            void* /*in*/,
                            unsigned frames,
                            double /*streamTime*/,
                            unsigned /*status*/,
                            void* user) {
    auto* self = static_cast<RtAudioOutput*>(user);
    const int64_t now = MonotonicNs();
    if (self->firstCallbackNs_ == 0)
        self->firstCallbackNs_ = now;
    self->framesTaken_ += frames;
    const double ahead = static_cast<double>(self->framesTaken_) -
                         static_cast<double>(now - self->firstCallbackNs_) * self->rate_ / 1e9;
    // After a write error (the sound server went away) RtAudio's thread would call back
    // without pause, at real-time priority: the stream is aborted instead, and stays
    // silent until it is opened again.
    if (gStreamErrors.load(std::memory_order_acquire) != self->errorsAtOpen_ ||
        ahead > kRunawaySeconds * self->rate_) {
        self->failed_.store(true, std::memory_order_release);
        std::memset(out, 0, sizeof(float) * kChannels * frames);
        return kAbortStream;
    }
    self->device_->Render(static_cast<float*>(out), static_cast<int>(frames), now);
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
                             &RtAudioOutput::Callback, output.get(), &options, &CountStreamError);
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
            config.mixer.settleNs = kSettleNs;
            auto device = std::make_unique<AudioDevice>(std::move(config));
            output->device_ = device.get();
            output->description_ =
                RtAudio::getApiDisplayName(api) + ", " + std::to_string(bufferFrames) + " frames";
            output->rate_ = static_cast<double>(kRate);
            output->errorsAtOpen_ = gStreamErrors.load(std::memory_order_acquire);
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
