#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audio/AudioDevice.h"
#include "audio/OutputKeeper.h"

namespace mb {

// The program's sound output: an OutputKeeper over a stream to PulseAudio or PipeWire
// (through libpulse), or through RtAudio to ALSA or JACK.
class DeviceOutput {
public:
    // Window thread: a device whose stream is running, or nothing when no output opens.
    // When the chosen device does not open and another does, *note says so.
    static std::unique_ptr<AudioDevice> Open(const OutputChoice& choice = {},
                                             OutputKeeper::EventHandler events = {},
                                             std::string* note = nullptr);
    // The name the user knows a back end by ("pulse", "alsa", "jack"; "" for the automatic
    // choice), as the Sound Output dialog shows it.
    static const char* ApiLabel(const std::string& api);
    // text with every back end named as ApiLabel names it ("The jack output", "(pulse)").
    static std::string NameApis(std::string text);
    // The devices a back end offers ("pulse", "alsa" or "jack"). Not on the audio thread.
    static std::vector<OutputDevice> ListDevices(const std::string& api);
    // Opens a stream exactly as chosen: PulseAudio or PipeWire first when the choice names
    // no back end. See StreamOpener.
    static std::unique_ptr<OutputStream>
    OpenStream(const OutputChoice& choice, StreamClient& client, Doorbell& wake, uint32_t& rate);
};

} // namespace mb
