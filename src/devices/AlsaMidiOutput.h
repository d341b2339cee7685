#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "midi/MidiChoice.h"
#include "midi/MidiTarget.h"

class RtMidiOut;

namespace mb {

// MIDI out through the ALSA sequencer (RtMidi), which sends each message the moment it
// gets it: a sender thread of its own sleeps until each event's time (its moment on
// CLOCK_MONOTONIC plus the sound's delay, so that it goes out with the sound, and at
// least kAllowanceNs, so that the step clock's own lateness does not show) and sends it
// then. The thread sleeps on absolute deadlines and on the source's semaphore; it never
// spins.
//
// Threads. Open and the destructor run on the window thread; everything else on the
// sender thread, inside the source's Take. The soundDelayNs function is called on the
// sender thread.
class AlsaMidiOutput : public MidiTarget {
public:
    static constexpr const char* kPortName = "midi_out";
    // What the step clock may be late by before an event would be late.
    static constexpr int64_t kAllowanceNs = 5'000'000;

    // Window thread: the output connected to `port`, its thread running; nothing, with
    // the reason in *error, when the port does not open.
    static std::unique_ptr<AlsaMidiOutput> Open(MidiSource& source,
                                                const MidiPortId& port,
                                                std::function<int64_t()> soundDelayNs,
                                                std::string* error);
    // Window thread: ends the sender thread, then closes the port.
    ~AlsaMidiOutput() override;

    // MidiTarget: the sender thread. Places are CLOCK_MONOTONIC nanoseconds.
    int64_t PlaceOf(int64_t ns) override;
    double UnitsPerMs() const override { return 1e6; }
    void Emit(const MidiEvent& event) override;

private:
    AlsaMidiOutput(MidiSource& source, std::function<int64_t()> soundDelayNs);
    void Run();

    MidiSource& source_;
    std::function<int64_t()> soundDelayNs_;
    std::unique_ptr<RtMidiOut> midi_;
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

} // namespace mb
