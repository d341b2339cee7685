#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "midi/MidiChoice.h"
#include "midi/MidiSender.h"

namespace mb {

class ClockFollower;
class MidiInput;

// The program's MIDI: the sender that follows the step clock, the output it sends
// through (a JACK client of its own for a JACK port, the ALSA sequencer through RtMidi
// for an ALSA port) and the input whose Start and Stop start and stop the program, or
// whose clock the given ClockFollower follows when the choice says so (the follower is
// on exactly while it is chosen and the input is open).
//
// Threads. Everything here runs on the window thread, but the sender, which the step
// clock calls as a StepFollower, and the two functions given: soundDelayNs is called
// on the output's thread (JACK's process thread included), transport on the input's.
class MidiConnection {
public:
    MidiConnection(std::function<int64_t()> soundDelayNs,
                   std::function<void(bool)> transport,
                   ClockFollower* follower = nullptr);
    ~MidiConnection();
    MidiConnection(const MidiConnection&) = delete;
    MidiConnection& operator=(const MidiConnection&) = delete;

    // Closes what is open and opens what the choice names. Returns what did not open,
    // in a sentence for people ("" when everything did). A port that did not open
    // stays chosen.
    std::string Apply(const MidiChoice& choice);
    void Close();
    // Window thread, every moment or so: an output or JACK input whose server went away
    // is closed, and opened again (with the other side) once a server answers and the
    // port is there. Returns a notice for people the moment it is lost, once; ""
    // otherwise.
    std::string Keep();
    // The output or JACK input was lost and is waiting for its server.
    bool waiting() const { return waiting_; }

    const MidiChoice& choice() const { return choice_; }
    MidiSender& sender() { return sender_; }
    // An output is open and the sender sends through it.
    bool sending() const { return output_ != nullptr; }
    bool listening() const { return input_ != nullptr; }

private:
    std::function<int64_t()> soundDelayNs_;
    std::function<void(bool)> transport_;
    ClockFollower* follower_;
    MidiChoice choice_;
    MidiSender sender_;
    std::unique_ptr<MidiTarget> output_;
    std::unique_ptr<MidiInput> input_;
    bool waiting_ = false;
};

} // namespace mb
