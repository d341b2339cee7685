#include "engine/OfflineSession.h"

#include <algorithm>

#include "engine/VirtualClock.h"

namespace mb {

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

int64_t FrameTimeNs(int64_t frame) {
    return frame * kNsPerSecond / OfflineSession::kRate;
}

} // namespace

OfflineSession::OfflineSession(Setup& setup, Prompts& prompts) {
    engine_.Init(&setup, &prompts, [this] {
        AudioDevice::Config config;
        config.mixer.rate = kRate;
        config.mixer.latencyFrames = 0;
        config.clock = [this] { return nowNs_; };
        return std::make_unique<AudioDevice>(std::move(config));
    });
    SequencerPorts ports;
    ports.window = this;
    ports.face = this;
    ports.sound = &engine_;
    sequencer_.Init(ports, &setup, std::make_unique<VirtualClock>(nowNs_));
}

OfflineSession::~OfflineSession() {
    sequencer_.Stop();
}

std::vector<float> OfflineSession::Render(int64_t frames) {
    std::vector<float> out(static_cast<size_t>(std::max<int64_t>(frames, 0)) * 2, 0.0f);
    auto* clock = static_cast<VirtualClock*>(sequencer_.clock());
    nowNs_ = 0;
    sequencer_.Start();
    for (int64_t frame = 0; frame < frames; frame += kBlockFrames) {
        const int n = static_cast<int>(std::min<int64_t>(kBlockFrames, frames - frame));
        // Every step due before the end of this block is taken first: the clock jumps
        // from one due step to the next.
        clock->RunUntil(FrameTimeNs(frame + n), [this](int64_t t) { nowNs_ = t; });
        nowNs_ = FrameTimeNs(frame);
        engine_.device()->Render(out.data() + 2 * frame, n, nowNs_);
    }
    sequencer_.Stop();
    return out;
}

} // namespace mb
