#pragma once

#include <memory>

#include "app/Command.h"
#include "app/CommandTable.h"
#include "connections/SessionHost.h"
#include "panel/MenuCommandHandler.h"

class QMenu;

namespace mb {

class PromptGate;
class Sequencer;
class SettingsStore;
class Setup;
class SetupController;
class SoundEngine;
class WidgetPanel;
class WindowActions;

// Carries out every command, whichever input gave it (see CommandTable), and shows the
// menus: each is built fresh from the table at every showing, prepared from the setup at
// that moment, and the item chosen runs here at once. An accelerator reaches its command
// even where the menu would show it disabled. Window thread only.
class CommandRunner : public MenuCommandHandler, public SessionHost {
public:
    struct Parts {
        Setup& setup;
        SetupController& controller;
        Sequencer& sequencer;
        SoundEngine& sound;
        SettingsStore& settings;
        PromptGate& gate;
        WindowActions& window;
    };

    // Link and the JACK transport exclude each other: choosing one clears the other.
    static constexpr const char* kJackTransportCleared =
        "JACK Transport is off: the program follows Link or the JACK transport, not both.";
    static constexpr const char* kLinkCleared =
        "Link is off: the program follows Link or the JACK transport, not both.";

    explicit CommandRunner(Parts parts);
    // The face the commands act on; before any command runs. Must outlive the runner's
    // use of it.
    void SetPanel(WidgetPanel* panel) { panel_ = panel; }

    // SessionHost. Run returns whether the command was taken: false for a key that goes
    // on to the widgets, or for a session's file that could not be opened or saved.
    bool Run(const Command& command) override;
    PromptGate& Gate() override { return parts_.gate; }
    bool IsModified() const override;
    bool IsShown() const override;

    // MenuCommandHandler.
    void ShowMenu(int menuId, const QPoint& screenPos) override;

    // Menu menuId as it would be shown now (the sound list: of step soundStep).
    std::unique_ptr<QMenu> BuildMenu(int menuId, int soundStep = 0) const;

private:
    CommandTable::MenuState State(int soundStep) const;
    bool RunMenuCommand(const Command& command);
    bool RunSession(const Command& command);
    // The keyboard mark's commands.
    bool RunMarkCommand(const Command& command);
    // Tells the panel's onFocusMoved that the keyboard is on control id (the loop popup's
    // dials by FaceAccessible's ids).
    void TellFocus(int id);
    // The control whose field is being edited, else the marked one.
    int KeyTarget() const;
    // What Enter does to control id, and what Up (+1) or Down (-1) does.
    void Press(int id);
    void StepControl(int id, int delta, bool large);

    Parts parts_;
    WidgetPanel* panel_ = nullptr;
    // The step whose sound list was shown last.
    int soundStep_ = 0;
};

} // namespace mb
