#pragma once

#include <string>

namespace mb {

// A MIDI port of one back end, by the name the back end lists it under.
struct MidiPortId {
    static constexpr const char* kJack = "jack";
    static constexpr const char* kAlsa = "alsa";

    // kJack or kAlsa; "" for no port.
    std::string api;
    std::string name;

    bool empty() const { return api.empty() || name.empty(); }
    bool operator==(const MidiPortId&) const = default;
};

// What the MIDI output and input do. No output port: nothing is sent; no input port:
// nothing is listened to. With followClock the input's clock, Start, Continue, Stop and
// Song Position lead playback (see ClockFollower); without it only its Start and Stop
// start and stop.
struct MidiChoice {
    static constexpr int kDefaultChannel = 10;

    MidiPortId output;
    MidiPortId input;
    // 1 to 16.
    int channel = kDefaultChannel;
    bool notes = true;
    bool clock = true;
    bool followClock = false;

    bool operator==(const MidiChoice&) const = default;
};

} // namespace mb
