#pragma once

#include <cstdint>

namespace mb {

// What a transport (a timeline with a position in frames, rolling or not, and a tempo
// and bars and beats given by its timebase master) says at the first frame of one cycle,
// and its grid of steps: a step is a sixteenth note, counted from bar 1, beat 1.
struct TransportView {
    enum State : int32_t { kStopped = 0, kRolling = 1, kStarting = 2 };

    int32_t state = kStopped;
    // The transport's position at the cycle's first frame.
    int64_t frame = 0;
    // That first frame on the server's own frame count (which runs whatever the
    // transport does).
    int64_t frameTime = 0;
    uint32_t rate = 48000;
    // Frames a cycle.
    uint32_t period = 1024;
    // Quarter notes since bar 1 at `frame`, and quarter notes a minute.
    double quarters = 0.0;
    double qpm = 120.0;

    bool Rolling() const { return state == kRolling; }
    // Frames between two steps (at least one).
    double FramesPerStep() const;
    // The transport frame of step `step`, rounded to the nearest frame.
    int64_t FrameOfStep(int64_t step) const;
    // The first step on or after transport frame `at`.
    int64_t FirstStepFrom(int64_t at) const;
};

// Quarter notes since bar 1 from a position in bars, beats and ticks (each counted
// from 1, ticks from 0) of beatType notes, and quarter notes a minute from beats a minute.
double QuartersOfBbt(
    int32_t bar, int32_t beat, double tick, double ticksPerBeat, double beatsPerBar, double beatType);
double QpmOfBpm(double bpm, double beatType);

// A master's ticks are whole numbers, so the position it gives lies up to one tick
// (about 12 frames at 120 BPM) behind the frame. Along one stretch of steady tempo the
// highest of those positions less the frames since is the truest; a jump by more than
// `jumpQuarters` either way (a locate, a change of meter) begins a new stretch; a new
// tempo goes on from where the old one's stretch has come.
class BbtSmoother {
public:
    // The position at `frame` of a transport at qpm whose master says `quarters`.
    double Take(int64_t frame, double quarters, double qpm, uint32_t rate, double jumpQuarters);
    void Reset() { stretch_ = false; }

private:
    bool stretch_ = false;
    int64_t frame0_ = 0;
    double quarters0_ = 0.0;
    double qpm_ = 0.0;
};

} // namespace mb
