#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/JackMidiClient.h"

namespace mb {

// A JACK client of its own with one MIDI input port, connected from a chosen JACK MIDI
// output. Every event received is handed on with the moment of its own frame on
// CLOCK_MONOTONIC: the frame's time on JACK's clock (jack_frames_to_time, less the
// port's capture latency), moved by the distance between JACK's clock (here
// CLOCK_MONOTONIC_RAW) and CLOCK_MONOTONIC measured in the same cycle. Events of one
// cycle so keep their spacing, which a MIDI clock's phase needs.
//
// Threads. Open and the destructor run on the window thread; the receiver is called on
// JACK's real-time process thread, once per event, and must neither block nor allocate.
class JackMidiInput {
public:
    using Receiver = std::function<void(const unsigned char* bytes, size_t size, int64_t timeNs)>;

    // Window thread: the client, active, its port `portName` connected from `source` (a
    // JACK port's full name); nothing, with the reason in *error, when that fails.
    static std::unique_ptr<JackMidiInput>
    Open(const std::string& source, const char* portName, Receiver receiver, std::string* error);
    // Window thread: no receiver call is made once it returns.
    ~JackMidiInput();

    // The server has shut the client down. Any thread.
    bool Lost() const { return jack_.Lost(); }

private:
    explicit JackMidiInput(Receiver receiver);
    static int Process(uint32_t frames, void* user);

    Receiver receiver_;
    JackMidiClient jack_;
};

} // namespace mb
