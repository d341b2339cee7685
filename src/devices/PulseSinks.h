#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/OutputChoice.h"

namespace mb {

// Asks the PulseAudio (or PipeWire) server about its sinks: short blocking round trips,
// given up after a second. Any thread but the audio thread.
class PulseSinks {
public:
    // The server's sinks, by name; empty when no server answers.
    static std::vector<OutputDevice> List();
    // The sample rate of the sink named ("" for the server's default sink), or else of
    // the first with this description (how earlier versions named a sink); 0 when there
    // is none. *name, when given, gets the sink's name.
    static uint32_t Rate(const std::string& sink, std::string* name = nullptr);
};

} // namespace mb
