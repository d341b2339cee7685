#pragma once

#include <cstdint>
#include <string>

namespace mb {

// Where the sound goes: a back end, a device of it and a buffer size.
struct OutputChoice {
    static constexpr int kMinBufferFrames = 64;
    static constexpr int kMaxBufferFrames = 2048;
    static constexpr int kDefaultBufferFrames = 256;

    // "" (the first that opens: PulseAudio or PipeWire, then ALSA, then JACK), or one of
    // "pulse", "alsa", "jack".
    std::string api;
    // A device of that back end, by name; "" for its default device.
    std::string device;
    int bufferFrames = kDefaultBufferFrames;

    bool operator==(const OutputChoice&) const = default;
};

// What the output is doing now.
struct OutputStatus {
    // The back end and device in use ("" when none), and a line for people.
    std::string api;
    std::string device;
    std::string description;
    uint32_t rate = 0;
    int bufferFrames = 0;
    // One buffer at the output's rate, in milliseconds.
    double bufferMs = 0.0;
    // How long after a key or an edit its sound is heard, in milliseconds, as the
    // output places it now.
    double latencyMs = 0.0;
    // The server sets the buffer (JACK): the choice's buffer has no effect.
    bool serverSetsBuffer = false;
    // The output went away and is being opened again in the background.
    bool lost = false;
};

// A device a back end offers: the name to choose it by and a line for people.
struct OutputDevice {
    std::string name;
    std::string description;
};

} // namespace mb
