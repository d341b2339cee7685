#include "devices/MidiPorts.h"

#include <filesystem>
#include <rtmidi/RtMidi.h>

#include "devices/JackMidiOutput.h"

namespace mb {

namespace {

struct Api {
    const char* id;
    RtMidi::Api api;
};

constexpr const char* kAlsaSequencer = "/dev/snd/seq";

constexpr Api kApis[] = {
    {MidiPortId::kJack, RtMidi::UNIX_JACK},
    {MidiPortId::kAlsa, RtMidi::LINUX_ALSA},
};

// Whether the back end is there. Without a sequencer device or a JACK server, RtMidi is
// not asked: it would only complain on standard error.
bool Available(RtMidi::Api api) {
    if (api == RtMidi::LINUX_ALSA && !std::filesystem::exists(kAlsaSequencer))
        return false;
    if (api == RtMidi::UNIX_JACK && !JackMidiOutput::ServerAnswers())
        return false;
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    for (RtMidi::Api a : apis)
        if (a == api)
            return true;
    return false;
}

void Record(RtMidiError::Type /*type*/, const std::string& text, void* user) {
    *static_cast<std::string*>(user) = text;
}

void Ignore(RtMidiError::Type /*type*/, const std::string& /*text*/, void* /*user*/) {}

template <typename Midi> std::vector<MidiPortId> List() {
    std::vector<MidiPortId> ports;
    for (const Api& a : kApis) {
        if (!Available(a.api))
            continue;
        try {
            Midi midi(a.api, MidiPorts::kClientName);
            std::string error;
            midi.setErrorCallback(&Record, &error);
            const unsigned count = midi.getPortCount();
            for (unsigned i = 0; i < count; ++i) {
                std::string name = midi.getPortName(i);
                if (!name.empty())
                    ports.push_back({a.id, std::move(name)});
            }
        } catch (const RtMidiError&) {
            // The back end is not there: it has no ports.
        }
    }
    return ports;
}

// The index of the port called `name`; -1 when there is none.
int IndexOf(RtMidi& midi, const std::string& name) {
    const unsigned count = midi.getPortCount();
    for (unsigned i = 0; i < count; ++i)
        if (midi.getPortName(i) == name)
            return static_cast<int>(i);
    return -1;
}

template <typename Midi>
std::unique_ptr<Midi>
Open(const MidiPortId& port, const std::string& portName, std::string* error) {
    std::string problem;
    RtMidi::Api api = RtMidi::UNSPECIFIED;
    for (const Api& a : kApis)
        if (port.api == a.id)
            api = a.api;
    if (api == RtMidi::UNSPECIFIED) {
        *error = "the program knows no \"" + port.api + "\" MIDI ports";
        return nullptr;
    }
    if (!Available(api)) {
        *error =
            api == RtMidi::LINUX_ALSA ? "there is no ALSA sequencer" : "no JACK server is running";
        return nullptr;
    }
    try {
        auto midi = std::make_unique<Midi>(api, MidiPorts::kClientName);
        midi->setErrorCallback(&Record, &problem);
        const int index = IndexOf(*midi, port.name);
        if (index < 0) {
            *error = "it is not there";
            return nullptr;
        }
        midi->openPort(static_cast<unsigned>(index), portName);
        if (!problem.empty() || !midi->isPortOpen()) {
            *error = problem.empty() ? std::string("it did not open") : problem;
            return nullptr;
        }
        midi->setErrorCallback(&Ignore, nullptr);
        return midi;
    } catch (const RtMidiError& e) {
        *error = e.getMessage();
        return nullptr;
    }
}

} // namespace

std::vector<MidiPortId> MidiPorts::Destinations() {
    return List<RtMidiOut>();
}

std::vector<MidiPortId> MidiPorts::Sources() {
    return List<RtMidiIn>();
}

std::unique_ptr<RtMidiOut>
MidiPorts::OpenOutput(const MidiPortId& port, const std::string& portName, std::string* error) {
    return Open<RtMidiOut>(port, portName, error);
}

std::unique_ptr<RtMidiIn>
MidiPorts::OpenInput(const MidiPortId& port, const std::string& portName, std::string* error) {
    return Open<RtMidiIn>(port, portName, error);
}

} // namespace mb
