// The table of inputs: what each key gives, and that the shortcut a menu item shows is
// the key that runs it.
#include <optional>

#include <QKeySequence>
#include <QMenu>
#include <gtest/gtest.h>

#include "app/CommandTable.h"
#include "panel/MenuBar.h"
#include "panel/WidgetPanel.h"

namespace mb {
namespace {

constexpr auto kCtrl = Qt::ControlModifier;
constexpr auto kShift = Qt::ShiftModifier;
constexpr auto kAlt = Qt::AltModifier;

TEST(CommandTable, KeysGiveTheirCommands) {
    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        bool autoRepeat;
        bool inField;
        std::optional<int> command; // nothing: the key goes on
        int arg;
    };
    const Case cases[] = {
        {Qt::Key_Space, {}, false, false, Command::kTogglePlayback, 0},
        {Qt::Key_Space, kCtrl, false, true, Command::kTogglePlayback, 0},
        {Qt::Key_Space, {}, true, false, Command::kSwallowKey, 0},
        {Qt::Key_1, {}, false, false, Command::kJumpToLoop, 0},
        {Qt::Key_8, kShift, false, true, Command::kJumpToLoop, 7},
        {Qt::Key_9, {}, false, false, std::nullopt, 0},
        {Qt::Key_3, kCtrl, false, false, std::nullopt, 0},
        {Qt::Key_3, kAlt, false, false, std::nullopt, 0},
        {Qt::Key_S, kCtrl | kShift, false, false, Command::kSaveSetup, 0},
        {Qt::Key_S, kCtrl | kAlt, false, false, std::nullopt, 0},
        {Qt::Key_S, {}, false, false, std::nullopt, 0},
        {Qt::Key_F12, {}, false, true, Command::kChangeColor, 0},
        {Qt::Key_F12, kCtrl, false, false, std::nullopt, 0},
        {Qt::Key_Return, {}, false, false, Command::kChangeColor, 0},
        {Qt::Key_Enter, {}, false, true, Command::kLeaveField, 0},
        {Qt::Key_Escape, {}, false, true, Command::kLeaveField, 1},
        {Qt::Key_Escape, {}, false, false, std::nullopt, 0},
        {Qt::Key_Return, kShift, false, false, std::nullopt, 0},
        {Qt::Key_F10, {}, false, false, Command::kOpenMenu, MenuBar::kFileButtonId},
        {Qt::Key_F10, kShift, false, true, Command::kOpenMenu, MenuBar::kFileButtonId},
        {Qt::Key_Menu, {}, false, false, Command::kOpenMenu, MenuBar::kFileButtonId},
        {Qt::Key_F, kAlt, false, false, Command::kOpenMenu, MenuBar::kFileButtonId},
        {Qt::Key_E, kAlt | kShift, false, false, Command::kOpenMenu, MenuBar::kEditButtonId},
        {Qt::Key_M, kAlt, false, true, Command::kOpenMenu, MenuBar::kThirdButtonId},
        {Qt::Key_M, kCtrl | kAlt, false, false, std::nullopt, 0},
        {Qt::Key_F10, kCtrl, false, false, std::nullopt, 0},
    };
    for (const Case& c : cases) {
        const std::optional<Command> command =
            CommandTable::FromKey({c.key, c.mods, c.autoRepeat, c.inField});
        SCOPED_TRACE(QKeySequence(c.key | c.mods.toInt()).toString().toStdString());
        ASSERT_EQ(command.has_value(), c.command.has_value());
        if (command) {
            EXPECT_EQ(command->id, *c.command);
            EXPECT_EQ(command->arg, c.arg);
        }
    }
}

TEST(CommandTable, TheKeyboardMarksKeysChangeOnlyWhatTheMarkOrAFieldHas) {
    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        bool inField;
        bool marked;
        std::optional<int> command;
        int arg;
        double value;
    };
    constexpr int kNext = WidgetPanel::kMarkNext;
    constexpr int kPrevious = WidgetPanel::kMarkPrevious;
    const Case cases[] = {
        {Qt::Key_Tab, {}, false, false, Command::kMoveMark, kNext, 0},
        {Qt::Key_Backtab, kShift, false, true, Command::kMoveMark, kPrevious, 0},
        {Qt::Key_Tab, {}, true, false, Command::kMoveMark, kNext, 0},
        {Qt::Key_Tab, {}, true, true, Command::kMoveMark, kNext, 0},
        {Qt::Key_Left, {}, false, true, Command::kMoveMark, WidgetPanel::kMarkLeft, 0},
        {Qt::Key_Left, {}, false, false, std::nullopt, 0, 0},
        {Qt::Key_Right, kCtrl, false, true, Command::kShiftRight, 0, 0},
        {Qt::Key_Up, {}, false, true, Command::kStepMarked, 1, 0},
        {Qt::Key_Up, {}, false, false, std::nullopt, 0, 0},
        {Qt::Key_Down, kShift, true, false, Command::kStepMarked, -1, 0},
        {Qt::Key_PageUp, {}, false, true, Command::kStepMarked, 1, 1},
        {Qt::Key_Down, kCtrl, false, true, Command::kStepMarked, -1, 1},
        {Qt::Key_Return, {}, false, true, Command::kPressMarked, 0, 0},
        {Qt::Key_Return, {}, true, true, Command::kLeaveField, 0, 0},
        {Qt::Key_Escape, {}, false, true, Command::kLeaveMark, 0, 0},
        {Qt::Key_Escape, {}, true, true, Command::kLeaveField, 1, 0},
        {Qt::Key_Space, {}, false, true, Command::kTogglePlayback, 0, 0},
        {Qt::Key_F10, kShift, false, true, Command::kMarkMenu, 0, 0},
        {Qt::Key_F10, {}, false, true, Command::kOpenMenu, MenuBar::kFileButtonId, 0},
        {Qt::Key_Menu, {}, false, true, Command::kMarkMenu, 0, 0},
    };
    for (const Case& c : cases) {
        const auto command = CommandTable::FromKey({c.key, c.mods, false, c.inField, c.marked});
        ASSERT_EQ(command.has_value(), c.command.has_value()) << c.key;
        if (command) {
            EXPECT_EQ(command->id, *c.command) << c.key;
            EXPECT_EQ(command->arg, c.arg) << c.key;
            EXPECT_EQ(command->value, c.value) << c.key;
        }
    }
}

// The shortcut of a menu item, from its text; empty when it shows none.
QKeySequence Shortcut(const QAction& action) {
    const qsizetype tab = action.text().indexOf('\t');
    return tab < 0 ? QKeySequence() : QKeySequence(action.text().mid(tab + 1));
}

TEST(CommandTable, EveryShortcutShownIsTheKeyThatRunsTheItem) {
    // Each shortcut a menu shows runs that item.
    QMap<int, QKeySequence> shown;
    for (int menuId : {MenuBar::kFileMenuId, MenuBar::kEditMenuId, MenuBar::kThirdMenuId}) {
        const auto menu = CommandTable::BuildMenu(menuId, {});
        for (const QAction* action : menu->actions()) {
            const QKeySequence shortcut = Shortcut(*action);
            if (shortcut.isEmpty())
                continue;
            const int id = action->data().toInt();
            shown[id] = shortcut;
            const QKeyCombination key = shortcut[0];
            const auto command =
                CommandTable::FromKey({key.key(), key.keyboardModifiers(), false, false});
            ASSERT_TRUE(command.has_value()) << action->text().toStdString();
            EXPECT_EQ(command->id, id) << action->text().toStdString();
        }
    }
    // And each key that runs a menu item is the shortcut it shows.
    std::vector<int> keys = {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down};
    for (int k = Qt::Key_A; k <= Qt::Key_Z; ++k)
        keys.push_back(k);
    for (int k = Qt::Key_F1; k <= Qt::Key_F12; ++k)
        keys.push_back(k);
    for (int key : keys) {
        for (Qt::KeyboardModifiers mods : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(kCtrl)}) {
            const auto command = CommandTable::FromKey({key, mods, false, false});
            // F10 opens a menu: no item of one.
            if (!command || command->id == Command::kOpenMenu)
                continue;
            ASSERT_TRUE(shown.contains(command->id)) << key;
            EXPECT_EQ(shown[command->id], QKeySequence(key | mods.toInt())) << key;
        }
    }
}

} // namespace
} // namespace mb
