#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "midi/MidiChoice.h"

class RtMidiIn;

namespace mb {

class ClockFollower;
class JackMidiInput;

// Listens to one MIDI port for the transport. Without a clock follower MIDI Start and
// Stop reach the handler (true for Start) and everything else is ignored; with one, the
// clock, Start, Continue, Stop and Song Position go to the follower instead, each with
// the moment it was received. A JACK port is listened to by a JACK client of the
// program's own, which knows each event's frame; an ALSA port through RtMidi, whose
// events are timed as they arrive.
//
// Threads. Open and the destructor run on the window thread; the handler and the
// follower are called on the input thread (RtMidi's, or JACK's process thread), once per
// message; the handler must neither block nor post an event per message: a flood of them
// is thousands a second. The window's handler keeps the latest and wakes the window once.
class MidiInput {
public:
    static constexpr const char* kPortName = "midi_in";
    using Handler = std::function<void(bool start)>;

    // Window thread: listening to `port`, feeding `follower` when there is one (it must
    // outlive the input); nothing, with the reason in *error, when it does not open.
    static std::unique_ptr<MidiInput>
    Open(const MidiPortId& port, Handler handler, ClockFollower* follower, std::string* error);
    // Window thread: no handler or follower call is made once it returns.
    ~MidiInput();

    // The server of a JACK port has gone. Window thread.
    bool Lost() const;

    // The reaction to one message received at timeNs (CLOCK_MONOTONIC) (the input
    // thread; public for the tests).
    void OnMessage(const unsigned char* bytes, size_t size, int64_t timeNs) const;

private:
    MidiInput(Handler handler, ClockFollower* follower);

    Handler handler_;
    ClockFollower* follower_;
    std::unique_ptr<RtMidiIn> midi_;
    std::unique_ptr<JackMidiInput> jack_;
};

} // namespace mb
