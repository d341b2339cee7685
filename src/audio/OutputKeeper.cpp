#include "audio/OutputKeeper.h"

#include <algorithm>
#include <cmath>

#include "platform/Clocks.h"

namespace mb {

namespace {

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
// Seconds without any sound or command after which a stream that says when its frames
// are heard counts as quiet: waiting for a start (see StreamClient::HeardBlock). Longer
// than the gaps between the steps of a run that sounds.
constexpr double kQuietSeconds = 0.25;

} // namespace

std::unique_ptr<AudioDevice> OutputKeeper::Open(StreamOpener opener,
                                                const OutputChoice& choice,
                                                EventHandler events,
                                                std::string* note) {
    std::unique_ptr<OutputKeeper> output(new OutputKeeper(std::move(opener)));
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
    OutputKeeper* self = output.get();
    try {
        self->StartStream(kSettleNs);
    } catch (const std::exception&) {
        return nullptr;
    }
    self->keeper_ = std::thread([self] {
        NameThisThread("mb-output");
        self->Keep();
    });
    device->AttachOutput(std::move(output));
    return device;
}

OutputKeeper::~OutputKeeper() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    bell_.Ring();
    if (keeper_.joinable())
        keeper_.join();
    CloseStream();
}

void OutputKeeper::Block(float* out, unsigned frames, int64_t nowNs, int64_t skippedFrames) {
    lastCallbackNs_.store(nowNs, std::memory_order_relaxed);
    if (skippedFrames != 0)
        device_->mixer().FramesSkipped(skippedFrames);
    // With the server's cycle times the mixer's clock is the cycle's start less the lead,
    // as for a stream that says when its frames are heard (leadNs_ is 0 otherwise).
    device_->Render(out, static_cast<int>(frames), nowNs - leadNs_);
    AfterBlock(frames, nowNs);
}

bool OutputKeeper::HeardBlock(
    float* out, unsigned frames, int64_t playNs, bool known, int64_t rewriteNs) {
    const int64_t now = MonotonicNs();
    lastCallbackNs_.store(now, std::memory_order_relaxed);
    if (known) {
        FollowLead(frames, playNs, now);
        device_->mixer().SetRewriteNs(rewriteNs > 0 ? rewriteNs + kRewriteAllowanceNs : 0);
    } else
        device_->mixer().TimeUnknown(playNs - leadNs_);
    // The mixer's clock is the moment a block is heard, less the lead: a command sounds
    // on the frame heard exactly that lead after its moment.
    device_->Render(out, static_cast<int>(frames), playNs - leadNs_);
    AfterBlock(frames, now);
    const bool quiet = static_cast<double>(idleFrames_) >= kQuietSeconds * rate_;
    quiet_.store(quiet, std::memory_order_relaxed);
    return quiet;
}

int64_t OutputKeeper::Rewrite(int64_t most, int64_t playNs) {
    return device_->mixer().Rewind(most, playNs - leadNs_);
}

void OutputKeeper::FollowLead(unsigned frames, int64_t playNs, int64_t nowNs) {
    // The steps of a moment must reach the mixer before the block that holds it is
    // written: its last frame is heard this long after the commands for it must be in.
    const int64_t blockNs = static_cast<int64_t>(frames) * 1000000000 / rate_;
    const int64_t needed = playNs + blockNs - nowNs + kLeadMarginNs;
    windowNeedNs_ = std::max(windowNeedNs_, needed);
    windowFrames_ += frames;
    int64_t lead = leadNs_;
    if (needed > lead) {
        lead = RoundLead(needed);
    } else if (windowFrames_ >= static_cast<int64_t>(kLeadWindowSeconds) * rate_) {
        // A lead that no block of a whole window has needed comes down to what they did.
        lead = std::min(lead, RoundLead(windowNeedNs_));
        windowNeedNs_ = 0;
        windowFrames_ = 0;
    }
    if (lead != leadNs_) {
        leadNs_ = lead;
        device_->mixer().SetLead(lead);
    }
}

void OutputKeeper::AfterBlock(unsigned frames, int64_t nowNs) {
    if (device_->mixer().IsIdle() && !Stirred(nowNs)) {
        idleFrames_ += frames;
        if (static_cast<double>(idleFrames_) >= kIdleSeconds * rate_)
            idleLong_.store(true, std::memory_order_release);
    } else {
        idleFrames_ = 0;
        idleLong_.store(false, std::memory_order_release);
    }
}

AudioMixer::Config OutputKeeper::MixerConfig(int64_t settleNs) const {
    AudioMixer::Config config;
    config.rate = rate_;
    config.settleNs = settleNs;
    if (stream_->facts().saysWhenHeard) {
        // The stream says when each frame is heard: no latency or headroom to guess, and
        // a run starts as soon as the stream has said it (a stream's first stall, or the
        // wait for a report after it stood still, are times not yet known).
        config.exactTimes = true;
        config.leadNs = leadNs_;
        config.settleNs = 0;
        return config;
    }
    const int64_t device = deviceLatency_ > 0 ? deviceLatency_ : 0;
    if (stream_->facts().cycleTimes) {
        // Each block's time is exact: a command is rendered the lead after its time (see
        // TryOpen), on the frame the server's other clients give that moment, and heard
        // the device's latency later.
        config.exactTimes = true;
        config.leadNs = leadNs_;
        config.heardAfterFrames = device;
        config.settleNs = 0;
        // Cycles the server lost are time skipped: what comes after keeps its moment.
        config.keepTimeOverGaps = true;
        return config;
    }
    config.latencyFrames = static_cast<int64_t>(bufferFrames_) + kStepClockAllowanceFrames;
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

bool OutputKeeper::TryOpen(const OutputChoice& choice) {
    uint32_t rate = rate_;
    std::unique_ptr<OutputStream> stream = opener_(choice, *this, nudge_, rate);
    rate_ = rate;
    if (!stream)
        return false;
    const OutputStream::Facts& facts = stream->facts();
    if (facts.saysWhenHeard) {
        // Until the stream has said when its frames are heard: the queue it was granted, a
        // block and the margin.
        leadNs_ = RoundLead(facts.queuedNs +
                            static_cast<int64_t>(facts.bufferFrames) * 1000000000 / facts.rate +
                            kLeadMarginNs);
        windowNeedNs_ = 0;
        windowFrames_ = 0;
    } else if (facts.cycleTimes) {
        // A server calls every client once a cycle, on time: a block's commands must be in
        // when its cycle starts, the step clock's allowance and the period's jitter
        // before its first frame is played (the same delay the mapping from callbacks
        // keeps through JACK, without its guess).
        leadNs_ =
            std::llround((static_cast<double>(facts.bufferFrames + kStepClockAllowanceFrames) +
                          kJackHeadroomSeconds * facts.rate) *
                         1e9 / facts.rate);
    } else {
        leadNs_ = 0;
    }
    std::lock_guard lock(mutex_);
    rate_ = facts.rate;
    bufferFrames_ = facts.bufferFrames;
    deviceLatency_ = facts.deviceLatency;
    api_ = facts.api;
    deviceName_ = choice.device;
    description_ = facts.description;
    stream_ = std::move(stream);
    return true;
}

bool OutputKeeper::OpenStream(const OutputChoice& choice, std::string* note, bool anyApi) {
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

void OutputKeeper::StartStream(int64_t settleNs) {
    // No callback runs now: the mixer and the callback's own state may be set here.
    device_->Restart(MixerConfig(settleNs));
    idleFrames_ = 0;
    idleLong_.store(false);
    startedNs_ = MonotonicNs();
    lastCallbackNs_.store(startedNs_);
    stream_->Start();
}

void OutputKeeper::CloseStream() {
    if (!stream_)
        return;
    stream_->Close();
    std::lock_guard lock(mutex_);
    stream_.reset();
}

void OutputKeeper::Apply(const OutputChoice& choice) {
    {
        std::lock_guard lock(mutex_);
        requested_ = choice;
        applyRequested_ = true;
    }
    bell_.Ring();
}

OutputStatus OutputKeeper::Status() const {
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

void OutputKeeper::Wake() {
    // Asked first, then rung: the keeper answers the bell before it looks at the request.
    wakeRequested_.store(true, std::memory_order_seq_cst);
    bell_.Ring();
}

void OutputKeeper::KeepAwake() {
    // Announced first, then looked at: the keeper says it stands still before it looks
    // at the announcement, so one of the two always sees the other.
    stirredNs_.store(MonotonicNs(), std::memory_order_seq_cst);
    if (Paused())
        Wake();
}

void OutputKeeper::HoldFlowing(bool hold) {
    held_.store(hold, std::memory_order_seq_cst);
    if (hold && Paused())
        Wake();
}

bool OutputKeeper::Stirred(int64_t nowNs) const {
    return nowNs - stirredNs_.load(std::memory_order_seq_cst) <
           static_cast<int64_t>(kIdleSeconds * 1e9);
}

void OutputKeeper::Report(Event::Kind kind,
                          const std::string& text,
                          int64_t latencyNs,
                          int64_t quickNs) {
    if (events_)
        events_(Event{kind, text, latencyNs, quickNs, MonotonicNs()});
}

template <typename Done>
void OutputKeeper::Sleep(std::unique_lock<std::mutex>& lock, int64_t timeoutNs, Done done) {
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

void OutputKeeper::Keep() {
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

void OutputKeeper::KeepRunning(std::unique_lock<std::mutex>& lock) {
    Sleep(lock, kCheckNs, [this] { return quit_ || applyRequested_; });
    if (quit_ || applyRequested_)
        return;
    const int64_t now = MonotonicNs();
    const bool silent = now - startedNs_ > kStartGraceNs &&
                        now - lastCallbackNs_.load(std::memory_order_relaxed) > kNoCallbackNs;
    const bool broken = stream_->failed();
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
    const int64_t quick = stream_->facts().saysWhenHeard && quiet_.load(std::memory_order_relaxed)
                              ? device_->mixer().rewriteNs()
                              : 0;
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
        stream_->Stop();
    } catch (const std::exception&) {
    }
    const bool idle = device_->mixer().IsIdle() && !Stirred(MonotonicNs()) &&
                      !held_.load(std::memory_order_seq_cst);
    lock.lock();
    state_ = State::kPaused;
    if (!idle)
        wakeRequested_.store(true, std::memory_order_seq_cst);
}

void OutputKeeper::KeepLost(std::unique_lock<std::mutex>& lock) {
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

void OutputKeeper::RenderSilently() {
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
