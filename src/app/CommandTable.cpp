#include "app/CommandTable.h"

#include <algorithm>
#include <cstdio>

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMimeData>

#include "app/MainWindow.h"
#include "files/PersistedSettings.h"
#include "model/Setup.h"
#include "panel/MenuBar.h"
#include "panel/WidgetPanel.h"

namespace mb {

namespace {

// One line of a menu table; id 0 is a separator.
struct MenuItem {
    int id;
    const char* text;
};

constexpr int kSeparator = 0;

constexpr MenuItem kFileItems[] = {
    {CommandTable::kOpenSetup, "&Open Setup...\tCtrl+O"},
    {CommandTable::kImportSounds, "Import Sounds...\tCtrl+I"},
    {kSeparator, nullptr},
    {CommandTable::kSaveSetup, "&Save Setup\tCtrl+S"},
    {CommandTable::kSaveSetupAs, "Save Setup &As..."},
    {CommandTable::kExportAudio, "Export Audio...\tCtrl+E"},
    {kSeparator, nullptr},
    {CommandTable::kChangeColor, "&Change Color\tF12"},
    {CommandTable::kAbout, "About Marrowbeat..."},
    {kSeparator, nullptr},
    {CommandTable::kExit, "E&xit This Program\tCtrl+Q"},
};

constexpr MenuItem kEditItems[] = {
    {CommandTable::kUndo, "&Undo\tCtrl+Z"},
    {kSeparator, nullptr},
    {CommandTable::kCopyMeasure, "&Copy Measure\tCtrl+C"},
    {CommandTable::kPasteMeasure, "&Paste Measure\tCtrl+V"},
    {kSeparator, nullptr},
    {CommandTable::kShiftRight, "Shift &Right\tCtrl+Right"},
    {CommandTable::kShiftLeft, "Shift &Left\tCtrl+Left"},
};

constexpr MenuItem kThirdItems[] = {
    {CommandTable::kPolyphonic, "Polyphonic\tCtrl+P"},
    {CommandTable::kQuickFade, "Quick Fade In/Out"},
    {CommandTable::kHighResTimer, "Use High-Res Timer"},
    {kSeparator, nullptr},
    {CommandTable::kSamplesPerMeasure, "Samples Per Measure"},
    {CommandTable::kBeatsPerMinute, "Beats Per Minute"},
    {kSeparator, nullptr},
    {CommandTable::kRandomize, "Randomize\tCtrl+R"},
    {kSeparator, nullptr},
    {CommandTable::kMute, "Mute\tCtrl+M"},
    {CommandTable::kKillAllSound, "Kill All Sound\tCtrl+K"},
    {kSeparator, nullptr},
    {CommandTable::kSoundOutput, "Sound Output..."},
    {CommandTable::kMidiOutput, "MIDI Output..."},
    {CommandTable::kLink, "Link"},
};

template <size_t N> void Fill(QMenu& menu, const MenuItem (&items)[N]) {
    for (const MenuItem& item : items) {
        if (item.id == kSeparator) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromUtf8(item.text));
        action->setData(item.id);
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

} // namespace

CommandTable::CommandTable(MainWindow& window) : window_(window) {}

std::unique_ptr<QMenu> CommandTable::BuildMenu(int menuId) const {
    const Setup& setup = window_.GetSetup();
    auto menu = std::make_unique<QMenu>();
    switch (menuId) {
    case kFileMenu:
        Fill(*menu, kFileItems);
        Find(*menu, kSaveSetup)->setEnabled(setup.modified != 0);
        break;
    case kEditMenu: {
        Fill(*menu, kEditItems);
        Find(*menu, kUndo)->setEnabled(setup.undoLoop == setup.selectedLoop);
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        Find(*menu, kPasteMeasure)
            ->setEnabled(data != nullptr && data->hasFormat(SetupController::kMeasureMimeType));
        break;
    }
    case kThirdMenu: {
        Fill(*menu, kThirdItems);
        auto* units = new QActionGroup(menu.get());
        for (int id : {kSamplesPerMeasure, kBeatsPerMinute}) {
            QAction* action = Find(*menu, id);
            action->setCheckable(true);
            units->addAction(action);
        }
        Find(*menu, setup.tempoUnit == kTempoUnitSamples ? kSamplesPerMeasure : kBeatsPerMinute)
            ->setChecked(true);
        SetChecked(*menu, kPolyphonic, setup.polyphonic != 0);
        SetChecked(*menu, kMute, setup.muted != 0);
        SetChecked(*menu, kQuickFade, setup.quickFade != 0);
        Find(*menu, kQuickFade)->setEnabled(false);
        SetChecked(*menu, kHighResTimer, setup.highResTimer != 0);
        SetChecked(*menu, kLink, window_.IsLinkOn());
        break;
    }
    case kSoundMenu:
        PrepareSoundMenu(*menu);
        break;
    default:
        return nullptr;
    }
    return menu;
}

void CommandTable::PrepareSoundMenu(QMenu& menu) const {
    Setup& setup = window_.GetSetup();
    const int n = static_cast<int>(setup.soundNames.size());
    auto* group = new QActionGroup(&menu);
    // Without sounds the one item stands for sound 0, and is checked like it.
    for (int i = 0; i < std::max(n, 1); ++i) {
        QString text = kNoSounds;
        if (n > 0) {
            char prefix[16];
            std::snprintf(prefix, sizeof prefix, "%02d: ", i + 1);
            text = QString::fromUtf8(prefix) +
                   QString::fromStdString(setup.soundNames[static_cast<size_t>(i)]);
        }
        QAction* action = menu.addAction(text);
        action->setData(kFirstSound + i);
        action->setCheckable(true);
        group->addAction(action);
    }
    const int step = window_.Panel().GetMenuBar().GetSoundStep();
    const int sound = setup.loop(setup.selectedLoop).steps[static_cast<size_t>(step)].sound;
    if (QAction* checked = Find(menu, kFirstSound + sound))
        checked->setChecked(true);
}

void CommandTable::ShowMenu(int menuId, const QPoint& screenPos, QWidget& target) {
    std::unique_ptr<QMenu> menu = BuildMenu(menuId);
    if (!menu)
        return;
    const QAction* chosen = menu->exec(screenPos);
    if (chosen == nullptr)
        return;
    const int command = chosen->data().toInt();
    menu.reset();
    if (auto* bar = dynamic_cast<MenuBar*>(&target))
        bar->OnCommand(command);
    else
        OnCommand(command);
}

void CommandTable::OnCommand(int command) {
    Setup& setup = window_.GetSetup();
    SetupController& controller = window_.Controller();
    WidgetPanel& panel = window_.Panel();
    const int soundCount = static_cast<int>(setup.soundNames.size());
    if (command >= kFirstSound && command <= kFirstSound + soundCount) {
        controller.ChooseSound(panel.GetMenuBar().GetSoundStep(), command - kFirstSound);
        return;
    }
    switch (command) {
    case kOpenSetup:
        controller.OpenSetup();
        break;
    case kImportSounds:
        controller.ImportSounds();
        break;
    case kSaveSetup:
        controller.SaveSetup();
        break;
    case kSaveSetupAs:
        controller.SaveSetupAs();
        break;
    case kExportAudio:
        window_.Exporter().Export();
        break;
    case kChangeColor:
        window_.ChangeColour();
        break;
    case kAbout:
        window_.ShowAbout();
        break;
    case kExit:
        window_.close();
        break;
    case kUndo:
        controller.UndoEdit();
        break;
    case kCopyMeasure:
        controller.CopyMeasure();
        break;
    case kPasteMeasure:
        controller.PasteMeasure();
        break;
    case kShiftRight:
        controller.ShiftSteps(true);
        break;
    case kShiftLeft:
        controller.ShiftSteps(false);
        break;
    case kPolyphonic:
        setup.polyphonic = setup.polyphonic == 0 ? 1 : 0;
        setup.modified = 1;
        break;
    case kHighResTimer:
        setup.highResTimer = setup.highResTimer ? 0 : 1;
        if (StepClock* clock = window_.GetSequencer().clock())
            clock->SetUseCpuClock(setup.highResTimer != 0);
        PersistedSettings::WriteHighResSetting(window_.Settings(), setup);
        break;
    case kSamplesPerMeasure:
    case kBeatsPerMinute: {
        const int unit = command == kSamplesPerMeasure ? kTempoUnitSamples : kTempoUnitBpm;
        if (setup.tempoUnit != unit) {
            setup.tempoUnit = static_cast<int16_t>(unit);
            panel.TempoField().SetUnit(unit);
            setup.modified = 1;
        }
        break;
    }
    case kRandomize:
        controller.Randomize();
        break;
    case kMute:
        setup.muted = setup.muted == 0 ? 1 : 0;
        panel.MuteButton().SetState(setup.muted == 0);
        window_.GetSequencer().MuteToggled();
        break;
    case kKillAllSound:
        window_.GetSoundEngine().SilenceAll();
        break;
    case kSoundOutput:
        window_.ChooseSoundOutput();
        break;
    case kLink: {
        const bool on = !window_.IsLinkOn();
        window_.SetLinkOn(on);
        PersistedSettings::WriteLinkSetting(window_.Settings(), on);
        break;
    }
    case kMidiOutput:
        window_.ChooseMidi();
        break;
    default:
        break;
    }
}

} // namespace mb
