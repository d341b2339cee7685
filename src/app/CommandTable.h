#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <QtCore/qnamespace.h>

#include "app/Command.h"

class QMenu;

namespace mb {

// The one place that says what each input does: the menus (their items, in order, with
// separators), the keys and accelerators, and the widgets whose ids stand for a command.
// It only maps; CommandRunner carries the commands out. Window thread only.
class CommandTable {
public:
    // The sound list of a step; the three menus of the menu bar have the bar's ids.
    static constexpr int kSoundMenu = 164;
    // The conditions of a step.
    static constexpr int kConditionMenu = 165;
    static constexpr const char* kNoSounds = "*No Sounds Loaded*";

    // One line of a menu; id kNone is a separator.
    struct MenuItem {
        int id;
        const char* text;
    };

    // What a menu shows beside its items: enabled items, check marks, the sound list.
    struct MenuState {
        bool modified = false;
        bool undoAvailable = false;
        bool canPaste = false;
        bool samplesPerMeasure = false;
        bool polyphonic = false;
        bool muted = false;
        bool quickFade = false;
        bool highResTimer = false;
        bool linkOn = false;
        bool jackTransportOn = false;
        bool highContrast = false;
        std::vector<std::string> soundNames;
        // The sound of the step whose list is shown, and its condition code.
        int stepSound = 0;
        int stepCondition = 0;
        // What the D and E dials play (DDial, EDial).
        int dDial = 0;
        int eDial = 0;
    };

    // A key as the window sees it before any widget does.
    struct Key {
        int key = 0;
        Qt::KeyboardModifiers modifiers;
        bool autoRepeat = false;
        // A text field has the key.
        bool inField = false;
        // A control of the face has the keyboard mark.
        bool marked = false;
        // The loop popup has the keyboard (opened from it): Tab, Up, Down, the page keys,
        // Enter and Escape are its.
        bool inPopup = false;
    };

    // The items of menuId, empty for the sound list (built from the setup) or an unknown
    // menu.
    static std::span<const MenuItem> Items(int menuId);
    // Menu menuId as the state says it is now; each action's data is its command id.
    // Nothing for an unknown menu.
    static std::unique_ptr<QMenu> BuildMenu(int menuId, const MenuState& state);

    // The command of a key, or nothing when the key goes on to the widgets (and Escape
    // outside a text field on to closing the window). Without the keyboard mark every key
    // but Tab (which puts the mark on the first control, also from a field) and, in a
    // field, Up, Down and the page keys, means what it meant before the mark existed.
    static std::optional<Command> FromKey(const Key& key);
    // The command of a change, a press or a right click of widget id: the buttons that
    // stand for a command, else the widget's edit.
    static Command FromWidgetChange(int id);
    static Command FromWidgetPress(int id);
    static Command FromWidgetRightClick(int id);
    // An assistive tool sets control id of the face to value, or presses it (a menu
    // button; a loop button's chain settings).
    static Command FromAccessibleValue(int id, double value);
    static Command FromAccessiblePress(int id);
};

} // namespace mb
