#pragma once

#include <array>
#include <cstdint>

#include "model/Loop.h"

namespace mb {

class Setup;

// What the groove makes of each step the step clock takes: whether it plays (its
// condition and, with the D dial on Chance, its chance), its pitch (E on Transpose), how
// far it moves from its place on the grid (the loop's swing, D on Delay) and how many
// times it sounds within its step (D on Repeats). Every default is neutral: with 50 %
// swing, conditions Always and both dials on Nothing, every step plays as stored, on its
// place, once.
//
// Chance comes from the setup's seed and the step's number on its run's grid, never
// from a clock, so a render from the start and a live run from Play play the same steps.
//
// Threads: the step-clock thread (the window thread at a start, while the clock is
// stopped). No allocation, no lock.
class StepGroove {
public:
    struct Outcome {
        bool plays = false;
        int pitch = 0;
        // Milliseconds after the step's place on the grid it sounds (negative: before).
        double shiftMs = 0.0;
        // Hits within the step, evenly spaced by spacingMs.
        int hits = 1;
        double spacingMs = 0.0;
    };

    // A run begins: passes are counted from here, and "previous" starts out as played.
    void Reset();
    // The loop was entered anew while playing (a jump or a new selection): its next pass
    // is a first pass.
    void LoopEntered() { entered_ = true; }

    // Step `index` of `loop`, number `runStep` on its run's grid (0: the run's first),
    // `periodMs` before the next step; `last` says the chain moves on after this pass.
    // Call for every step taken, in order.
    Outcome
    Take(const Setup& setup, int loop, int index, int64_t runStep, double periodMs, bool last);

    // D value 65 to 127 as 2 to 8 hits; 1 at 64 and below.
    static int HitsFor(int d);
    // The delay of D on Delay, in periods: -0.5 at 0, 0 at 64, +0.5 at 127.
    static double DelayFor(int d);
    // Whether a step of chance d (below 64) plays at `runStep` with `seed`.
    static bool ChancePlays(uint32_t seed, int64_t runStep, int d);

    static constexpr int kMaxHits = 8;
    static constexpr int kMinStepPitch = -59;
    static constexpr int kMaxStepPitch = 67;

private:
    // Passes of each loop begun since Play: A:B counts them.
    std::array<int32_t, kLoopCount> passesSincePlay_{};
    // The outcome of the last conditional step of each loop.
    std::array<bool, kLoopCount> previous_{};
    // The loop of the last step taken, and the passes of it begun since it was entered
    // (0 while the pass it was entered in is not a whole one).
    int lastLoop_ = -1;
    int32_t passesSinceEntered_ = 0;
    bool entered_ = true;
};

} // namespace mb
