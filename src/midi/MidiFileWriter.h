#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/SequencerPorts.h"
#include "midi/MidiSender.h"

namespace mb {

// Writes the notes of a render as a Standard MIDI File: the notes the live MIDI output
// sends for the same steps (MidiSender: note kFirstNote + sound, velocity the step's
// volume, a quarter of a step long, the groove's shift and repeated hits), on one channel,
// with the tempo as a set-tempo event. A step follower of an offline render: it collects
// the notes in memory as the steps are taken and makes the file's bytes at the end.
//
// Format 0, one track: the file holds one channel and one tempo, so a second track would
// carry nothing of its own, and every program that reads MIDI files reads format 0.
//
// Times: kTicksPerQuarter ticks to the quarter note, so every step (a sixteenth) lies on
// a whole tick; a groove's shift and spacing round to the nearest tick.
//
// Threads: one thread, the render's (TakeStep is called by the offline step clock, which
// runs on the thread that renders; nothing here is real time).
class MidiFileWriter : public StepFollower {
public:
    static constexpr int kTicksPerQuarter = 960;
    static constexpr int kTicksPerStep = kTicksPerQuarter / 4;

    struct Note {
        // Ticks from the start of the file.
        int64_t on = 0;
        int64_t off = 0;
        uint8_t note = 0;
        uint8_t velocity = 0;
    };

    // periodMs: the step period of the render (its tempo); channel 1 to 16.
    MidiFileWriter(double periodMs, int channel);

    // Only the notes that start from fromMs (the file's start) and before untilMs (after
    // the run's origin) are written.
    void KeepBetween(double fromMs, double untilMs);

    // StepFollower.
    void TakeStep(const StepEvent& step) override;

    // The notes in the file, in order of their start, each ending no later than the next
    // start of the same note (the live output ends a note before it starts it again).
    std::vector<Note> Notes() const;
    // The whole file.
    std::vector<uint8_t> Bytes() const;

    // The nearest tick to a moment ms after the run's origin.
    int64_t TickOf(double ms) const;

private:
    double periodMs_;
    uint8_t channel_;
    double fromMs_ = 0.0;
    double untilMs_ = std::numeric_limits<double>::infinity();
    bool haveOrigin_ = false;
    int64_t originNs_ = 0;
    // Every note of the run as taken: ms after the origin.
    struct Played {
        double onMs = 0.0;
        double offMs = 0.0;
        uint8_t note = 0;
        uint8_t velocity = 0;
    };
    std::vector<Played> played_;
};

} // namespace mb
