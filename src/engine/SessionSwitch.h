#pragma once

#include <atomic>
#include <cstdint>
#include <limits>

#include "engine/SessionTimeline.h"

namespace mb {

// The one timeline the step clock follows, chosen among several (a network session, a
// transport) or none. The window thread switches it only once the sequencer has left the
// timeline followed before (Sequencer::LeaveSession), so that the step clock never asks
// a timeline that is going.
class SessionSwitch : public SessionTimeline {
public:
    void Follow(SessionTimeline* timeline) { followed_.store(timeline, std::memory_order_release); }
    SessionTimeline* Followed() const { return followed_.load(std::memory_order_acquire); }

    bool IsOn() const override {
        const SessionTimeline* t = Followed();
        return t != nullptr && t->IsOn();
    }
    int64_t BeginRun(int64_t earliestNs, bool announce) override {
        SessionTimeline* t = Followed();
        return t != nullptr ? t->BeginRun(earliestNs, announce) : earliestNs;
    }
    void EndRun(bool announce) override {
        if (SessionTimeline* t = Followed())
            t->EndRun(announce);
    }
    // None followed: a time no step is taken at (the step clock keeps its own grid).
    int64_t StepDueNs(int64_t n) override {
        SessionTimeline* t = Followed();
        return t != nullptr ? t->StepDueNs(n) : std::numeric_limits<int64_t>::min();
    }
    int64_t RunStartsAtStep() const override {
        const SessionTimeline* t = Followed();
        return t != nullptr ? t->RunStartsAtStep() : -1;
    }
    bool StepsByTime() const override {
        const SessionTimeline* t = Followed();
        return t != nullptr && t->StepsByTime();
    }

private:
    std::atomic<SessionTimeline*> followed_{nullptr};
};

} // namespace mb
