#include "engine/OfflineSession.h"

#include <algorithm>

#include "engine/VirtualClock.h"
#include "model/Setup.h"

namespace mb {

namespace {

// The most steps taken before the mixer renders: each is at most two commands (a silence
// and a trigger), and the mixer holds a few thousand waiting commands. A block of a tempo
// so fast that more steps fall in it is cut short.
constexpr int kMaxStepsPerBlock = 1000;

} // namespace

OfflineSession::OfflineSession(Setup& setup, Notifier& notifier, Options options)
    : options_(options) {
    if (options_.rate == 0)
        options_.rate = kDefaultRate;
    engine_.Init(&setup, &notifier, [this] {
        AudioDevice::Config config;
        config.mixer.rate = options_.rate;
        config.mixer.latencyFrames = 0;
        config.mixer.limitOutput = options_.limitOutput;
        config.mixer.keepTimeOverGaps = options_.keepTimeOverGaps;
        config.clock = [this] { return nowNs_; };
        return std::make_unique<AudioDevice>(std::move(config));
    });
    SequencerPorts ports;
    ports.window = this;
    ports.face = this;
    ports.sound = this;
    ports.windowSteps = &counter_;
    ports.midi = options_.midi;
    ports.session = options_.timeline;
    sequencer_.Init(ports, &setup, std::make_unique<VirtualClock>(nowNs_));
}

OfflineSession::OfflineSession(Setup& setup, Notifier& notifier)
    : OfflineSession(setup, notifier, Options()) {}

OfflineSession::~OfflineSession() {
    sequencer_.Stop();
}

VirtualClock& OfflineSession::clock() const {
    return *static_cast<VirtualClock*>(sequencer_.clock());
}

void OfflineSession::StepCounter::TakeStep(const StepEvent&) {
    if (++session.stepsTaken_ == session.stepLimit_)
        session.clock().Stop();
}

void OfflineSession::TakeStep(const StepEvent& step) {
    // A step of another sound still cuts the one before it; the device is not nudged
    // (the offline mixer has no queue to write again).
    engine_.SoundStep(step, options_.soloSound < 0 || step.sound == options_.soloSound);
}

void OfflineSession::Start(int64_t stepLimit) {
    nowNs_ = 0;
    frame_ = 0;
    stepsTaken_ = 0;
    stepLimit_ = stepLimit;
    sequencer_.Start();
    // The first step is taken by the start itself.
    if (stepLimit_ >= 0 && stepsTaken_ >= stepLimit_)
        clock().Stop();
}

void OfflineSession::MoveTo(int64_t frame) {
    frame_ = frame;
    nowNs_ = FrameTimeNs(frame);
}

void OfflineSession::StartOnTimeline() {
    nowNs_ = FrameTimeNs(frame_);
    stepsTaken_ = 0;
    stepLimit_ = -1;
    sequencer_.StartOnTimeline();
}

void OfflineSession::TimelineMoved() {
    nowNs_ = FrameTimeNs(frame_);
    clock().Poke();
}

void OfflineSession::Render(float* out, int64_t frames) {
    VirtualClock& c = clock();
    const auto setTime = [this](int64_t t) { nowNs_ = t; };
    for (int64_t done = 0; done < frames;) {
        int64_t end = frame_ + std::min<int64_t>(kBlockFrames, frames - done);
        // Every step due before the end of this block is taken first: the clock jumps from
        // one due step to the next. When too many fall in the block, it ends before the
        // first step not taken.
        c.RunUntil(FrameTimeNs(end), setTime, kMaxStepsPerBlock);
        if (c.deadline() <= FrameTimeNs(end))
            end = std::max(frame_ + 1, c.deadline() * options_.rate / kNsPerSecond);
        const auto n = static_cast<int>(end - frame_);
        nowNs_ = FrameTimeNs(frame_);
        engine_.device()->Render(out + 2 * done, n, nowNs_);
        frame_ = end;
        done += n;
    }
}

void OfflineSession::Stop() {
    sequencer_.Stop();
}

bool OfflineSession::Sounding() const {
    for (int loop = 0; loop < kLoopCount; ++loop)
        for (int step = 0; step < kStepsPerLoop; ++step)
            if (engine_.IsPlaying(loop, step))
                return true;
    return false;
}

std::vector<float> OfflineSession::Render(int64_t frames) {
    std::vector<float> out(static_cast<size_t>(std::max<int64_t>(frames, 0)) * 2, 0.0f);
    Start();
    Render(out.data(), frames);
    Stop();
    return out;
}

} // namespace mb
