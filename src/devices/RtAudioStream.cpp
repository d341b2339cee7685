#include "devices/RtAudioStream.h"

#include <algorithm>
#include <cstring>
#include <jack/jack.h>
#include <rtaudio/RtAudio.h>

#include "audio/OutputKeeper.h"
#include "devices/JackClock.h"
#include "devices/JackMidiOutput.h"
#include "platform/Clocks.h"

namespace mb {

namespace {

constexpr unsigned kRate = OutputKeeper::kRate;
constexpr unsigned kChannels = OutputKeeper::kChannels;
constexpr int kCallbackPriority = 70;
// What the callback returns to have RtAudio abort the stream at once.
constexpr int kAbortStream = 2;
// A stream that has taken this many seconds more than the time since its first callback
// is not being played: its writes fail and RtAudio calls back in a tight loop.
constexpr double kRunawaySeconds = 2.0;
// The JACK client that only reads the server's cycle times.
constexpr const char* kCycleClientName = "Marrowbeat clock";

struct Api {
    const char* name;
    RtAudio::Api api;
};
// The back ends RtAudio serves; a sound server is served through libpulse.
constexpr Api kApis[] = {
    {"alsa", RtAudio::LINUX_ALSA},
    {"jack", RtAudio::UNIX_JACK},
};

bool Compiled(RtAudio::Api api) {
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    return std::find(compiled.begin(), compiled.end(), api) != compiled.end();
}

// Errors that RtAudio meets once a stream is open (on its own thread, too) come here
// instead of being thrown where nothing could catch them. A failing stream shows in its
// callbacks (they stop, or race ahead of time) and the keeper acts on that.
void IgnoreStreamError(RtAudioError::Type /*type*/, const std::string& /*text*/) {}

} // namespace

std::vector<OutputDevice> RtAudioStream::ListDevices(const std::string& api) {
    std::vector<OutputDevice> devices;
    for (const Api& a : kApis) {
        if (api != a.name || !Compiled(a.api))
            continue;
        try {
            RtAudio audio(a.api);
            audio.showWarnings(false);
            const unsigned count = audio.getDeviceCount();
            for (unsigned i = 0; i < count; ++i) {
                const RtAudio::DeviceInfo info = audio.getDeviceInfo(i);
                if (info.probed && info.outputChannels >= kChannels)
                    devices.push_back({info.name, info.name});
            }
        } catch (const std::exception&) {
        }
    }
    return devices;
}

std::unique_ptr<OutputStream>
RtAudioStream::Open(const OutputChoice& choice, StreamClient& client, uint32_t& rate) {
    for (const Api& a : kApis) {
        if ((!choice.api.empty() && choice.api != a.name) || !Compiled(a.api))
            continue;
        try {
            std::unique_ptr<RtAudioStream> stream(new RtAudioStream(client));
            auto audio = std::make_unique<RtAudio>(a.api);
            audio->showWarnings(false);
            if (audio->getDeviceCount() == 0)
                continue;
            // The named device, or the back end's default output (the first output
            // when none says it is the default).
            int chosen = -1;
            RtAudio::DeviceInfo info;
            const unsigned count = audio->getDeviceCount();
            for (unsigned i = 0; i < count; ++i) {
                const RtAudio::DeviceInfo candidate = audio->getDeviceInfo(i);
                if (!candidate.probed || candidate.outputChannels < kChannels)
                    continue;
                const bool wanted = choice.device.empty() ? chosen < 0 || candidate.isDefaultOutput
                                                          : candidate.name == choice.device;
                if (!wanted)
                    continue;
                chosen = static_cast<int>(i);
                info = candidate;
                if (!choice.device.empty() || candidate.isDefaultOutput)
                    break;
            }
            if (chosen < 0)
                continue;
            RtAudio::StreamParameters params;
            params.deviceId = static_cast<unsigned>(chosen);
            params.nChannels = kChannels;
            unsigned streamRate = kRate;
            const auto& rates = info.sampleRates;
            // At 44 100 Hz when the device takes it, else at its own rate.
            if (std::find(rates.begin(), rates.end(), kRate) == rates.end())
                streamRate = info.preferredSampleRate != 0 ? info.preferredSampleRate
                                                           : (rates.empty() ? kRate : rates.back());
            RtAudio::StreamOptions options;
            options.flags = RTAUDIO_MINIMIZE_LATENCY | RTAUDIO_SCHEDULE_REALTIME;
            options.priority = kCallbackPriority;
            options.streamName = "Marrowbeat";
            unsigned frames = static_cast<unsigned>(std::clamp(choice.bufferFrames,
                                                               OutputChoice::kMinBufferFrames,
                                                               OutputChoice::kMaxBufferFrames));
            rate = streamRate;
            audio->openStream(&params, nullptr, RTAUDIO_FLOAT32, streamRate, &frames,
                              &RtAudioStream::Callback, stream.get(), &options, &IgnoreStreamError);
            if (!audio->isStreamOpen())
                continue;
            const std::string device =
                choice.device.empty() ? "default device" : "\"" + choice.device + "\"";
            if (a.api == RtAudio::UNIX_JACK) {
                JackMidiOutput::QuietErrors();
                stream->cycleClient_ =
                    jack_client_open(kCycleClientName, JackNoStartServer, nullptr);
            }
            Facts& facts = stream->facts_;
            facts.cycleTimes = stream->cycleClient_ != nullptr;
            facts.api = a.name;
            facts.rate = audio->getStreamSampleRate();
            facts.bufferFrames = frames;
            facts.deviceLatency = audio->getStreamLatency();
            facts.description = RtAudio::getApiDisplayName(a.api) + ", " + device + ", " +
                                std::to_string(facts.rate) + " Hz, " + std::to_string(frames) +
                                " frames";
            stream->audio_ = std::move(audio);
            return stream;
        } catch (const std::exception&) {
            continue;
        }
    }
    return nullptr;
}

RtAudioStream::RtAudioStream(StreamClient& client) : client_(client) {}

RtAudioStream::~RtAudioStream() {
    Close();
}

int RtAudioStream::Callback(void* out,
                            void* /*in*/,
                            unsigned frames,
                            double /*streamTime*/,
                            unsigned /*status*/,
                            void* user) {
    auto* self = static_cast<RtAudioStream*>(user);
    int64_t now = MonotonicNs();
    int64_t skipped = 0;
    if (self->cycleClient_ != nullptr) {
        jack_nframes_t frame = 0;
        jack_time_t cycleUs = 0;
        jack_time_t nextUs = 0;
        float periodUs = 0.0F;
        if (jack_get_cycle_times(self->cycleClient_, &frame, &cycleUs, &nextUs, &periodUs) == 0) {
            now = static_cast<int64_t>(cycleUs) * 1000 + JackToMonotonicNs();
            // Cycles the server ran without this client (it missed them): their frames
            // were counted and never rendered. The count wraps at 32 bits.
            if (self->cycleKnown_)
                skipped = static_cast<int32_t>(frame - self->lastCycleFrame_ - self->lastFrames_);
            self->cycleKnown_ = true;
            self->lastCycleFrame_ = frame;
            self->lastFrames_ = frames;
        }
    }
    if (self->firstCallbackNs_ == 0)
        self->firstCallbackNs_ = now;
    self->framesTaken_ += frames;
    const double rate = self->facts_.rate;
    const double ahead = static_cast<double>(self->framesTaken_) -
                         static_cast<double>(now - self->firstCallbackNs_) * rate / 1e9;
    // After a write error (the sound server went away) RtAudio's thread would call back
    // without pause, at real-time priority: the stream is aborted instead, and the
    // keeper opens it again.
    if (ahead > kRunawaySeconds * rate) {
        self->failed_.store(true, std::memory_order_release);
        std::memset(out, 0, sizeof(float) * kChannels * frames);
        return kAbortStream;
    }
    self->client_.Block(static_cast<float*>(out), frames, now, std::max<int64_t>(skipped, 0));
    return 0;
}

void RtAudioStream::Start() {
    // No callback runs now: the callback's own state may be set here.
    firstCallbackNs_ = 0;
    framesTaken_ = 0;
    cycleKnown_ = false;
    failed_.store(false);
    audio_->startStream();
}

void RtAudioStream::Stop() {
    audio_->stopStream();
}

void RtAudioStream::Close() {
    if (!audio_)
        return;
    try {
        if (audio_->isStreamRunning())
            audio_->abortStream();
        if (audio_->isStreamOpen())
            audio_->closeStream();
    } catch (const std::exception&) {
        // Nothing more can be done about a stream that will not close.
    }
    audio_.reset();
    if (cycleClient_ != nullptr) {
        jack_client_close(cycleClient_);
        cycleClient_ = nullptr;
    }
}

} // namespace mb
