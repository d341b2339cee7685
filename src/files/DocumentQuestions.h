#pragma once

#include <optional>
#include <string>

#include "platform/Notifier.h"

namespace mb {

// What opening, saving and importing ask the user: the setup document and the sound
// folder ask through this, the window answers with its dialogs (Prompts), tests with a
// script. Window thread only; each call returns when the user has answered.
class DocumentQuestions : public Notifier {
public:
    // Answers of the save-changes dialog.
    enum SaveChangesAnswer : int {
        kCancel = 0,
        kSave = 1,
        kDontSave = 2,
    };

    // The save-changes dialog with its three buttons; returns a SaveChangesAnswer.
    virtual int SaveChanges(const std::string& message) = 0;
    // The OK/Cancel dialog; true for OK.
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
};

} // namespace mb
