#pragma once

#include <functional>
#include <memory>
#include <string>

#include "midi/MidiChoice.h"

class RtMidiIn;

namespace mb {

// Listens to one MIDI port for the transport: MIDI Start and Stop reach the handler
// (true for Start). Everything else received is ignored.
//
// Threads. Open and the destructor run on the window thread; the handler is called on
// RtMidi's input thread (JACK's process thread for a JACK port), once per message, and
// must neither block nor post an event per message: a flood of them is thousands a
// second. The window's handler keeps the latest and wakes the window once.
class MidiInput {
public:
    static constexpr const char* kPortName = "midi_in";
    using Handler = std::function<void(bool start)>;

    // Window thread: listening to `port`; nothing, with the reason in *error, when it
    // does not open.
    static std::unique_ptr<MidiInput>
    Open(const MidiPortId& port, Handler handler, std::string* error);
    // Window thread: no handler call is made once it returns.
    ~MidiInput();

    // The reaction to one message received (the input thread; public for the tests).
    void OnMessage(const unsigned char* bytes, size_t size) const;

private:
    explicit MidiInput(Handler handler);

    Handler handler_;
    std::unique_ptr<RtMidiIn> midi_;
};

} // namespace mb
