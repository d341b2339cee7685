#include "engine/TransportGrid.h"

#include <algorithm>
#include <cmath>

namespace mb {

namespace {

constexpr double kStepsPerQuarter = 4.0;
constexpr double kSecondsPerMinute = 60.0;
// A position this close below a step lies on it (the master's rounding).
constexpr double kOnStep = 1e-6;

} // namespace

double TransportView::FramesPerStep() const {
    const double q = qpm > 0.0 && std::isfinite(qpm) ? qpm : 120.0;
    return std::max(rate * kSecondsPerMinute / (q * kStepsPerQuarter), 1.0);
}

int64_t TransportView::FrameOfStep(int64_t step) const {
    const double steps = static_cast<double>(step) - quarters * kStepsPerQuarter;
    return frame + std::llround(steps * FramesPerStep());
}

int64_t TransportView::FirstStepFrom(int64_t at) const {
    const double steps =
        quarters * kStepsPerQuarter + static_cast<double>(at - frame) / FramesPerStep();
    auto step = static_cast<int64_t>(std::ceil(steps - kOnStep));
    // Rounded to its frame a step may still fall before `at`.
    while (FrameOfStep(step) < at)
        ++step;
    return step;
}

double QuartersOfBbt(
    int32_t bar, int32_t beat, double tick, double ticksPerBeat, double beatsPerBar, double beatType) {
    if (ticksPerBeat <= 0.0 || beatsPerBar <= 0.0 || beatType <= 0.0)
        return 0.0;
    const double beats = (bar - 1) * beatsPerBar + (beat - 1) + tick / ticksPerBeat;
    return beats * 4.0 / beatType;
}

double QpmOfBpm(double bpm, double beatType) {
    return beatType > 0.0 ? bpm * 4.0 / beatType : bpm;
}

double BbtSmoother::Take(
    int64_t frame, double quarters, double qpm, uint32_t rate, double jumpQuarters) {
    // Along the stretch at its own tempo.
    const double perFrame = (stretch_ ? qpm_ : qpm) / (kSecondsPerMinute * rate);
    const double expected =
        stretch_ ? quarters0_ + static_cast<double>(frame - frame0_) * perFrame : quarters;
    if (!stretch_ || std::fabs(quarters - expected) > jumpQuarters) {
        stretch_ = true;
        frame0_ = frame;
        quarters0_ = quarters;
        qpm_ = qpm;
        return quarters;
    }
    if (qpm != qpm_) {
        // The tempo bends here: the new stretch goes on from the old one's position,
        // which is truer than the master's figure cut to its tick.
        frame0_ = frame;
        quarters0_ = std::max(expected, quarters);
        qpm_ = qpm;
        return quarters0_;
    }
    // The master's figure is never ahead of the truth: a higher one is closer to it.
    if (quarters > expected) {
        quarters0_ += quarters - expected;
        return quarters;
    }
    return expected;
}

} // namespace mb
