#pragma once

#include <string>
#include <vector>

#include "dialogs/Prompts.h"

namespace mb {

// Every prompt of the window passes through here to the prompts it was given (the
// desktop's dialogs, or a test's script), unchanged. While a request that nobody at the
// window waits for is served (a session manager's), an Unattended scope is open and no
// prompt waits for anyone: a message is kept and shown, with the others of the request,
// in one notice that does not hold up the window once the request is done; a question
// is answered Cancel (which leaves things as they were) and shown with the messages;
// every dialog counts as cancelled. Window thread only.
class PromptGate : public Prompts {
public:
    // Follows a question in the notice: it was not asked, and what that means.
    static constexpr const char* kNotAsked =
        "(Not asked while the session manager was waiting: nothing was changed.)";

    explicit PromptGate(Prompts& attended) : attended_(attended) {}

    // From construction to destruction, the gate answers without asking. Scopes do not
    // nest: one request is served at a time.
    class Unattended {
    public:
        explicit Unattended(PromptGate& gate);
        // Shows what the request would have shown, as one notice.
        ~Unattended();
        Unattended(const Unattended&) = delete;
        Unattended& operator=(const Unattended&) = delete;

        // The messages and questions of the request so far, in order.
        const std::vector<std::string>& Messages() const { return gate_.messages_; }

    private:
        PromptGate& gate_;
    };

    void ShowNote(const std::string& text) override;
    void ShowNotice(const std::string& text) override;
    int SaveChanges(const std::string& message) override;
    bool OkCancel(const std::string& message) override;
    std::optional<std::string> OpenSetupPath() override;
    std::optional<std::string> SaveSetupPath(const std::string& proposed) override;
    std::optional<std::string> ImportSoundFile() override;
    std::optional<uint32_t> PickColor(uint32_t current) override;
    std::optional<OutputChoice> ChooseSoundOutput(const OutputChoice& current,
                                                  const OutputStatus& status) override;
    std::optional<ExportChoice> ExportAudioChoice(const ExportChoice& proposed) override;
    std::optional<std::string> ExportMidiPath(const std::string& proposed) override;
    std::unique_ptr<ProgressPrompt> ShowProgress(const std::string& text) override;
    std::optional<MidiChoice> ChooseMidi(const MidiChoice& current,
                                         const std::vector<MidiPortId>& outputs,
                                         const std::vector<MidiPortId>& inputs) override;

private:
    Prompts& attended_;
    bool unattended_ = false;
    std::vector<std::string> messages_;
};

} // namespace mb
