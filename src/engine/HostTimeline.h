#pragma once

#include <cstdint>

#include "engine/OfflineSession.h"
#include "engine/SessionTimeline.h"
#include "engine/TransportGrid.h"

namespace mb {

// A plugin host's transport as the step clock's timeline, on the frames of an offline
// session that renders for the host (its frames counted from the plugin's start, its
// nanoseconds OfflineSession::NsOfFrame of them). The host says now and then where its
// transport stands at one of those frames (a TransportView whose frameTime is that
// frame); in between it runs on at its tempo. Step n of a run is due on the frame of its
// sixteenth on the latest view, so the steps lie on the host's grid to the frame and
// follow its tempo as it changes.
//
// Threads: one, the host's audio thread (the plugin's run()).
class HostTimeline : public SessionTimeline {
public:
    explicit HostTimeline(uint32_t rate) : rate_(rate > 0 ? rate : 1) {}

    // Where the transport stands from view.frameTime on.
    void Take(const TransportView& view) { view_ = view; }
    const TransportView& view() const { return view_; }

    // The session frame at which the transport reaches step `step` (from bar 1).
    int64_t FrameOfStep(int64_t step) const {
        return view_.frameTime + view_.FrameOfStep(step) - view_.frame;
    }
    // The first step on or after session frame `at`.
    int64_t FirstStepFrom(int64_t at) const {
        return view_.FirstStepFrom(view_.frame + at - view_.frameTime);
    }
    // Quarter notes since bar 1 at session frame `at`.
    double QuartersAt(int64_t at) const {
        return view_.quarters +
               static_cast<double>(at - view_.frameTime) * view_.qpm / (60.0 * rate_);
    }

    // SessionTimeline.
    bool IsOn() const override { return true; }
    int64_t BeginRun(int64_t earliestNs, bool /*announce*/) override {
        // The first frame whose moment is not before earliestNs.
        const auto at = static_cast<int64_t>(
            (static_cast<__int128>(earliestNs) * rate_ + OfflineSession::kNsPerSecond - 1) /
            OfflineSession::kNsPerSecond);
        runStep_ = FirstStepFrom(at);
        return OfflineSession::NsOfFrame(FrameOfStep(runStep_), rate_);
    }
    void EndRun(bool /*announce*/) override {}
    int64_t StepDueNs(int64_t n) override {
        return OfflineSession::NsOfFrame(FrameOfStep(runStep_ + n), rate_);
    }
    int64_t RunStartsAtStep() const override { return runStep_; }

private:
    uint32_t rate_;
    TransportView view_;
    int64_t runStep_ = 0;
};

} // namespace mb
