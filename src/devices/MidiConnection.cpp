#include "devices/MidiConnection.h"

#include "devices/AlsaMidiOutput.h"
#include "devices/JackMidiOutput.h"
#include "devices/MidiInput.h"

namespace mb {

MidiConnection::MidiConnection(std::function<int64_t()> soundDelayNs,
                               std::function<void(bool)> transport)
    : soundDelayNs_(std::move(soundDelayNs)), transport_(std::move(transport)) {}

MidiConnection::~MidiConnection() {
    Close();
}

void MidiConnection::Close() {
    sender_.Disable();
    output_.reset();
    input_.reset();
}

std::string MidiConnection::Apply(const MidiChoice& choice) {
    Close();
    choice_ = choice;
    std::string problems;
    if (!choice.output.empty()) {
        // The sender starts afresh before its output consumes.
        sender_.Enable({choice.channel, choice.notes, choice.clock});
        std::string error;
        if (choice.output.api == MidiPortId::kJack)
            output_ = JackMidiOutput::Open(sender_, choice.output.name, soundDelayNs_, &error);
        else
            output_ = AlsaMidiOutput::Open(sender_, choice.output, soundDelayNs_, &error);
        if (!output_) {
            sender_.Disable();
            problems =
                "The MIDI output \"" + choice.output.name + "\" did not open: " + error + ".";
        }
    }
    if (!choice.input.empty()) {
        std::string error;
        input_ = MidiInput::Open(choice.input, transport_, &error);
        if (!input_) {
            if (!problems.empty())
                problems += "\n";
            problems += "The MIDI input \"" + choice.input.name + "\" did not open: " + error + ".";
        }
    }
    return problems;
}

} // namespace mb
