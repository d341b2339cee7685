#include "platform/RtAudioOutput.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <cstdlib>
#include <cstring>
#include <rtaudio/RtAudio.h>

#include "platform/Clocks.h"
#include "platform/PulseSinks.h"
#include "platform/PulseStream.h"

namespace mb {

namespace {

constexpr int kCallbackPriority = 70;
// What the callback returns to have RtAudio abort the stream at once.
constexpr int kAbortStream = 2;
// A stream that has taken this many seconds more than the time since its first callback
// is not being played: its writes fail and RtAudio calls back in a tight loop.
constexpr double kRunawaySeconds = 2.0;
// The keeper's look at a running stream, the silence after which it is lost (not
// before it has run for a while: a new stream may stall at first), the pace of silent
// rendering and of new attempts while lost.
constexpr int64_t kCheckNs = 250000000;
constexpr int64_t kNoCallbackNs = 500000000;
constexpr int64_t kStartGraceNs = 2000000000;
constexpr int64_t kSilentStepNs = 100000000;
constexpr int64_t kRetryNs = 2000000000;
// Seconds without any sound or command before the stream stands still.
constexpr double kIdleSeconds = 2.0;
constexpr int kSilentBlockFrames = 1024;
// Seconds without any sound or command after which a sound server's stream counts as
// quiet: waiting for a start (see PulseStream::ReportOften). Longer than the gaps between
// the steps of a run that sounds.
constexpr double kQuietSeconds = 0.25;

struct Api {
    const char* name;
    RtAudio::Api api;
};
// The back ends RtAudio serves; a sound server is served through libpulse.
constexpr Api kApis[] = {
    {"alsa", RtAudio::LINUX_ALSA},
    {"jack", RtAudio::UNIX_JACK},
};
constexpr const char* kPulse = "pulse";

bool Compiled(RtAudio::Api api) {
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    return std::find(compiled.begin(), compiled.end(), api) != compiled.end();
}

// ALSA's library prints every device it cannot open while RtAudio looks at them all (a
// machine without a sound card has none); the program says what matters itself.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

// Errors that RtAudio meets once a stream is open (on its own thread, too) come here
// instead of being thrown where nothing could catch them. A failing stream shows in its
// callbacks (they stop, or race ahead of time) and the keeper acts on that.
void IgnoreStreamError(RtAudioError::Type /*type*/, const std::string& /*text*/) {}

} // namespace

std::vector<OutputDevice> RtAudioOutput::ListDevices(const std::string& api) {
    if (api == kPulse)
        return PulseSinks::List();
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

std::unique_ptr<AudioDevice>
RtAudioOutput::Open(const OutputChoice& choice, EventHandler events, std::string* note) {
    // Trying JACK must not start a JACK server.
    setenv("JACK_NO_START_SERVER", "1", 0);
    snd_lib_error_set_handler(&QuietAlsa);
    std::unique_ptr<RtAudioOutput> output(new RtAudioOutput());
    output->events_ = std::move(events);
    std::string said;
    if (!output->OpenStream(choice, &said))
        return nullptr;
    if (note != nullptr)
        *note = said;
    output->choice_ = choice;
    AudioDevice::Config config;
    config.mixer = output->MixerConfig(kSettleNs);
    auto device = std::make_unique<AudioDevice>(std::move(config));
    output->device_ = device.get();
    RtAudioOutput* self = output.get();
    try {
        self->StartStream(kSettleNs);
    } catch (const std::exception&) {
        return nullptr;
    }
    self->keeper_ = std::thread([self] { self->Keep(); });
    device->AttachOutput(std::move(output));
    return device;
}

RtAudioOutput::~RtAudioOutput() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    bell_.Ring();
    if (keeper_.joinable())
        keeper_.join();
    CloseStream();
}

int RtAudioOutput::Callback(void* out,
                            void* /*in*/,
                            unsigned frames,
                            double /*streamTime*/,
                            unsigned /*status*/,
                            void* user) {
    auto* self = static_cast<RtAudioOutput*>(user);
    const int64_t now = MonotonicNs();
    self->lastCallbackNs_.store(now, std::memory_order_relaxed);
    if (self->firstCallbackNs_ == 0)
        self->firstCallbackNs_ = now;
    self->framesTaken_ += frames;
    const double rate = self->rate_;
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
    self->device_->Render(static_cast<float*>(out), static_cast<int>(frames), now);
    self->AfterBlock(frames, now);
    return 0;
}

void RtAudioOutput::PulseCallback(
    float* out, unsigned frames, int64_t playNs, bool known, void* user) {
    auto* self = static_cast<RtAudioOutput*>(user);
    const int64_t now = MonotonicNs();
    self->lastCallbackNs_.store(now, std::memory_order_relaxed);
    if (known) {
        self->FollowLead(frames, playNs, now);
        const int64_t rewrite = self->pulse_->rewriteNs();
        self->device_->mixer().SetRewriteNs(rewrite > 0 ? rewrite + kRewriteAllowanceNs : 0);
    } else
        self->device_->mixer().TimeUnknown(playNs - self->pulseLeadNs_);
    // The mixer's clock is the moment a block is heard, less the lead: a command sounds
    // on the frame heard exactly that lead after its moment.
    self->device_->Render(out, static_cast<int>(frames), playNs - self->pulseLeadNs_);
    self->AfterBlock(frames, now);
    const bool quiet = static_cast<double>(self->idleFrames_) >= kQuietSeconds * self->rate_;
    self->pulse_->ReportOften(quiet);
    self->quiet_.store(quiet, std::memory_order_relaxed);
}

int64_t RtAudioOutput::PulseRewrite(int64_t most, int64_t playNs, void* user) {
    auto* self = static_cast<RtAudioOutput*>(user);
    return self->device_->mixer().Rewind(most, playNs - self->pulseLeadNs_);
}

void RtAudioOutput::FollowLead(unsigned frames, int64_t playNs, int64_t nowNs) {
    // The steps of a moment must reach the mixer before the block that holds it is
    // written: its last frame is heard this long after the commands for it must be in.
    const int64_t blockNs = static_cast<int64_t>(frames) * 1000000000 / rate_;
    const int64_t needed = playNs + blockNs - nowNs + kLeadMarginNs;
    windowNeedNs_ = std::max(windowNeedNs_, needed);
    windowFrames_ += frames;
    int64_t lead = pulseLeadNs_;
    if (needed > lead) {
        lead = RoundLead(needed);
    } else if (windowFrames_ >= static_cast<int64_t>(kLeadWindowSeconds) * rate_) {
        // A lead that no block of a whole window has needed comes down to what they did.
        lead = std::min(lead, RoundLead(windowNeedNs_));
        windowNeedNs_ = 0;
        windowFrames_ = 0;
    }
    if (lead != pulseLeadNs_) {
        pulseLeadNs_ = lead;
        device_->mixer().SetLead(lead);
    }
}

void RtAudioOutput::AfterBlock(unsigned frames, int64_t nowNs) {
    if (device_->mixer().IsIdle() && !Stirred(nowNs)) {
        idleFrames_ += frames;
        if (static_cast<double>(idleFrames_) >= kIdleSeconds * rate_)
            idleLong_.store(true, std::memory_order_release);
    } else {
        idleFrames_ = 0;
        idleLong_.store(false, std::memory_order_release);
    }
}

AudioMixer::Config RtAudioOutput::MixerConfig(int64_t settleNs) const {
    AudioMixer::Config config;
    config.rate = rate_;
    config.settleNs = settleNs;
    if (pulse_) {
        // The stream says when each frame is heard: no latency or headroom to guess, and
        // a run starts as soon as the stream has said it (a stream's first stall, or the
        // wait for a report after it stood still, are times not yet known).
        config.exactTimes = true;
        config.leadNs = pulseLeadNs_;
        config.settleNs = 0;
        return config;
    }
    config.latencyFrames = static_cast<int64_t>(bufferFrames_) + kStepClockAllowanceFrames;
    const int64_t device = deviceLatency_ > 0 ? deviceLatency_ : 0;
    if (api_ == "jack") {
        // A JACK server calls every client once a period, on time: the mapping needs no
        // room for bursts, and the device's latency comes after the frame is rendered.
        config.heardAfterFrames = device;
        config.headroomFrames = kJackHeadroomSeconds * rate_;
    } else {
        config.latencyFrames += device;
        config.headroomFrames = kHeadroomFrames;
    }
    return config;
}

bool RtAudioOutput::TryOpenPulse(const OutputChoice& choice) {
    std::string sink;
    const uint32_t rate = PulseSinks::Rate(choice.device, &sink);
    if (rate == 0)
        return false; // no server, or no such sink
    const auto frames = static_cast<unsigned>(std::clamp(
        choice.bufferFrames, OutputChoice::kMinBufferFrames, OutputChoice::kMaxBufferFrames));
    auto stream = std::make_unique<PulseStream>();
    std::string error;
    rate_ = rate;
    if (!stream->Open(choice.device.empty() ? std::string() : sink, rate, frames,
                      &RtAudioOutput::PulseCallback, &RtAudioOutput::PulseRewrite, &nudge_, this,
                      &error))
        return false;
    const std::string device =
        choice.device.empty() ? "default device" : "\"" + choice.device + "\"";
    // Until the stream has said when its frames are heard: the queue it was granted, a
    // block and the margin.
    pulseLeadNs_ = RoundLead(stream->queuedNs() + static_cast<int64_t>(frames) * 1000000000 / rate +
                             kLeadMarginNs);
    windowNeedNs_ = 0;
    windowFrames_ = 0;
    std::lock_guard lock(mutex_);
    bufferFrames_ = frames;
    deviceLatency_ = 0;
    api_ = kPulse;
    deviceName_ = choice.device;
    description_ = "PulseAudio, " + device + ", " + std::to_string(rate) + " Hz, " +
                   std::to_string(frames) + " frames";
    pulse_ = std::move(stream);
    return true;
}

bool RtAudioOutput::TryOpen(const OutputChoice& choice) {
    if ((choice.api.empty() || choice.api == kPulse) && TryOpenPulse(choice))
        return true;
    for (const Api& a : kApis) {
        if ((!choice.api.empty() && choice.api != a.name) || !Compiled(a.api))
            continue;
        try {
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
            unsigned rate = kRate;
            const auto& rates = info.sampleRates;
            // At 44 100 Hz when the device takes it, else at its own rate.
            if (std::find(rates.begin(), rates.end(), kRate) == rates.end())
                rate = info.preferredSampleRate != 0 ? info.preferredSampleRate
                                                     : (rates.empty() ? kRate : rates.back());
            RtAudio::StreamOptions options;
            options.flags = RTAUDIO_MINIMIZE_LATENCY | RTAUDIO_SCHEDULE_REALTIME;
            options.priority = kCallbackPriority;
            options.streamName = "Marrowbeat";
            unsigned frames = static_cast<unsigned>(std::clamp(choice.bufferFrames,
                                                               OutputChoice::kMinBufferFrames,
                                                               OutputChoice::kMaxBufferFrames));
            rate_ = rate;
            audio->openStream(&params, nullptr, RTAUDIO_FLOAT32, rate, &frames,
                              &RtAudioOutput::Callback, this, &options, &IgnoreStreamError);
            if (!audio->isStreamOpen())
                continue;
            const std::string device =
                choice.device.empty() ? "default device" : "\"" + choice.device + "\"";
            std::lock_guard lock(mutex_);
            rate_ = audio->getStreamSampleRate();
            bufferFrames_ = frames;
            deviceLatency_ = audio->getStreamLatency();
            api_ = a.name;
            deviceName_ = choice.device;
            description_ = RtAudio::getApiDisplayName(a.api) + ", " + device + ", " +
                           std::to_string(rate_) + " Hz, " + std::to_string(frames) + " frames";
            audio_ = std::move(audio);
            return true;
        } catch (const std::exception&) {
            continue;
        }
    }
    return false;
}

bool RtAudioOutput::OpenStream(const OutputChoice& choice, std::string* note, bool anyApi) {
    if (TryOpen(choice))
        return true;
    std::string what = choice.api.empty() ? "The sound output" : "The " + choice.api + " output";
    if (!choice.device.empty()) {
        what = "The sound device \"" + choice.device + "\"";
        OutputChoice fallback = choice;
        fallback.device.clear();
        if (TryOpen(fallback)) {
            *note = what + " could not be opened. Marrowbeat plays through the default device.";
            return true;
        }
    }
    if (anyApi && !choice.api.empty()) {
        OutputChoice any;
        any.bufferFrames = choice.bufferFrames;
        if (TryOpen(any)) {
            *note = what + " could not be opened. Marrowbeat plays through the default device (" +
                    api_ + ").";
            return true;
        }
    }
    return false;
}

void RtAudioOutput::StartStream(int64_t settleNs) {
    // No callback runs now: the mixer and the callback's own state may be set here.
    device_->Restart(MixerConfig(settleNs));
    firstCallbackNs_ = 0;
    framesTaken_ = 0;
    idleFrames_ = 0;
    idleLong_.store(false);
    failed_.store(false);
    startedNs_ = MonotonicNs();
    lastCallbackNs_.store(startedNs_);
    if (pulse_)
        pulse_->Start();
    else
        audio_->startStream();
}

void RtAudioOutput::CloseStream() {
    if (pulse_) {
        pulse_->Close();
        std::lock_guard lock(mutex_);
        pulse_.reset();
        return;
    }
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
    std::lock_guard lock(mutex_);
    audio_.reset();
}

void RtAudioOutput::Apply(const OutputChoice& choice) {
    {
        std::lock_guard lock(mutex_);
        requested_ = choice;
        applyRequested_ = true;
    }
    bell_.Ring();
}

OutputStatus RtAudioOutput::Status() const {
    std::lock_guard lock(mutex_);
    OutputStatus status;
    status.lost = state_ == State::kLost;
    if (status.lost)
        return status;
    status.api = api_;
    status.device = deviceName_;
    status.description = description_;
    status.rate = rate_;
    status.bufferFrames = static_cast<int>(bufferFrames_);
    status.bufferMs = rate_ != 0 ? 1000.0 * bufferFrames_ / rate_ : 0.0;
    status.serverSetsBuffer = api_ == "jack";
    if (device_ != nullptr)
        status.latencyMs = static_cast<double>(device_->mixer().LatencyNs()) / 1e6;
    return status;
}

void RtAudioOutput::Wake() {
    // Asked first, then rung: the keeper answers the bell before it looks at the request.
    wakeRequested_.store(true, std::memory_order_seq_cst);
    bell_.Ring();
}

void RtAudioOutput::KeepAwake() {
    // Announced first, then looked at: the keeper says it stands still before it looks
    // at the announcement, so one of the two always sees the other.
    stirredNs_.store(MonotonicNs(), std::memory_order_seq_cst);
    if (Paused())
        Wake();
}

void RtAudioOutput::HoldFlowing(bool hold) {
    held_.store(hold, std::memory_order_seq_cst);
    if (hold && Paused())
        Wake();
}

bool RtAudioOutput::Stirred(int64_t nowNs) const {
    return nowNs - stirredNs_.load(std::memory_order_seq_cst) <
           static_cast<int64_t>(kIdleSeconds * 1e9);
}

void RtAudioOutput::Report(Event::Kind kind,
                           const std::string& text,
                           int64_t latencyNs,
                           int64_t quickNs) {
    if (events_)
        events_(Event{kind, text, latencyNs, quickNs, MonotonicNs()});
}

template <typename Done>
void RtAudioOutput::Sleep(std::unique_lock<std::mutex>& lock, int64_t timeoutNs, Done done) {
    const int64_t until = timeoutNs < 0 ? 0 : MonotonicNs() + timeoutNs;
    while (!done()) {
        const int64_t left = timeoutNs < 0 ? -1 : until - MonotonicNs();
        if (timeoutNs >= 0 && left <= 0)
            return;
        lock.unlock();
        bell_.Wait(left);
        lock.lock();
    }
}

void RtAudioOutput::Keep() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (applyRequested_) {
            applyRequested_ = false;
            const OutputChoice choice = requested_;
            lock.unlock();
            CloseStream();
            std::string note;
            const bool opened = OpenStream(choice, &note);
            if (opened)
                StartStream(kSettleNs);
            else
                silentUntilNs_ = MonotonicNs();
            lock.lock();
            choice_ = choice;
            paused_.store(false);
            state_ = opened ? State::kRunning : State::kLost;
            lock.unlock();
            if (!note.empty())
                Report(Event::kFellBack, note);
            if (!opened)
                Report(Event::kLost);
            lock.lock();
            continue;
        }
        switch (state_) {
        case State::kRunning:
            KeepRunning(lock);
            break;
        case State::kPaused:
            Sleep(lock, -1, [this] { return quit_ || wakeRequested_ || applyRequested_; });
            if (quit_ || applyRequested_)
                break;
            wakeRequested_.store(false, std::memory_order_seq_cst);
            lock.unlock();
            StartStream(kResumeSettleNs);
            paused_.store(false, std::memory_order_release);
            lock.lock();
            state_ = State::kRunning;
            break;
        case State::kLost:
            KeepLost(lock);
            break;
        }
    }
}

void RtAudioOutput::KeepRunning(std::unique_lock<std::mutex>& lock) {
    Sleep(lock, kCheckNs, [this] { return quit_ || applyRequested_; });
    if (quit_ || applyRequested_)
        return;
    const int64_t now = MonotonicNs();
    const bool silent = now - startedNs_ > kStartGraceNs &&
                        now - lastCallbackNs_.load(std::memory_order_relaxed) > kNoCallbackNs;
    const bool broken = failed_.load(std::memory_order_acquire) || (pulse_ && pulse_->failed());
    if (broken || silent) {
        state_ = State::kLost;
        lock.unlock();
        CloseStream();
        silentUntilNs_ = MonotonicNs();
        Report(Event::kLost);
        lock.lock();
        return;
    }
    // While quiet, said at every check: whoever stopped listening to it (a run began or
    // ended) hears it again from a check made after that.
    const int64_t latency = device_->mixer().LatencyNs();
    const int64_t quick =
        pulse_ && quiet_.load(std::memory_order_relaxed) ? device_->mixer().rewriteNs() : 0;
    const bool moved = latency != reportedLatencyNs_;
    if (moved || quick != reportedQuickNs_ || quick > 0) {
        reportedLatencyNs_ = latency;
        reportedQuickNs_ = quick;
        lock.unlock();
        Report(Event::kLatency, {}, latency, quick);
        lock.lock();
        if (moved)
            return;
    }
    if (!idleLong_.load(std::memory_order_acquire) || held_.load(std::memory_order_seq_cst))
        return;
    // A stream that stands still meets a start only after it has gone on and reported
    // again: it no longer starts quickly.
    if (reportedQuickNs_ > 0) {
        reportedQuickNs_ = 0;
        lock.unlock();
        Report(Event::kLatency, {}, latency, 0);
        lock.lock();
    }
    // Nothing has sounded for a while: the stream stands still. Saying so first, and
    // looking at the lanes only once the stream has stopped, means that a command sent
    // meanwhile either sees it (and wakes the stream) or is seen here.
    wakeRequested_.store(false, std::memory_order_seq_cst);
    paused_.store(true, std::memory_order_seq_cst);
    lock.unlock();
    try {
        if (pulse_)
            pulse_->Stop();
        else
            audio_->stopStream();
    } catch (const std::exception&) {
    }
    const bool idle = device_->mixer().IsIdle() && !Stirred(MonotonicNs()) &&
                      !held_.load(std::memory_order_seq_cst);
    lock.lock();
    state_ = State::kPaused;
    if (!idle)
        wakeRequested_.store(true, std::memory_order_seq_cst);
}

void RtAudioOutput::KeepLost(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    RenderSilently();
    const int64_t now = MonotonicNs();
    bool opened = false;
    if (now - startedNs_ >= kRetryNs) {
        startedNs_ = now;
        // The same output again (its default device when the chosen one is gone), not
        // another back end that happens to be there.
        std::string note;
        opened = OpenStream(choice_, &note, false);
        if (opened) {
            StartStream(kSettleNs);
            Report(Event::kBack);
        }
    }
    lock.lock();
    if (opened) {
        state_ = State::kRunning;
        return;
    }
    Sleep(lock, kSilentStepNs, [this] { return quit_ || applyRequested_; });
}

void RtAudioOutput::RenderSilently() {
    // The keeper is the mixer's only consumer now: it takes the frames that time has
    // brought, so that steps, voices and their ends go on as if the sound were heard.
    std::vector<float> block(2 * kSilentBlockFrames);
    const int64_t now = MonotonicNs();
    auto frames = static_cast<int64_t>(static_cast<double>(now - silentUntilNs_) * rate_ / 1e9);
    while (frames > 0) {
        const int n = static_cast<int>(std::min<int64_t>(frames, kSilentBlockFrames));
        device_->Render(block.data(), n, silentUntilNs_);
        silentUntilNs_ += static_cast<int64_t>(n * 1e9 / rate_);
        frames -= n;
    }
}

} // namespace mb
