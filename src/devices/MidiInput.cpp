#include "devices/MidiInput.h"

#include <rtmidi/RtMidi.h>

#include "devices/JackMidiInput.h"
#include "devices/MidiPorts.h"
#include "midi/ClockFollower.h"
#include "platform/Clocks.h"

namespace mb {

namespace {

constexpr unsigned char kStart = 0xFA;
constexpr unsigned char kStop = 0xFC;

void Received(double /*deltaSeconds*/, std::vector<unsigned char>* message, void* user) {
    static_cast<const MidiInput*>(user)->OnMessage(message->data(), message->size(), MonotonicNs());
}

} // namespace

MidiInput::MidiInput(Handler handler, ClockFollower* follower)
    : handler_(std::move(handler)), follower_(follower) {}

std::unique_ptr<MidiInput> MidiInput::Open(const MidiPortId& port,
                                           Handler handler,
                                           ClockFollower* follower,
                                           std::string* error) {
    std::unique_ptr<MidiInput> input(new MidiInput(std::move(handler), follower));
    MidiInput* self = input.get();
    if (port.api == MidiPortId::kJack) {
        input->jack_ = JackMidiInput::Open(
            port.name, kPortName,
            [self](const unsigned char* bytes, size_t size, int64_t timeNs) {
                self->OnMessage(bytes, size, timeNs);
            },
            error);
        return input->jack_ ? std::move(input) : nullptr;
    }
    input->midi_ = MidiPorts::OpenInput(port, kPortName, error);
    if (!input->midi_)
        return nullptr;
    // System exclusive and active sensing are not wanted, nor the clock unless it is
    // followed: Start and Stop are not among them.
    input->midi_->ignoreTypes(true, follower == nullptr, true);
    input->midi_->setCallback(&Received, self);
    return input;
}

// midi_ and jack_ go first: closing them ends the input thread, while the handler is
// still there.
MidiInput::~MidiInput() = default;

bool MidiInput::Lost() const {
    return jack_ != nullptr && jack_->Lost();
}

void MidiInput::OnMessage(const unsigned char* bytes, size_t size, int64_t timeNs) const {
    if (follower_ != nullptr && follower_->Take(bytes, size, timeNs))
        return;
    if (size == 1 && (bytes[0] == kStart || bytes[0] == kStop))
        handler_(bytes[0] == kStart);
}

} // namespace mb
