#include "audio/AudioMixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "audio/MixKernels.h"
#include "audio/SoundData.h"

namespace mb {

namespace {

// How the mapping comes back when the stream falls behind it: over windows of this many
// callbacks, when the stream's furthest frame stayed more than the headroom and this
// slack behind, by at most a few frames per window, one frame every so many callbacks.
constexpr int kWindowCallbacks = 256;
constexpr double kSlackFrames = 1024.0;
constexpr int kMaxLowerPerWindow = 8;
constexpr int kCallbacksPerNudge = 32;
// How fast the stream's best-known position may fall back, per callback: more than the
// drift of a sound card's clock against the monotonic clock (200 ppm of 256 frames).
constexpr double kStreamAtDecayFrames = 0.05;
// A gap this large (an interrupted stream, a suspended machine) is closed at once.
constexpr double kJumpSeconds = 0.25;
// Below this the stream is not ahead of the mapping (rounding of the offline clock).
constexpr double kAheadFrames = 0.5;
// An output with exact times may move its word by this much without a new runs' wait.
constexpr double kExactToleranceSeconds = 0.001;

bool IsGridCommand(const MixerCommand& c) {
    return c.at.run != 0;
}

} // namespace

AudioMixer::AudioMixer(const Config& config) : config_(config) {
    wide_ = config_.wideKernels && MixKernels::HasWide();
    if (config_.rate == 0)
        config_.rate = 44100;
    StoreLatency();
    // Until the first callback: the mapping will start the headroom ahead of the stream.
    soundDelayNs_.store(LatencyNs(), std::memory_order_relaxed);
    runDelayNs_.store(config_.exactTimes ? config_.leadNs : LatencyNs(), std::memory_order_relaxed);
}

void AudioMixer::StoreLatency() {
    latencyNs_.store(
        std::llround((static_cast<double>(config_.latencyFrames + config_.heardAfterFrames) +
                      config_.headroomFrames) *
                     1e9 / config_.rate) +
            config_.leadNs,
        std::memory_order_relaxed);
}

bool AudioMixer::Send(Lane lane, const MixerCommand& command) {
    return lanes_[static_cast<size_t>(lane)].Push(command);
}

bool AudioMixer::IsPlaying(int voice) const {
    if (voice < 0 || voice >= kMaxVoices)
        return false;
    const auto v = static_cast<size_t>(voice);
    return sounding_[v].load(std::memory_order_acquire) != 0 ||
           pendingTriggers_[v].load(std::memory_order_acquire) > 0;
}

void AudioMixer::TriggerAnnounced(int voice) {
    pendingTriggers_[static_cast<size_t>(voice)].fetch_add(1, std::memory_order_acq_rel);
}

void AudioMixer::TriggerNotSent(int voice) {
    pendingTriggers_[static_cast<size_t>(voice)].fetch_sub(1, std::memory_order_acq_rel);
}

void AudioMixer::MappingMoved(int64_t nowNs) {
    movedNs_ = nowNs;
    moves_.fetch_add(1, std::memory_order_relaxed);
}

void AudioMixer::SetLead(int64_t leadNs) {
    // The blocks' times come that much earlier from now on: the mapping moves with them,
    // so that the change is not taken for a jump of the stream. streamAt_, counted from
    // a fixed moment, moves forward by as much as the lead grew: the steps of a run
    // already placed are sent that much earlier and keep their frames.
    if (anchored_)
        anchorNs_ -= leadNs - config_.leadNs;
    config_.leadNs = leadNs;
    StoreLatency();
}

void AudioMixer::TimeUnknown(int64_t nowNs) {
    movedNs_ = nowNs;
    timeUnknown_ = true;
}

bool AudioMixer::Settled(int64_t nowNs) const {
    return anchored_ && !timeUnknown_ && nowNs - movedNs_ >= config_.settleNs;
}

void AudioMixer::UpdateAnchor(int64_t nowNs) {
    const double rate = config_.rate;
    if (!anchored_) {
        anchored_ = true;
        anchorNs_ = nowNs;
        anchorFrame_ = static_cast<double>(rendered_) + config_.headroomFrames;
        windowMax_ = static_cast<double>(rendered_);
        streamAt_ = windowMax_;
        movedNs_ = nowNs;
        exactSinceNs_ = nowNs;
        skippedFrames_ = 0;
        return;
    }
    if (config_.exactTimes) {
        // The output's own word for this block; a change beyond a millisecond (a new
        // latency, an underrun) is a move that new runs wait out.
        const double drift = static_cast<double>(rendered_) - anchorFrame_ -
                             static_cast<double>(nowNs - anchorNs_) * rate / 1e9;
        const int64_t skipped = std::exchange(skippedFrames_, 0);
        const bool jumped = std::fabs(drift) > rate * kExactToleranceSeconds;
        if (jumped)
            MappingMoved(nowNs);
        if (config_.keepTimeOverGaps && (jumped || skipped != 0)) {
            // A moment now lies `drift` frames from where the old mapping put it, a frame
            // of the device's count `skipped` frames. The skipped frames are not the
            // device's clock creeping (see sendAheadNs); the rest of the jump is.
            ShiftPlaced(-skipped, std::llround(drift));
            exactSinceNs_ += std::llround(static_cast<double>(skipped) * 1e9 / rate);
        }
        anchorNs_ = nowNs;
        anchorFrame_ = static_cast<double>(rendered_);
        // The frame at one fixed moment, as this block's time implies it: it grows as far
        // as the device's clock runs ahead of the monotonic clock.
        streamAt_ = anchorFrame_ - static_cast<double>(nowNs - exactSinceNs_) * rate / 1e9;
        return;
    }
    // The frame at the anchor time, as this callback's frame count and time imply it.
    const double implied =
        static_cast<double>(rendered_) - static_cast<double>(nowNs - anchorNs_) * rate / 1e9;
    if (implied > anchorFrame_ + kAheadFrames ||
        anchorFrame_ - implied > kJumpSeconds * rate + config_.headroomFrames) {
        anchorFrame_ = implied + config_.headroomFrames;
        MappingMoved(nowNs);
        windowMax_ = implied;
        streamAt_ = implied;
        windowCallbacks_ = 0;
        framesToLower_ = 0;
        return;
    }
    windowMax_ = std::max(windowMax_, implied);
    if (++windowCallbacks_ == kWindowCallbacks) {
        const double behind = anchorFrame_ - windowMax_ - config_.headroomFrames - kSlackFrames;
        framesToLower_ =
            behind > 0 ? static_cast<int>(std::min<double>(behind, kMaxLowerPerWindow)) : 0;
        windowMax_ = implied;
        windowCallbacks_ = 0;
    }
    if (framesToLower_ > 0 && ++callbacksSinceNudge_ >= kCallbacksPerNudge) {
        anchorFrame_ -= 1.0;
        --framesToLower_;
        callbacksSinceNudge_ = 0;
    }
}

void AudioMixer::ShiftPlaced(int64_t gridFrames, int64_t timeFrames) {
    for (RunOrigin& r : runs_)
        r.frame += gridFrames;
    for (int i = 0; i < pendingCount_; ++i) {
        Timed& t = pending_[static_cast<size_t>(i)];
        if (t.frame == kUnplaced)
            continue;
        const bool onGrid = IsGridCommand(t.command) && !t.command.at.byTime;
        t.frame += onGrid ? gridFrames : timeFrames;
    }
    // Two shifts may cross: back in order (without allocating), equal frames keeping
    // their order of arrival. The unplaced stay at the end.
    for (int i = 1; i < pendingCount_; ++i) {
        const Timed t = pending_[static_cast<size_t>(i)];
        int j = i;
        for (; j > 0 && pending_[static_cast<size_t>(j - 1)].frame > t.frame; --j)
            pending_[static_cast<size_t>(j)] = pending_[static_cast<size_t>(j - 1)];
        pending_[static_cast<size_t>(j)] = t;
    }
}

int64_t AudioMixer::FrameOf(int64_t whenNs) const {
    const double frames = static_cast<double>(whenNs - anchorNs_) * config_.rate / 1e9;
    return std::llround(anchorFrame_ + frames) + config_.latencyFrames;
}

void AudioMixer::Render(float* out, int frames, int64_t nowNs) {
    std::memset(out, 0, sizeof(float) * 2 * static_cast<size_t>(std::max(frames, 0)));
    if (frames <= 0)
        return;
    UpdateAnchor(nowNs);
    const int64_t blockStart = rendered_;
    // For what follows the sound elsewhere (MIDI): the frame the mapping gives to a
    // moment, less the frame the stream is at then. A callback that runs late makes the
    // stream look behind, so the least delayed of the recent ones has the say.
    if (!config_.exactTimes) {
        const double implied =
            static_cast<double>(blockStart) - static_cast<double>(nowNs - anchorNs_) * rate() / 1e9;
        streamAt_ = std::max(implied, streamAt_ - kStreamAtDecayFrames);
        const int64_t delay = std::llround(
            (anchorFrame_ - streamAt_ + static_cast<double>(config_.latencyFrames)) * 1e9 / rate());
        soundDelayNs_.store(delay, std::memory_order_relaxed);
        runDelayNs_.store(delay, std::memory_order_relaxed);
    }
    UpdateSendAhead();
    // With exact times a command is heard the lead after its time, and a step of the
    // latest run as much earlier as its grid has crept ahead.
    if (config_.exactTimes) {
        soundDelayNs_.store(config_.leadNs - sendAheadNs_.load(std::memory_order_relaxed),
                            std::memory_order_relaxed);
        runDelayNs_.store(config_.leadNs, std::memory_order_relaxed);
    }
    const bool settled = Settled(nowNs);
    timeUnknown_ = false;
    // Steps that waited for the stream to settle first, so that the oldest step of each
    // run places its origin. Then the step clock's lane: a trigger it sent can only name
    // a sound whose addition the window thread sent before, and a trigger is applied only
    // at its frame, after both lanes have been read.
    if (settled)
        PlaceWaiting(blockStart);
    Drain(kStepClockLane, blockStart, settled);
    Drain(kWindowLane, blockStart, settled);

    int cursor = 0;
    bool sounded = activeCount_ > 0;
    while (pendingCount_ > 0 && pending_[0].frame < blockStart + frames) {
        const int at = static_cast<int>(std::max<int64_t>(pending_[0].frame - blockStart, 0));
        if (at > cursor) {
            MixVoices(out, cursor, at);
            cursor = at;
        }
        const MixerCommand command = pending_[0].command;
        --pendingCount_;
        std::memmove(static_cast<void*>(&pending_[0]), &pending_[1],
                     sizeof(Timed) * static_cast<size_t>(pendingCount_));
        // Its run may have stopped since the command was placed.
        if (OfEndedRun(command))
            Dropped(command);
        else
            Apply(command);
        sounded = true;
    }
    MixVoices(out, cursor, frames);
    if (config_.limitOutput)
        Limit(out, 2 * static_cast<size_t>(frames));
    rendered_ += frames;
    if (sounded)
        quietFrom_ = rendered_;
    renderedOut_.store(rendered_, std::memory_order_relaxed);
    // With exact times: the moment whose frame is the first one not rendered yet, and the
    // one since which all has been quiet.
    if (config_.exactTimes) {
        const auto timeOf = [&](int64_t frame) {
            return nowNs +
                   std::llround(static_cast<double>(frame - blockStart) * 1e9 / config_.rate);
        };
        nextFrameNs_.store(timeOf(rendered_), std::memory_order_relaxed);
        const bool quiet = activeCount_ == 0 && pendingCount_ == 0;
        quietFromNs_.store(quiet ? timeOf(quietFrom_) : INT64_MAX, std::memory_order_relaxed);
    }
}

int64_t AudioMixer::Rewind(int64_t most, int64_t nowNs) {
    if (!config_.exactTimes || activeCount_ > 0 || most <= 0)
        return 0;
    // Only for whole steps that have come since (or wait for the time to be known to
    // place their run): a queue of silence is not written twice for nothing.
    const size_t whole = wholeSteps_.load(std::memory_order_acquire);
    const size_t popped = lanes_[kStepClockLane].Popped();
    const size_t steps = whole > popped ? whole - popped : 0;
    const bool unplaced =
        pendingCount_ > 0 && pending_[static_cast<size_t>(pendingCount_ - 1)].frame == kUnplaced;
    const bool waiting = steps > 0 || unplaced;
    const int64_t from = rendered_ - std::min(most, rendered_ - quietFrom_);
    if (!waiting || from >= rendered_)
        return 0;
    // The commands are placed as the next block would place them, except that the frames
    // from `from` on are still open to them; the mixer goes back only as far as the
    // earliest of them needs, so that a run placed beyond what is rendered keeps the
    // frame it has without going back.
    UpdateAnchor(nowNs);
    const bool settled = Settled(nowNs);
    if (settled)
        PlaceWaiting(from);
    Drain(kStepClockLane, from, settled, steps);
    if (pendingCount_ == 0 || pending_[0].frame >= rendered_)
        return 0;
    const int64_t frames = rendered_ - std::max(pending_[0].frame, from);
    rendered_ -= frames;
    rewinds_.fetch_add(1, std::memory_order_relaxed);
    return frames;
}

int64_t AudioMixer::EarliestNs(int64_t nowNs) const {
    const int64_t next = nextFrameNs();
    const int64_t rewrite = rewriteNs_.load(std::memory_order_relaxed);
    const int64_t quiet = quietFromNs_.load(std::memory_order_relaxed);
    if (rewrite <= 0 || quiet == INT64_MAX || next == INT64_MAX)
        return next;
    return std::min(next, std::max(quiet, nowNs + rewrite - LatencyNs()));
}

void AudioMixer::UpdateSendAhead() {
    const double crept = streamAt_ - runStreamAt_;
    int64_t ahead = 0;
    // Behind (a run that started late, a lead that came down) the steps go later.
    if (!std::isnan(crept)) // no run yet
        ahead = std::clamp<int64_t>(std::llround(crept * 1e9 / rate()), -kMaxSendAheadNs,
                                    kMaxSendAheadNs);
    sendAheadNs_.store(ahead, std::memory_order_relaxed);
}

void AudioMixer::Restart(const Config& config) {
    const uint32_t rate = config.rate == 0 ? config_.rate : config.rate;
    config_ = config;
    config_.rate = rate;
    StoreLatency();
    for (int i = 0; i < activeCount_; ++i)
        SetSpeed(voices_[active_[static_cast<size_t>(i)]]);
    anchored_ = false;
    windowCallbacks_ = 0;
    framesToLower_ = 0;
    callbacksSinceNudge_ = 0;
    runs_ = {};
    runStreamAt_ = std::numeric_limits<double>::quiet_NaN();
    sendAheadNs_.store(0, std::memory_order_relaxed);
    rewriteNs_.store(0, std::memory_order_relaxed);
    if (!config_.exactTimes)
        nextFrameNs_.store(INT64_MAX, std::memory_order_relaxed);
    // Every waiting command is placed again once the new stream has settled.
    for (int i = 0; i < pendingCount_; ++i)
        pending_[static_cast<size_t>(i)].frame = kUnplaced;
}

bool AudioMixer::IsIdle() const {
    if (activeCount_ > 0 || pendingCount_ > 0)
        return false;
    for (const auto& lane : lanes_)
        if (!lane.Empty())
            return false;
    return true;
}

void AudioMixer::Drain(Lane lane, int64_t blockStart, bool settled, size_t most) {
    auto& queue = lanes_[static_cast<size_t>(lane)];
    MixerCommand command;
    for (size_t taken = 0; taken < most && queue.Pop(command); ++taken) {
        if (command.step != MixerCommand::kNoStep && command.voice < kMaxVoices) {
            // The cut is decided in the order the steps were sent, not by what still
            // sounds when their frame comes, so a step of a run that ends before its
            // frame still counts as the last started.
            if (command.step == MixerCommand::kStepCutsLast) {
                MixerCommand stop;
                stop.kind = MixerCommand::kStop;
                stop.voice = lastStarted_;
                stop.at = command.at;
                Schedule(stop, blockStart, settled);
            }
            lastStarted_ = command.voice;
            if (command.kind == MixerCommand::kStepSilent)
                continue;
        }
        switch (command.kind) {
        case MixerCommand::kAddSound:
        case MixerCommand::kRemoveSound:
            Apply(command);
            break;
        case MixerCommand::kEndRun:
            EndRun(command.at.run);
            break;
        default:
            Schedule(command, blockStart, settled);
            break;
        }
    }
    drained_[static_cast<size_t>(lane)].store(queue.Popped(), std::memory_order_release);
}

int64_t AudioMixer::PlaceOnGrid(const GridTime& at, int64_t blockStart, bool settled) {
    RunOrigin* origin = nullptr;
    for (RunOrigin& r : runs_)
        if (r.run == at.run)
            origin = &r;
    bool first = false;
    if (origin == nullptr) {
        if (!settled)
            return kUnplaced;
        origin = &runs_[static_cast<size_t>(nextRun_)];
        nextRun_ = (nextRun_ + 1) % kRunOrigins;
        *origin = RunOrigin{at.run, FrameOf(at.originNs)};
        runStreamAt_ = streamAt_;
        first = true;
    }
    const bool latest =
        origin == &runs_[static_cast<size_t>((nextRun_ + kRunOrigins - 1) % kRunOrigins)];
    if (at.byTime && !first) {
        // Placed by its own moment: the run has no grid to creep or to move.
        if (latest)
            runStreamAt_ = streamAt_;
        const int64_t frame = FrameOf(at.Ns());
        if (frame >= blockStart)
            return frame;
        late_.fetch_add(1, std::memory_order_relaxed);
        return blockStart;
    }
    const int64_t frame = origin->frame + at.OffsetFrames(config_.rate);
    if (frame >= blockStart)
        return frame;
    // Too late for its frame: the run's grid moves so that this step sounds now and the
    // steps after it keep their spacing. A run placed late from the start only starts
    // late (its stream was not flowing when it began).
    if (!first)
        late_.fetch_add(1, std::memory_order_relaxed);
    // Where the times are the server's own, only the step was held up: it sounds now and
    // the grid stays (see keepTimeOverGaps).
    if (!first && config_.keepTimeOverGaps)
        return blockStart;
    origin->frame += blockStart - frame;
    // The steps still to come of the latest run are sent that much later again.
    if (latest)
        runStreamAt_ += static_cast<double>(blockStart - frame);
    return blockStart;
}

void AudioMixer::Schedule(const MixerCommand& command, int64_t blockStart, bool settled) {
    // A step of a run that has stopped neither sounds nor places its run's origin again.
    if (OfEndedRun(command)) {
        Dropped(command);
        return;
    }
    int64_t frame = 0;
    if (IsGridCommand(command)) {
        frame = PlaceOnGrid(command.at, blockStart, settled);
    } else {
        frame = FrameOf(command.at.originNs);
        if (frame < blockStart)
            late_.fetch_add(1, std::memory_order_relaxed);
    }
    if (pendingCount_ == kMaxPending) {
        Apply(command);
        return;
    }
    Insert(frame, command);
}

void AudioMixer::Insert(int64_t frame, const MixerCommand& command) {
    // After every command of the same frame: equal frames keep their order of arrival.
    Timed* begin = pending_.data();
    Timed* end = begin + pendingCount_;
    Timed* at =
        std::upper_bound(begin, end, frame, [](int64_t f, const Timed& t) { return f < t.frame; });
    std::memmove(static_cast<void*>(at + 1), at, sizeof(Timed) * static_cast<size_t>(end - at));
    at->frame = frame;
    at->command = command;
    ++pendingCount_;
}

void AudioMixer::PlaceWaiting(int64_t blockStart) {
    // Commands waiting for their run's origin are the tail of the list, in order of
    // arrival; each is taken out and put back on its frame.
    int first = pendingCount_;
    while (first > 0 && pending_[static_cast<size_t>(first - 1)].frame == kUnplaced)
        --first;
    const int count = pendingCount_ - first;
    pendingCount_ = first;
    for (int i = 0; i < count; ++i) {
        const MixerCommand command = pending_[static_cast<size_t>(first + i)].command;
        if (OfEndedRun(command)) {
            Dropped(command);
            continue;
        }
        Insert(IsGridCommand(command) ? PlaceOnGrid(command.at, blockStart, true)
                                      : std::max(FrameOf(command.at.originNs), blockStart),
               command);
    }
}

bool AudioMixer::OfEndedRun(const MixerCommand& command) const {
    if (!IsGridCommand(command))
        return false;
    const RunEnds* ends = followedEnds_.load(std::memory_order_acquire);
    return ends != nullptr && ends->Ended(command.at.run);
}

void AudioMixer::EndRun(uint32_t run) {
    // Runs are numbered up: a stop ends its run and every earlier one. The mixer keeps no
    // mark of its own: a command of `run` that comes after this one is dropped by the
    // step clock's RunEnds, which ended the run before it sent the stop.
    const auto ended = [this, run](uint32_t r) {
        const RunEnds* ends = followedEnds_.load(std::memory_order_acquire);
        return RunEnds::Covers(run, r) || (ends != nullptr && ends->Ended(r));
    };
    int kept = 0;
    for (int i = 0; i < pendingCount_; ++i) {
        const Timed& t = pending_[static_cast<size_t>(i)];
        if (IsGridCommand(t.command) && ended(t.command.at.run))
            Dropped(t.command);
        else
            pending_[static_cast<size_t>(kept++)] = t;
    }
    pendingCount_ = kept;
    // The latest run over, no step is sent for it any more: the next run's are sent on
    // their own moments until it is placed.
    const RunOrigin& latest =
        runs_[static_cast<size_t>((nextRun_ + kRunOrigins - 1) % kRunOrigins)];
    if (latest.run != 0 && ended(latest.run))
        runStreamAt_ = std::numeric_limits<double>::quiet_NaN();
    for (RunOrigin& r : runs_)
        if (r.run != 0 && ended(r.run))
            r = RunOrigin{};
}

void AudioMixer::Dropped(const MixerCommand& command) {
    if (command.kind == MixerCommand::kTrigger && command.voice < kMaxVoices)
        pendingTriggers_[command.voice].fetch_sub(1, std::memory_order_acq_rel);
}

} // namespace mb
