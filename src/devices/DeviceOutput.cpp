#include "devices/DeviceOutput.h"

#include <alsa/asoundlib.h>
#include <cstdlib>
#include <utility>

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
    // What the keeper says names the back ends as the user knows them.
    OutputKeeper::EventHandler named;
    if (events)
        named = [events = std::move(events)](const OutputKeeper::Event& e) {
            if (e.kind != OutputKeeper::Event::kFellBack) {
                events(e);
                return;
            }
            OutputKeeper::Event copy = e;
            copy.text = NameApis(copy.text);
            events(copy);
        };
    auto device = OutputKeeper::Open(&DeviceOutput::OpenStream, choice, std::move(named), note);
    if (note != nullptr)
        *note = NameApis(*note);
    return device;
}

const char* DeviceOutput::ApiLabel(const std::string& api) {
    if (api == kPulse)
        return "PulseAudio / PipeWire";
    if (api == "alsa")
        return "ALSA";
    if (api == "jack")
        return "JACK";
    return api.empty() ? "Automatic" : nullptr;
}

std::string DeviceOutput::NameApis(std::string text) {
    for (const std::string api : {kPulse, "alsa", "jack"}) {
        const std::string label = ApiLabel(api);
        for (const auto& [from, to] :
             {std::pair{"The " + api + " output", "The " + label + " output"},
              std::pair{"(" + api + ")", "(" + label + ")"}}) {
            for (size_t at = text.find(from); at != std::string::npos;
                 at = text.find(from, at + to.size()))
                text.replace(at, from.size(), to);
        }
    }
    return text;
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
