#include "engine/StepGroove.h"

#include <algorithm>
#include <cmath>

#include "model/Groove.h"
#include "model/Setup.h"

namespace mb {

namespace {

constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ull;

// The SplitMix64 finaliser: a well-mixed 64-bit value.
uint64_t Finalise(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Output n of a SplitMix64 generator whose state starts from the mixed seed: outcomes
// that do not depend on each other, the same wherever step n is taken.
uint64_t Mix(uint64_t seed, uint64_t n) {
    return Finalise(Finalise(seed) + (n + 1) * kGolden);
}

} // namespace

void StepGroove::Reset() {
    passesSincePlay_.fill(0);
    previous_.fill(true);
    lastLoop_ = -1;
    passesSinceEntered_ = 0;
    entered_ = true;
}

int StepGroove::HitsFor(int d) {
    if (d <= kNeutralD)
        return 1;
    return 2 + (std::min(d, 127) - (kNeutralD + 1)) * (kMaxHits - 2) / (127 - (kNeutralD + 1));
}

double StepGroove::DelayFor(int d) {
    const int v = std::clamp(d, 0, 127);
    if (v <= kNeutralD)
        return 0.5 * (v - kNeutralD) / kNeutralD;
    return 0.5 * (v - kNeutralD) / (127 - kNeutralD);
}

bool StepGroove::ChancePlays(uint32_t seed, int64_t runStep, int d) {
    if (d >= kNeutralD)
        return true;
    if (d <= 0)
        return false;
    return static_cast<int>(Mix(seed, static_cast<uint64_t>(runStep)) % kNeutralD) < d;
}

StepGroove::Outcome StepGroove::Take(
    const Setup& setup, int loop, int index, int64_t runStep, double periodMs, bool last) {
    const Loop& l = setup.loop(loop);
    const Step& step = l.steps[static_cast<size_t>(index)];
    const auto at = static_cast<size_t>(loop);

    // Passes: a loop entered at its first step begins a pass there; one entered in the
    // middle of a pass (a jump) counts its first whole pass as its first.
    if (entered_ || loop != lastLoop_) {
        entered_ = false;
        lastLoop_ = loop;
        passesSinceEntered_ = 0;
    }
    if (index == 0) {
        ++passesSinceEntered_;
        ++passesSincePlay_[at];
    }

    Outcome out;
    out.pitch = step.pitch;
    out.plays = step.on != 0;
    if (!out.plays)
        return out;

    const int d = step.dValue;
    const auto dDial = static_cast<DDial>(static_cast<int16_t>(setup.dDial));
    const StepCondition condition = StepCondition::FromCode(step.condition);
    if (condition.kind != StepCondition::kAlways) {
        bool holds = true;
        switch (condition.kind) {
        case StepCondition::kFirst:
        case StepCondition::kNotFirst:
            holds = (passesSinceEntered_ <= 1) == (condition.kind == StepCondition::kFirst);
            break;
        case StepCondition::kLast:
        case StepCondition::kNotLast:
            holds = last == (condition.kind == StepCondition::kLast);
            break;
        case StepCondition::kPrevious:
        case StepCondition::kNotPrevious:
            holds = previous_[at] == (condition.kind == StepCondition::kPrevious);
            break;
        case StepCondition::kRatio: {
            const int pass = std::max(passesSincePlay_[at], 1);
            holds = (pass - 1) % condition.b == condition.a - 1;
            break;
        }
        default:
            break;
        }
        out.plays = holds && (dDial != DDial::kChance || ChancePlays(setup.seed, runStep, d));
        previous_[at] = out.plays;
    } else if (dDial == DDial::kChance) {
        out.plays = ChancePlays(setup.seed, runStep, d);
    }
    if (!out.plays)
        return out;

    if (static_cast<EDial>(static_cast<int16_t>(setup.eDial)) == EDial::kTranspose &&
        setup.eValue != 0)
        out.pitch = std::clamp(out.pitch + setup.eValue, kMinStepPitch, kMaxStepPitch);

    const int swing = std::clamp<int>(l.swing, kStraightSwing, kMaxSwing);
    if (index % 2 == 1 && swing != kStraightSwing)
        out.shiftMs = (2.0 * swing / 100.0 - 1.0) * periodMs;
    if (dDial == DDial::kDelay && d != kNeutralD)
        out.shiftMs += DelayFor(d) * periodMs;
    // An early first step of a run plays at the run's start.
    if (runStep == 0)
        out.shiftMs = std::max(out.shiftMs, 0.0);
    if (dDial == DDial::kRepeats && d > kNeutralD) {
        out.hits = HitsFor(d);
        out.spacingMs = periodMs / out.hits;
    }
    return out;
}

} // namespace mb
