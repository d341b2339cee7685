#pragma once

#include <cstdint>
#include <limits>

namespace mb {

// One MIDI message, placed on an output's time line.
struct MidiEvent {
    int64_t at = 0;
    uint8_t size = 0;
    uint8_t bytes[3] = {};
};

// An output's time line and its way out. The calls run on the output's own thread,
// inside MidiSource::Take.
class MidiTarget {
public:
    virtual ~MidiTarget() = default;
    // The place on the time line of the moment `ns` (CLOCK_MONOTONIC nanoseconds), the
    // output's delay included.
    virtual int64_t PlaceOf(int64_t ns) = 0;
    // Places on the time line per millisecond.
    virtual double UnitsPerMs() const = 0;
    virtual void Emit(const MidiEvent& event) = 0;
    // Any thread: the output's server went away (it cannot send any more).
    virtual bool Lost() const { return false; }
};

// Where an output's events come from. Take and Wait run on the one thread that consumes
// (the output's sender thread or real-time callback); Take never blocks or allocates.
class MidiSource {
public:
    static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

    virtual ~MidiSource() = default;
    // Hands the target every event placed before `until`, in order, and returns the
    // place of the next event known (kNever when none). An event placed before `from`
    // is late: it goes out at `from`, and a late step moves the rest of its run with
    // it, so that the spacing stays exact.
    virtual int64_t Take(MidiTarget& target, int64_t from, int64_t until) = 0;
    // Sleeps until CLOCK_MONOTONIC deadlineNs (kNever: without limit), or until
    // something new arrives or Wake is called.
    virtual void Wait(int64_t deadlineNs) = 0;
    // Any thread: ends a Wait at once.
    virtual void Wake() = 0;
};

} // namespace mb
