#include "devices/MidiInput.h"

#include <rtmidi/RtMidi.h>

#include "devices/MidiPorts.h"

namespace mb {

namespace {

constexpr unsigned char kStart = 0xFA;
constexpr unsigned char kStop = 0xFC;

void Received(double /*deltaSeconds*/, std::vector<unsigned char>* message, void* user) {
    static_cast<const MidiInput*>(user)->OnMessage(message->data(), message->size());
}

} // namespace

MidiInput::MidiInput(Handler handler) : handler_(std::move(handler)) {}

std::unique_ptr<MidiInput>
MidiInput::Open(const MidiPortId& port, Handler handler, std::string* error) {
    std::unique_ptr<MidiInput> input(new MidiInput(std::move(handler)));
    input->midi_ = MidiPorts::OpenInput(port, kPortName, error);
    if (!input->midi_)
        return nullptr;
    // System exclusive, the clock and active sensing are not wanted: Start and Stop are
    // not among them.
    input->midi_->ignoreTypes(true, true, true);
    input->midi_->setCallback(&Received, input.get());
    return input;
}

// midi_ goes first: closing it ends the input thread, while the handler is still there.
MidiInput::~MidiInput() = default;

void MidiInput::OnMessage(const unsigned char* bytes, size_t size) const {
    if (size == 1 && (bytes[0] == kStart || bytes[0] == kStop))
        handler_(bytes[0] == kStart);
}

} // namespace mb
