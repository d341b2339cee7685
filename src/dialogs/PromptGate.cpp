#include "dialogs/PromptGate.h"

namespace mb {

PromptGate::Unattended::Unattended(PromptGate& gate) : gate_(gate) {
    gate_.unattended_ = true;
    gate_.messages_.clear();
}

PromptGate::Unattended::~Unattended() {
    gate_.unattended_ = false;
    if (gate_.messages_.empty())
        return;
    std::string text;
    for (const std::string& message : gate_.messages_)
        text += (text.empty() ? "" : "\n\n") + message;
    gate_.messages_.clear();
    gate_.attended_.ShowNotice(text);
}

void PromptGate::ShowNote(const std::string& text) {
    if (unattended_)
        messages_.push_back(text);
    else
        attended_.ShowNote(text);
}

void PromptGate::ShowNotice(const std::string& text) {
    attended_.ShowNotice(text);
}

int PromptGate::SaveChanges(const std::string& message) {
    if (!unattended_)
        return attended_.SaveChanges(message);
    messages_.push_back(message + "\n" + kNotAsked);
    return kCancel;
}

bool PromptGate::OkCancel(const std::string& message) {
    if (!unattended_)
        return attended_.OkCancel(message);
    messages_.push_back(message + "\n" + kNotAsked);
    return false;
}

std::optional<std::string> PromptGate::OpenSetupPath() {
    if (unattended_)
        return std::nullopt;
    return attended_.OpenSetupPath();
}

std::optional<std::string> PromptGate::SaveSetupPath(const std::string& proposed) {
    if (unattended_)
        return std::nullopt;
    return attended_.SaveSetupPath(proposed);
}

std::optional<std::string> PromptGate::ImportSoundFile() {
    if (unattended_)
        return std::nullopt;
    return attended_.ImportSoundFile();
}

std::optional<uint32_t> PromptGate::PickColor(uint32_t current) {
    if (unattended_)
        return std::nullopt;
    return attended_.PickColor(current);
}

std::optional<OutputChoice> PromptGate::ChooseSoundOutput(const OutputChoice& current,
                                                          const OutputStatus& status) {
    if (unattended_)
        return std::nullopt;
    return attended_.ChooseSoundOutput(current, status);
}

std::optional<ExportChoice> PromptGate::ExportAudioChoice(const ExportChoice& proposed) {
    if (unattended_)
        return std::nullopt;
    return attended_.ExportAudioChoice(proposed);
}

std::optional<std::string> PromptGate::ExportMidiPath(const std::string& proposed) {
    if (unattended_)
        return std::nullopt;
    return attended_.ExportMidiPath(proposed);
}

std::unique_ptr<ProgressPrompt> PromptGate::ShowProgress(const std::string& text) {
    // A progress display never waits.
    return attended_.ShowProgress(text);
}

std::optional<MidiChoice> PromptGate::ChooseMidi(const MidiChoice& current,
                                                 const std::vector<MidiPortId>& outputs,
                                                 const std::vector<MidiPortId>& inputs) {
    if (unattended_)
        return std::nullopt;
    return attended_.ChooseMidi(current, outputs, inputs);
}

} // namespace mb
