#include "app/CommandRunner.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QMenu>
#include <QMimeData>

#include "app/SetupController.h"
#include "app/WindowActions.h"
#include "dialogs/PromptGate.h"
#include "engine/Sequencer.h"
#include "engine/SoundEngine.h"
#include "files/PersistedSettings.h"
#include "files/SetupDocument.h"
#include "model/Setup.h"
#include "model/StepParam.h"
#include "panel/FaceAccessible.h"
#include "panel/WidgetPanel.h"
#include "widgets/EntryField.h"

namespace mb {

CommandRunner::CommandRunner(Parts parts) : parts_(parts) {}

bool CommandRunner::IsModified() const {
    return parts_.setup.modified != 0;
}

bool CommandRunner::IsShown() const {
    return parts_.window.IsShown();
}

CommandTable::MenuState CommandRunner::State(int soundStep) const {
    const Setup& setup = parts_.setup;
    CommandTable::MenuState state;
    state.modified = setup.modified != 0;
    state.undoAvailable = setup.undoLoop == setup.selectedLoop;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    state.canPaste = data != nullptr && data->hasFormat(SetupController::kMeasureMimeType);
    state.samplesPerMeasure = setup.tempoUnit == kTempoUnitSamples;
    state.polyphonic = setup.polyphonic != 0;
    state.muted = setup.muted != 0;
    state.quickFade = setup.quickFade != 0;
    state.highResTimer = setup.highResTimer != 0;
    state.linkOn = parts_.window.IsLinkOn();
    state.jackTransportOn = parts_.window.IsJackTransportOn();
    state.highContrast = panel_ != nullptr && panel_->IsHighContrast();
    state.soundNames = setup.soundNames;
    const Step& step = setup.loop(setup.selectedLoop).steps[static_cast<size_t>(soundStep)];
    state.stepSound = step.sound;
    state.stepCondition = step.condition;
    state.dDial = setup.dDial;
    state.eDial = setup.eDial;
    return state;
}

std::unique_ptr<QMenu> CommandRunner::BuildMenu(int menuId, int soundStep) const {
    return CommandTable::BuildMenu(menuId, State(soundStep));
}

void CommandRunner::ShowMenu(int menuId, const QPoint& screenPos) {
    std::unique_ptr<QMenu> menu = BuildMenu(menuId, soundStep_);
    if (!menu)
        return;
    const QAction* chosen = menu->exec(screenPos);
    if (chosen == nullptr)
        return;
    const int command = chosen->data().toInt();
    menu.reset();
    Run({command, soundStep_});
}

bool CommandRunner::Run(const Command& command) {
    Sequencer& sequencer = parts_.sequencer;
    SetupController& controller = parts_.controller;
    switch (command.id) {
    case Command::kSwallowKey:
        return true;
    case Command::kTogglePlayback: {
        MToggleButton& play = panel_->PlayButton();
        play.SetState(!play.GetState());
        sequencer.Toggle();
        return true;
    }
    case Command::kPlayButton:
        sequencer.Toggle();
        return true;
    case Command::kMidiTransport:
        // Like Space, but only ever in the direction received.
        if ((command.arg != 0) != sequencer.running())
            Run({Command::kTogglePlayback});
        return true;
    case Command::kJumpToLoop:
        // A text field being edited keeps its digits.
        if (!sequencer.running() || !parts_.window.KeysGoToSink())
            return false;
        sequencer.JumpToLoop(static_cast<int>(command.arg));
        return true;
    case Command::kLeaveField:
        parts_.window.LeaveField(command.arg != 0);
        return true;
    case Command::kMute:
        // The sound toggle flips as a click would flip it, then as the click.
        panel_->MuteButton().SetState(parts_.setup.muted != 0);
        [[fallthrough]];
    case Command::kMuteButton:
        sequencer.MuteToggled();
        return true;
    case Command::kWidgetPress:
        controller.OnWidgetPress(static_cast<int>(command.arg));
        return true;
    case Command::kWidgetChange:
        controller.OnWidgetChange(static_cast<int>(command.arg));
        return true;
    case Command::kWidgetRightClick:
        controller.OnWidgetRightClick(static_cast<int>(command.arg));
        return true;
    case Command::kOpenMenu:
        panel_->GetMenuBar().OpenMenu(static_cast<int>(command.arg));
        return true;
    case Command::kShowSoundMenu:
        soundStep_ = static_cast<int>(command.arg);
        ShowMenu(CommandTable::kSoundMenu, QCursor::pos());
        return true;
    case Command::kShowConditionMenu:
        soundStep_ = static_cast<int>(command.arg);
        ShowMenu(CommandTable::kConditionMenu, QCursor::pos());
        return true;
    case Command::kSetValue: {
        // As the mouse: the widget changes, the press takes the undo point (from the setup,
        // not yet changed), the widget's change is applied.
        const int id = static_cast<int>(command.arg);
        const int changed = FaceAccessible::ApplyValue(*panel_, id, command.value);
        if (changed == 0)
            return true;
        controller.OnWidgetPress(id);
        return Run(CommandTable::FromWidgetChange(changed));
    }
    case Command::kOpenPath:
        controller.OpenPath(command.path);
        return true;
    case Command::kTransportTempo:
        controller.SetTempo(command.value);
        return true;
    case Command::kLinkTempo:
        // A peer's tempo is taken as a typed one would be.
        controller.SetTempo(command.value);
        parts_.setup.modified = 1;
        return true;
    case Command::kRemoteStart:
        return sequencer.OnWindowMessage(MSG_REMOTE_START, 0, static_cast<intptr_t>(command.arg));
    case Command::kRemoteStop:
        return sequencer.OnWindowMessage(MSG_REMOTE_STOP, 0, 0);
    case Command::kMoveMark:
    case Command::kStepMarked:
    case Command::kPressMarked:
    case Command::kLeaveMark:
    case Command::kMarkMenu:
        return RunMarkCommand(command);
    case Command::kSessionOpen:
    case Command::kSessionSave:
    case Command::kShowWindow:
    case Command::kHideWindow:
        return RunSession(command);
    default:
        return RunMenuCommand(command);
    }
}

bool CommandRunner::RunSession(const Command& command) {
    SetupDocument& document = parts_.controller.Document();
    switch (command.id) {
    case Command::kSessionOpen: {
        const bool create = command.arg != 0;
        if (!(create ? document.Save(command.path) : document.Load(command.path)))
            return false;
        parts_.controller.SetSessionFile(command.path);
        return true;
    }
    case Command::kSessionSave:
        return document.Save(command.path);
    default:
        parts_.window.ShowWindow(command.id == Command::kShowWindow);
        return true;
    }
}

namespace {

// The field being edited in the window, or nullptr.
EntryField* EditedField() {
    return dynamic_cast<EntryField*>(QApplication::focusWidget());
}

// Step k's control `code` when id is one, else -1.
int StepCode(int id, int* k) {
    *k = SetupController::ColumnOf(id);
    return *k < 0 ? -1 : (id - WidgetPanel::kFirstColumnId) % WidgetPanel::kColumnIdStep;
}

} // namespace

void CommandRunner::TellFocus(int id) {
    if (panel_->onFocusMoved)
        panel_->onFocusMoved(id);
}

int CommandRunner::KeyTarget() const {
    if (const EntryField* field = EditedField())
        return field->GetId() - MDial::kFieldPart;
    return panel_->Mark();
}

bool CommandRunner::RunMarkCommand(const Command& command) {
    // The loop popup opened from the keyboard takes the mark's keys while it is up.
    if (LoopPopup& popup = panel_->GetLoopPopup(); popup.HasKeyboard()) {
        if (command.id == Command::kMoveMark) {
            popup.MoveKeyboardMark(command.arg == WidgetPanel::kMarkPrevious ||
                                   command.arg == WidgetPanel::kMarkLeft);
            TellFocus(FaceAccessible::kChainNextId + popup.KeyDial());
        } else if (command.id == Command::kStepMarked)
            popup.StepMarkedDial(static_cast<int>(command.arg), command.value != 0.0);
        else if (command.id == Command::kLeaveMark) {
            popup.ReleaseKeyboard();
            TellFocus(panel_->Mark());
        }
        return true;
    }
    switch (command.id) {
    case Command::kMoveMark:
        // A field being edited keeps what was typed; the mark moves on from it when it was
        // opened from the mark, and starts at the first control when it was clicked into.
        if (EditedField() != nullptr) {
            const int id = KeyTarget();
            parts_.window.LeaveField(false);
            if (panel_->Mark() != WidgetPanel::kNoMark)
                panel_->SetMark(id);
        }
        panel_->MoveMark(static_cast<WidgetPanel::MarkMove>(command.arg));
        return true;
    case Command::kStepMarked:
        if (EditedField() != nullptr) {
            // The typed text first, then the step; the field stays in the edit.
            if (MDial* dial = panel_->DialOf(KeyTarget()))
                dial->OnFieldLeave();
        }
        StepControl(KeyTarget(), static_cast<int>(command.arg), command.value != 0.0);
        return true;
    case Command::kPressMarked:
        Press(panel_->Mark());
        return true;
    case Command::kLeaveMark:
        panel_->SetMark(WidgetPanel::kNoMark);
        return true;
    case Command::kMarkMenu: {
        const int id = panel_->Mark();
        int k = 0;
        const int code = StepCode(id, &k);
        if (code == kParamOn || code == kParamSound) {
            soundStep_ = k;
            ShowMenu(code == kParamOn ? CommandTable::kConditionMenu : CommandTable::kSoundMenu,
                     panel_->MarkMenuPoint());
        } else if (id > WidgetPanel::kLoopStripId &&
                   id <= WidgetPanel::kLoopStripId + WidgetPanel::kLoopButtonCount) {
            panel_->ShowLoopPopup(id - WidgetPanel::kLoopStripId - 1);
            panel_->GetLoopPopup().TakeKeyboard();
            TellFocus(FaceAccessible::kChainNextId);
        } else if (id == MenuBar::kFileButtonId || id == MenuBar::kEditButtonId ||
                   id == MenuBar::kThirdButtonId) {
            Run({Command::kOpenMenu, id});
        }
        return true;
    }
    default:
        return false;
    }
}

void CommandRunner::Press(int id) {
    int k = 0;
    const int code = StepCode(id, &k);
    if (code == kParamOn) {
        // As a click: an undo point, the toggle flips, the step takes it.
        Run(CommandTable::FromWidgetPress(id));
        MToggleButton& toggle = panel_->Column(k).Toggle();
        toggle.SetState(!toggle.GetState());
        Run(CommandTable::FromWidgetChange(id));
        return;
    }
    if (MDial* dial = panel_->DialOf(id)) {
        // A number field opens for typing; Enter commits it, Escape restores it.
        if (!dial->Field().isHidden()) {
            dial->Field().setFocus(Qt::TabFocusReason);
            dial->Field().selectAll();
        }
        return;
    }
    switch (id) {
    case WidgetPanel::kPlayButtonId:
        Run({Command::kTogglePlayback});
        return;
    case WidgetPanel::kMuteButtonId:
        Run({Command::kMute});
        return;
    case MenuBar::kFileButtonId:
    case MenuBar::kEditButtonId:
    case MenuBar::kThirdButtonId:
        Run({Command::kOpenMenu, id});
        return;
    default:
        break;
    }
    if (id > WidgetPanel::kLoopStripId &&
        id <= WidgetPanel::kLoopStripId + WidgetPanel::kLoopButtonCount) {
        Run(CommandTable::FromWidgetPress(id));
        Run(CommandTable::FromWidgetChange(id));
    }
}

void CommandRunner::StepControl(int id, int delta, bool large) {
    int k = 0;
    if (StepCode(id, &k) == kParamOn) {
        // Up turns the step on, Down off.
        if (panel_->Column(k).Toggle().GetState() != (delta > 0))
            Press(id);
        return;
    }
    MDial* dial = panel_->DialOf(id);
    if (dial == nullptr)
        return;
    // As the arrows: an undo point, the step, and the edit as from the dial's field (whose
    // report changes nothing more in the dial).
    const int part = id + MDial::kFieldPart;
    Run(CommandTable::FromWidgetPress(part));
    dial->Step(delta, large);
    Run(CommandTable::FromWidgetChange(part));
}

bool CommandRunner::RunMenuCommand(const Command& command) {
    Setup& setup = parts_.setup;
    SetupController& controller = parts_.controller;
    const int id = command.id;
    const int soundCount = static_cast<int>(setup.soundNames.size());
    if (id >= Command::kFirstSound && id <= Command::kFirstSound + soundCount) {
        controller.ChooseSound(static_cast<int>(command.arg), id - Command::kFirstSound);
        return true;
    }
    if (id >= Command::kFirstCondition && id <= Command::kLastCondition) {
        controller.SetCondition(static_cast<int>(command.arg), id - Command::kFirstCondition);
        return true;
    }
    if (id >= Command::kFirstDDial && id < Command::kFirstDDial + kDDialCount) {
        controller.SetDials(id - Command::kFirstDDial, setup.eDial);
        return true;
    }
    if (id >= Command::kFirstEDial && id < Command::kFirstEDial + kEDialCount) {
        controller.SetDials(setup.dDial, id - Command::kFirstEDial);
        return true;
    }
    switch (id) {
    case Command::kOpenSetup:
        controller.OpenSetup();
        break;
    case Command::kImportSounds:
        controller.ImportSounds();
        break;
    case Command::kSaveSetup:
        controller.SaveSetup();
        break;
    case Command::kSaveSetupAs:
        controller.SaveSetupAs();
        break;
    case Command::kExportAudio:
        parts_.window.ExportAudio();
        break;
    case Command::kExportMidi:
        // On the channel the MIDI output sends on.
        parts_.window.ExportMidi(PersistedSettings::ReadMidiChoice(parts_.settings).channel);
        break;
    case Command::kChangeColor:
        parts_.window.ChangeColour();
        break;
    case Command::kAbout:
        parts_.window.ShowAbout();
        break;
    case Command::kExit:
        parts_.window.CloseWindow();
        break;
    case Command::kUndo:
        controller.UndoEdit();
        break;
    case Command::kCopyMeasure:
        controller.CopyMeasure();
        break;
    case Command::kPasteMeasure:
        controller.PasteMeasure();
        break;
    case Command::kShiftRight:
        controller.ShiftSteps(true);
        break;
    case Command::kShiftLeft:
        controller.ShiftSteps(false);
        break;
    case Command::kPolyphonic:
        setup.polyphonic = setup.polyphonic == 0 ? 1 : 0;
        setup.modified = 1;
        break;
    case Command::kHighResTimer:
        setup.highResTimer = setup.highResTimer ? 0 : 1;
        if (StepClock* clock = parts_.sequencer.clock())
            clock->SetUseCpuClock(setup.highResTimer != 0);
        PersistedSettings::WriteHighResSetting(parts_.settings, setup);
        break;
    case Command::kHighContrast:
        panel_->SetHighContrast(!panel_->IsHighContrast());
        PersistedSettings::WriteHighContrast(parts_.settings, panel_->IsHighContrast());
        break;
    case Command::kSamplesPerMeasure:
    case Command::kBeatsPerMinute: {
        const int unit = id == Command::kSamplesPerMeasure ? kTempoUnitSamples : kTempoUnitBpm;
        if (setup.tempoUnit != unit) {
            setup.tempoUnit = static_cast<int16_t>(unit);
            panel_->TempoField().SetUnit(unit);
            setup.modified = 1;
        }
        break;
    }
    case Command::kRandomize:
        controller.Randomize();
        break;
    case Command::kKillAllSound:
        parts_.sound.SilenceAll();
        break;
    case Command::kSoundOutput:
        parts_.window.ChooseSoundOutput();
        break;
    case Command::kLink: {
        const bool on = !parts_.window.IsLinkOn();
        if (on && parts_.window.IsJackTransportOn()) {
            parts_.window.SetJackTransportOn(false);
            PersistedSettings::WriteJackTransportSetting(parts_.settings, false);
            parts_.gate.ShowNotice(kJackTransportCleared);
        }
        parts_.window.SetLinkOn(on);
        PersistedSettings::WriteLinkSetting(parts_.settings, on);
        break;
    }
    case Command::kJackTransport: {
        const bool on = !parts_.window.IsJackTransportOn();
        if (on && parts_.window.IsLinkOn()) {
            parts_.window.SetLinkOn(false);
            PersistedSettings::WriteLinkSetting(parts_.settings, false);
            parts_.gate.ShowNotice(kLinkCleared);
        }
        // Kept as chosen, even when no JACK server answers now.
        parts_.window.SetJackTransportOn(on);
        PersistedSettings::WriteJackTransportSetting(parts_.settings, on);
        break;
    }
    case Command::kMidiOutput:
        parts_.window.ChooseMidi();
        break;
    default:
        break;
    }
    return true;
}

} // namespace mb
