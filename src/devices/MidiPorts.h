#pragma once

#include <memory>
#include <string>
#include <vector>

#include "midi/MidiChoice.h"

class RtMidiIn;
class RtMidiOut;

namespace mb {

// The MIDI ports of the JACK and ALSA sequencer back ends, through RtMidi. A back end
// that is not there (no JACK server, no /dev/snd/seq) lists nothing. Window thread.
class MidiPorts {
public:
    // The client name the program's MIDI ports appear under.
    static constexpr const char* kClientName = "Marrowbeat";

    // Ports that take MIDI in (where the output can send), and ports that give MIDI out
    // (where the input can listen), JACK's first.
    static std::vector<MidiPortId> Destinations();
    static std::vector<MidiPortId> Sources();

    // An RtMidi output or input of the port's back end, connected to the port, under
    // `portName`; nothing, with the reason in *error, when it does not open. Errors met
    // afterwards are dropped rather than thrown.
    static std::unique_ptr<RtMidiOut>
    OpenOutput(const MidiPortId& port, const std::string& portName, std::string* error);
    static std::unique_ptr<RtMidiIn>
    OpenInput(const MidiPortId& port, const std::string& portName, std::string* error);
};

} // namespace mb
