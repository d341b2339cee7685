#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/OutputChoice.h"
#include "midi/MidiChoice.h"
#include "platform/Notifier.h"

namespace mb {

// What the export dialog asks for.
struct ExportChoice {
    // The WAV file to write.
    std::string path;
    // Rounds of the loop chain's cycle.
    int passes = 1;
    // 32-bit float samples instead of 16-bit.
    bool floatOutput = false;
    // What rings past the end sounds at the start, so that the file loops seamlessly.
    bool loopable = false;
};

// A progress display with a Cancel button, up while work goes on elsewhere: the window
// keeps running under it. It closes when the object goes. Window thread only.
class ProgressPrompt {
public:
    static constexpr int kFull = 1000;

    virtual ~ProgressPrompt() = default;
    // Progress from 0 to kFull.
    virtual void SetProgress(int value) = 0;
    // The user pressed Cancel.
    virtual bool Cancelled() const = 0;
};

// Every message box and dialog the window shows goes through this interface: the window
// implements it with Qt dialogs, tests with ScriptedPrompts. The messages (Notifier) are
// what the engine reports too; the command-line tool has those alone. All calls run on
// the window thread and, but for ShowNotice and ShowProgress, return only when the user
// has answered. The window passes them through a PromptGate, which answers at once,
// without asking, while it serves a session manager's request.
class Prompts : public Notifier {
public:
    // Answers of the save-changes dialog.
    enum SaveChangesAnswer : int {
        kCancel = 0,
        kSave = 1,
        kDontSave = 2,
    };

    // The save-changes dialog with its three buttons; returns a SaveChangesAnswer.
    virtual int SaveChanges(const std::string& message) = 0;
    // The OK/Cancel dialog captioned "NOTE:"; true for OK.
    virtual bool OkCancel(const std::string& message) = 0;
    // The Open dialog for setup files; nothing when cancelled.
    virtual std::optional<std::string> OpenSetupPath() = 0;
    // The Save As dialog for setup files, proposing `proposed`; nothing when cancelled.
    // The dialog has already asked before an existing file is overwritten and added
    // ".mbx" to a name without extension.
    virtual std::optional<std::string> SaveSetupPath(const std::string& proposed) = 0;
    // The "Import Sounds" picker: the path of a WAV file, or of a new name typed in a
    // folder without any (the folder that holds it is what counts); nothing when
    // cancelled.
    virtual std::optional<std::string> ImportSoundFile() = 0;
    // The colour picker, opened on `current` (0x00BBGGRR); nothing when cancelled.
    virtual std::optional<uint32_t> PickColor(uint32_t current) = 0;
    // The "Sound Output" dialog, opened on the present choice and what the output does
    // now; the choice to play through from now on, nothing when cancelled.
    virtual std::optional<OutputChoice> ChooseSoundOutput(const OutputChoice& current,
                                                          const OutputStatus& status) = 0;
    // The export dialog, opened on `proposed`; nothing when cancelled. It has already
    // asked before an existing file is overwritten.
    virtual std::optional<ExportChoice> ExportAudioChoice(const ExportChoice& proposed) = 0;
    // Opens a progress display showing `text` and returns at once (unlike every other
    // prompt); nothing where there is no display.
    virtual std::unique_ptr<ProgressPrompt> ShowProgress(const std::string& text) = 0;
    // The "MIDI Output" dialog, opened on the present choice, offering the ports there
    // are now (`outputs` take MIDI in, `inputs` give it out); the choice from now on,
    // nothing when cancelled.
    virtual std::optional<MidiChoice> ChooseMidi(const MidiChoice& current,
                                                 const std::vector<MidiPortId>& outputs,
                                                 const std::vector<MidiPortId>& inputs) = 0;
};

} // namespace mb
