#pragma once

#include <cstdint>
#include <string>

namespace mb {

// Asks the PulseAudio (or PipeWire) server about its sinks: a short blocking round trip,
// given up after a second. Any thread but the audio thread.
class PulseSinks {
public:
    // The sample rate of the sink with this description (the name RtAudio gives it; ""
    // for the server's default sink); 0 when unknown.
    static uint32_t Rate(const std::string& description);
};

} // namespace mb
