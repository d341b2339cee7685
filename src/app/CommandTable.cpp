#include "app/CommandTable.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include <QActionGroup>
#include <QMenu>

#include "app/SetupController.h"
#include "model/Groove.h"
#include "model/StepParam.h"
#include "panel/MenuBar.h"
#include "panel/WidgetPanel.h"

namespace mb {

namespace {

using Item = CommandTable::MenuItem;
constexpr int kSeparator = Command::kNone;

constexpr Item kFileItems[] = {
    {Command::kOpenSetup, "&Open Setup...\tCtrl+O"},
    {Command::kImportSounds, "Import Sounds...\tCtrl+I"},
    {kSeparator, nullptr},
    {Command::kSaveSetup, "&Save Setup\tCtrl+S"},
    {Command::kSaveSetupAs, "Save Setup &As..."},
    {Command::kExportAudio, "Export Audio...\tCtrl+E"},
    {Command::kExportMidi, "Export MIDI..."},
    {kSeparator, nullptr},
    {Command::kChangeColor, "&Change Color\tF12"},
    {Command::kAbout, "About Marrowbeat..."},
    {kSeparator, nullptr},
    {Command::kExit, "E&xit This Program\tCtrl+Q"},
};

constexpr Item kEditItems[] = {
    {Command::kUndo, "&Undo\tCtrl+Z"},
    {kSeparator, nullptr},
    {Command::kCopyMeasure, "&Copy Measure\tCtrl+C"},
    {Command::kPasteMeasure, "&Paste Measure\tCtrl+V"},
    {kSeparator, nullptr},
    {Command::kShiftRight, "Shift &Right\tCtrl+Right"},
    {Command::kShiftLeft, "Shift &Left\tCtrl+Left"},
};

constexpr Item kThirdItems[] = {
    {Command::kPolyphonic, "Polyphonic\tCtrl+P"},
    {Command::kQuickFade, "Quick Fade In/Out"},
    {Command::kHighResTimer, "Use High-Res Timer"},
    {Command::kHighContrast, "High Contrast"},
    {kSeparator, nullptr},
    {Command::kSamplesPerMeasure, "Samples Per Measure"},
    {Command::kBeatsPerMinute, "Beats Per Minute"},
    {kSeparator, nullptr},
    {Command::kRandomize, "Randomize\tCtrl+R"},
    {kSeparator, nullptr},
    {Command::kMute, "Mute\tCtrl+M"},
    {Command::kKillAllSound, "Kill All Sound\tCtrl+K"},
    {kSeparator, nullptr},
    {Command::kSoundOutput, "Sound Output..."},
    {Command::kMidiOutput, "MIDI..."},
    {Command::kLink, "Link"},
    {Command::kJackTransport, "JACK Transport"},
    {kSeparator, nullptr},
    {Command::kDDialMenu, "D Dial"},
    {Command::kEDialMenu, "E Dial"},
};

// The functions of the D and E dials, in the order of their values.
constexpr const char* kDDialItems[] = {"Nothing", "Chance", "Delay", "Repeats"};
constexpr const char* kEDialItems[] = {"Nothing", "Transpose"};

// The named conditions, in the order of their codes after Always.
constexpr const char* kConditionItems[] = {"First",    "Not First", "Last",
                                           "Not Last", "Previous",  "Not Previous"};

// The accelerators: with Ctrl unless noted; Shift does not matter, Alt is never held.
struct Accelerator {
    int key;
    bool ctrl;
    int command;
};

constexpr Accelerator kAccelerators[] = {
    {Qt::Key_C, true, Command::kCopyMeasure},    {Qt::Key_E, true, Command::kExportAudio},
    {Qt::Key_I, true, Command::kImportSounds},   {Qt::Key_K, true, Command::kKillAllSound},
    {Qt::Key_M, true, Command::kMute},           {Qt::Key_O, true, Command::kOpenSetup},
    {Qt::Key_P, true, Command::kPolyphonic},     {Qt::Key_Q, true, Command::kExit},
    {Qt::Key_R, true, Command::kRandomize},      {Qt::Key_S, true, Command::kSaveSetup},
    {Qt::Key_V, true, Command::kPasteMeasure},   {Qt::Key_Left, true, Command::kShiftLeft},
    {Qt::Key_Right, true, Command::kShiftRight}, {Qt::Key_Z, true, Command::kUndo},
    {Qt::Key_F12, false, Command::kChangeColor},
};

constexpr int kLoopKeyCount = 8;

// The keys of the keyboard mark, and Up, Down and the page keys in a field.
std::optional<Command> FromMarkKey(const CommandTable::Key& key, Qt::KeyboardModifiers mods) {
    const bool ctrl = (mods & Qt::ControlModifier) != 0;
    const bool shift = (mods & Qt::ShiftModifier) != 0;
    const bool alt = (mods & Qt::AltModifier) != 0;
    const int k = key.key;
    if (alt)
        return std::nullopt;
    // Tab puts the mark on and moves it, also from a field clicked into.
    if ((k == Qt::Key_Tab || k == Qt::Key_Backtab) && !ctrl)
        return Command{Command::kMoveMark, k == Qt::Key_Backtab || shift
                                               ? WidgetPanel::kMarkPrevious
                                               : WidgetPanel::kMarkNext};
    if (key.inPopup && (k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Escape))
        return Command{Command::kLeaveMark};
    if (!key.marked && !key.inField)
        return std::nullopt;
    // Shift: all played steps, as with the mouse; Ctrl or a page key: the larger step.
    const bool page = k == Qt::Key_PageUp || k == Qt::Key_PageDown;
    if (k == Qt::Key_Up || k == Qt::Key_PageUp)
        return Command{Command::kStepMarked, +1, page || ctrl ? 1.0 : 0.0};
    if (k == Qt::Key_Down || k == Qt::Key_PageDown)
        return Command{Command::kStepMarked, -1, page || ctrl ? 1.0 : 0.0};
    if (key.inField || ctrl)
        return std::nullopt;
    if (k == Qt::Key_Left || k == Qt::Key_Right)
        return Command{Command::kMoveMark,
                       k == Qt::Key_Left ? WidgetPanel::kMarkLeft : WidgetPanel::kMarkRight};
    if ((k == Qt::Key_Return || k == Qt::Key_Enter) && !shift)
        return Command{Command::kPressMarked};
    if (k == Qt::Key_Escape && !shift)
        return Command{Command::kLeaveMark};
    if ((k == Qt::Key_F10 && shift) || k == Qt::Key_Menu)
        return Command{Command::kMarkMenu};
    return std::nullopt;
}

// A checkable item in an exclusive group.
QAction* AddChoice(QMenu& menu, QActionGroup& group, const QString& text, int id, bool checked) {
    QAction* action = menu.addAction(text);
    action->setData(id);
    action->setCheckable(true);
    action->setChecked(checked);
    group.addAction(action);
    return action;
}

// A submenu of exclusive choices: item i sends firstId + i.
void AddChoices(
    QMenu& menu, const char* title, std::span<const char* const> texts, int firstId, int chosen) {
    QMenu* sub = menu.addMenu(QString::fromUtf8(title));
    auto* group = new QActionGroup(sub);
    for (size_t i = 0; i < texts.size(); ++i)
        AddChoice(*sub, *group, QString::fromUtf8(texts[i]), firstId + static_cast<int>(i),
                  static_cast<int>(i) == chosen);
}

void Fill(QMenu& menu, std::span<const Item> items, const CommandTable::MenuState& state) {
    for (const Item& item : items) {
        if (item.id == kSeparator) {
            menu.addSeparator();
        } else if (item.id == Command::kDDialMenu) {
            AddChoices(menu, item.text, kDDialItems, Command::kFirstDDial, state.dDial);
        } else if (item.id == Command::kEDialMenu) {
            AddChoices(menu, item.text, kEDialItems, Command::kFirstEDial, state.eDial);
        } else {
            QAction* action = menu.addAction(QString::fromUtf8(item.text));
            action->setData(item.id);
        }
    }
}

// Always, the named conditions, and A:B in a submenu for each B.
void FillConditionMenu(QMenu& menu, const CommandTable::MenuState& state) {
    auto* group = new QActionGroup(&menu);
    const auto add = [&state, group](QMenu& to, const QString& text, const StepCondition& c) {
        AddChoice(to, *group, text, Command::kFirstCondition + c.Code(),
                  c.Code() == state.stepCondition);
    };
    add(menu, QStringLiteral("Always"), StepCondition{});
    menu.addSeparator();
    for (size_t i = 0; i < std::size(kConditionItems); ++i)
        add(menu, QString::fromUtf8(kConditionItems[i]),
            StepCondition{static_cast<StepCondition::Kind>(i + 1)});
    menu.addSeparator();
    for (int b = StepCondition::kMinRatioB; b <= StepCondition::kMaxRatioB; ++b) {
        QMenu* sub = menu.addMenu(QStringLiteral("Every %1 Passes").arg(b));
        for (int a = 1; a <= b; ++a)
            add(*sub, QStringLiteral("%1:%2").arg(a).arg(b), StepCondition::Ratio(a, b));
    }
}

QAction* Find(QMenu& menu, int id) {
    for (QAction* action : menu.actions())
        if (!action->isSeparator() && action->data().toInt() == id)
            return action;
    return nullptr;
}

void SetChecked(QMenu& menu, int id, bool checked) {
    if (QAction* action = Find(menu, id)) {
        action->setCheckable(true);
        action->setChecked(checked);
    }
}

void FillSoundMenu(QMenu& menu, const CommandTable::MenuState& state) {
    const int n = static_cast<int>(state.soundNames.size());
    auto* group = new QActionGroup(&menu);
    // Without sounds the one item stands for sound 0, and is checked like it.
    for (int i = 0; i < std::max(n, 1); ++i) {
        QString text = CommandTable::kNoSounds;
        if (n > 0) {
            char prefix[16];
            std::snprintf(prefix, sizeof prefix, "%02d: ", i + 1);
            text = QString::fromUtf8(prefix) +
                   QString::fromStdString(state.soundNames[static_cast<size_t>(i)]);
        }
        QAction* action = menu.addAction(text);
        action->setData(Command::kFirstSound + i);
        action->setCheckable(true);
        group->addAction(action);
    }
    if (QAction* checked = Find(menu, Command::kFirstSound + state.stepSound))
        checked->setChecked(true);
}

// The parameter of column k that widget id belongs to.
int ParamOf(int id, int k) {
    return (id - WidgetPanel::kFirstColumnId - k * WidgetPanel::kColumnIdStep) / 10 * 10;
}

} // namespace

std::span<const CommandTable::MenuItem> CommandTable::Items(int menuId) {
    switch (menuId) {
    case MenuBar::kFileMenuId:
        return kFileItems;
    case MenuBar::kEditMenuId:
        return kEditItems;
    case MenuBar::kThirdMenuId:
        return kThirdItems;
    default:
        return {};
    }
}

std::unique_ptr<QMenu> CommandTable::BuildMenu(int menuId, const MenuState& state) {
    auto menu = std::make_unique<QMenu>();
    Fill(*menu, Items(menuId), state);
    switch (menuId) {
    case MenuBar::kFileMenuId:
        Find(*menu, Command::kSaveSetup)->setEnabled(state.modified);
        break;
    case MenuBar::kEditMenuId:
        Find(*menu, Command::kUndo)->setEnabled(state.undoAvailable);
        Find(*menu, Command::kPasteMeasure)->setEnabled(state.canPaste);
        break;
    case MenuBar::kThirdMenuId: {
        auto* units = new QActionGroup(menu.get());
        for (int id : {Command::kSamplesPerMeasure, Command::kBeatsPerMinute}) {
            QAction* action = Find(*menu, id);
            action->setCheckable(true);
            units->addAction(action);
        }
        Find(*menu,
             state.samplesPerMeasure ? Command::kSamplesPerMeasure : Command::kBeatsPerMinute)
            ->setChecked(true);
        SetChecked(*menu, Command::kPolyphonic, state.polyphonic);
        SetChecked(*menu, Command::kMute, state.muted);
        SetChecked(*menu, Command::kQuickFade, state.quickFade);
        Find(*menu, Command::kQuickFade)->setEnabled(false);
        SetChecked(*menu, Command::kHighResTimer, state.highResTimer);
        SetChecked(*menu, Command::kHighContrast, state.highContrast);
        SetChecked(*menu, Command::kLink, state.linkOn);
        SetChecked(*menu, Command::kJackTransport, state.jackTransportOn);
        break;
    }
    case kSoundMenu:
        FillSoundMenu(*menu, state);
        break;
    case kConditionMenu:
        FillConditionMenu(*menu, state);
        break;
    default:
        return nullptr;
    }
    return menu;
}

std::optional<Command> CommandTable::FromKey(const Key& key) {
    const Qt::KeyboardModifiers mods =
        key.modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const bool ctrl = (mods & Qt::ControlModifier) != 0;
    const bool alt = (mods & Qt::AltModifier) != 0;
    const int k = key.key;
    if (k == Qt::Key_Space)
        return Command{key.autoRepeat ? Command::kSwallowKey : Command::kTogglePlayback};
    if (k >= Qt::Key_1 && k < Qt::Key_1 + kLoopKeyCount && !ctrl && !alt)
        return Command{Command::kJumpToLoop, k - Qt::Key_1};
    for (const Accelerator& a : kAccelerators)
        if (a.key == k && a.ctrl == ctrl && !alt)
            return Command{a.command};
    if (const std::optional<Command> mark = FromMarkKey(key, mods))
        return mark;
    // The menus from the keyboard: F10 (Shift too) and the Menu key open the first one, Alt
    // with a menu button's letter that menu.
    if ((k == Qt::Key_F10 && !ctrl && !alt) || (k == Qt::Key_Menu && mods == Qt::NoModifier))
        return Command{Command::kOpenMenu, MenuBar::kFileButtonId};
    if (alt && !ctrl) {
        for (const auto& [letter, button] : {std::pair{Qt::Key_F, MenuBar::kFileButtonId},
                                             std::pair{Qt::Key_E, MenuBar::kEditButtonId},
                                             std::pair{Qt::Key_M, MenuBar::kThirdButtonId}})
            if (k == letter)
                return Command{Command::kOpenMenu, button};
    }
    const bool enter = k == Qt::Key_Return || k == Qt::Key_Enter;
    if ((!enter && k != Qt::Key_Escape) || mods != Qt::NoModifier)
        return std::nullopt;
    // In a text field Enter commits the typed value and Escape restores the one shown
    // before; elsewhere Enter asks for a new colour, and Escape goes on to close the
    // window.
    if (key.inField)
        return Command{Command::kLeaveField, enter ? 0 : 1};
    if (enter)
        return Command{Command::kChangeColor};
    return std::nullopt;
}

Command CommandTable::FromWidgetChange(int id) {
    switch (id) {
    case WidgetPanel::kPlayButtonId:
        return {Command::kPlayButton};
    case WidgetPanel::kMuteButtonId:
        return {Command::kMuteButton};
    case MenuBar::kFileButtonId:
    case MenuBar::kEditButtonId:
    case MenuBar::kThirdButtonId:
        return {Command::kOpenMenu, id};
    default:
        return {Command::kWidgetChange, id};
    }
}

Command CommandTable::FromWidgetPress(int id) {
    return {Command::kWidgetPress, id};
}

Command CommandTable::FromAccessibleValue(int id, double value) {
    return {Command::kSetValue, id, value};
}

Command CommandTable::FromAccessiblePress(int id) {
    // A loop button's menu is its chain settings, as a right click opens them.
    if (id > WidgetPanel::kLoopStripId &&
        id <= WidgetPanel::kLoopStripId + WidgetPanel::kLoopButtonCount)
        return FromWidgetRightClick(id);
    return FromWidgetChange(id);
}

Command CommandTable::FromWidgetRightClick(int id) {
    const int k = SetupController::ColumnOf(id);
    if (k >= 0 && ParamOf(id, k) == kParamSound)
        return {Command::kShowSoundMenu, k};
    if (k >= 0 && ParamOf(id, k) == kParamOn)
        return {Command::kShowConditionMenu, k};
    return {Command::kWidgetRightClick, id};
}

} // namespace mb
