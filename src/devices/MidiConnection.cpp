#include "devices/MidiConnection.h"

#include "devices/AlsaMidiOutput.h"
#include "devices/JackMidiOutput.h"
#include "devices/MidiInput.h"
#include "midi/ClockFollower.h"

namespace mb {

MidiConnection::MidiConnection(std::function<int64_t()> soundDelayNs,
                               std::function<void(bool)> transport,
                               ClockFollower* follower)
    : soundDelayNs_(std::move(soundDelayNs)), transport_(std::move(transport)),
      follower_(follower) {}

MidiConnection::~MidiConnection() {
    Close();
}

void MidiConnection::Close() {
    sender_.Disable();
    output_.reset();
    input_.reset();
    if (follower_ != nullptr)
        follower_->SetOn(false);
}

std::string MidiConnection::Keep() {
    const bool outputLost = output_ && output_->Lost();
    if (outputLost || (input_ && input_->Lost())) {
        Close();
        waiting_ = true;
        return (outputLost ? "The MIDI output \"" + choice_.output.name
                           : "The MIDI input \"" + choice_.input.name) +
               "\" was lost with its JACK server. It comes back as soon as the server and "
               "the port do.";
    }
    // Quietly, until the server and the port are there again.
    if (waiting_ && JackMidiOutput::ServerAnswers()) {
        const MidiChoice choice = choice_;
        Apply(choice);
        waiting_ =
            (!choice.output.empty() && output_ == nullptr) ||
            (choice.input.api == MidiPortId::kJack && !choice.input.empty() && input_ == nullptr);
    }
    return {};
}

std::string MidiConnection::Apply(const MidiChoice& choice) {
    Close();
    waiting_ = false;
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
        input_ = MidiInput::Open(choice.input, transport_, choice.followClock ? follower_ : nullptr,
                                 &error);
        if (!input_) {
            if (!problems.empty())
                problems += "\n";
            problems += "The MIDI input \"" + choice.input.name + "\" did not open: " + error + ".";
        }
    }
    if (follower_ != nullptr)
        follower_->SetOn(choice.followClock && input_ != nullptr);
    return problems;
}

} // namespace mb
