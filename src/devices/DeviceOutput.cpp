#include "devices/DeviceOutput.h"

#include <alsa/asoundlib.h>
#include <cstdlib>

#include "devices/PulseOutputStream.h"
#include "devices/PulseSinks.h"
#include "devices/RtAudioStream.h"

namespace mb {

namespace {

constexpr const char* kPulse = "pulse";

// ALSA's library prints every device it cannot open while RtAudio looks at them all (a
// machine without a sound card has none); the program says what matters itself.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

} // namespace

std::unique_ptr<AudioDevice> DeviceOutput::Open(const OutputChoice& choice,
                                                OutputKeeper::EventHandler events,
                                                std::string* note) {
    // Trying JACK must not start a JACK server.
    setenv("JACK_NO_START_SERVER", "1", 0);
    snd_lib_error_set_handler(&QuietAlsa);
    return OutputKeeper::Open(&DeviceOutput::OpenStream, choice, std::move(events), note);
}

std::vector<OutputDevice> DeviceOutput::ListDevices(const std::string& api) {
    if (api == kPulse)
        return PulseSinks::List();
    return RtAudioStream::ListDevices(api);
}

std::unique_ptr<OutputStream> DeviceOutput::OpenStream(const OutputChoice& choice,
                                                       StreamClient& client,
                                                       Doorbell& wake,
                                                       uint32_t& rate) {
    if (choice.api.empty() || choice.api == kPulse) {
        if (auto stream = PulseOutputStream::Open(choice, client, wake, rate))
            return stream;
    }
    return RtAudioStream::Open(choice, client, rate);
}

} // namespace mb
