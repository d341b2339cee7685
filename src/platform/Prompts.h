#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/MidiChoice.h"

namespace mb {

// Every message box and dialog the program shows goes through this interface: the
// window implements it with Qt dialogs, tests with ScriptedPrompts, the command-line
// tool with one that prints and answers Cancel. All calls run on the window thread and
// return only when the user has answered.
class Prompts {
public:
    // Answers of the save-changes dialog.
    enum SaveChangesAnswer : int {
        kCancel = 0,
        kSave = 1,
        kDontSave = 2,
    };

    virtual ~Prompts() = default;

    // A modal message box with the caption "NOTE!" and an OK button.
    virtual void ShowNote(const std::string& text) = 0;
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
    // The "MIDI Output" dialog, opened on the present choice, offering the ports there
    // are now (`outputs` take MIDI in, `inputs` give it out); the choice from now on,
    // nothing when cancelled.
    virtual std::optional<MidiChoice> ChooseMidi(const MidiChoice& current,
                                                 const std::vector<MidiPortId>& outputs,
                                                 const std::vector<MidiPortId>& inputs) = 0;
};

} // namespace mb
