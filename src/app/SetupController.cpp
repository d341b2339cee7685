#include "app/SetupController.h"

#include <algorithm>
#include <cstdlib>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QWidget>

#include "dialogs/Prompts.h"
#include "engine/Sequencer.h"
#include "engine/SoundEngine.h"
#include "files/DocumentWindow.h"
#include "files/SetupDocument.h"
#include "files/SoundFolder.h"
#include "model/Groove.h"
#include "model/Setup.h"
#include "model/StepParam.h"
#include "panel/WidgetPanel.h"

namespace mb {

SetupController::SetupController(Prompts& prompts)
    : prompts_(prompts), random_([] { return std::rand(); }) {}

SetupController::~SetupController() = default;

void SetupController::Init(WidgetPanel& panel,
                           Setup& setup,
                           DocumentWindow& window,
                           const QWidget& focusScope,
                           Sequencer& sequencer,
                           SoundEngine& soundEngine) {
    panel_ = &panel;
    setup_ = &setup;
    focusScope_ = &focusScope;
    sequencer_ = &sequencer;
    soundEngine_ = &soundEngine;
    // A swing edited in the loop popup can be undone like any other edit.
    panel.GetLoopPopup().OnSwingEdit([this] { TakeUndoSnapshot(); });
    sounds_ = std::make_unique<SoundFolder>(setup, soundEngine, prompts_,
                                            [this] { document_->UpdateCaption(); });
    document_ = std::make_unique<SetupDocument>(setup, prompts_, *sounds_, window);
    if (!modifiers_) {
        modifiers_ = [] {
            const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
            return Modifiers{(held & Qt::ShiftModifier) != 0, (held & Qt::AltModifier) != 0};
        };
    }
    LoadLoopIntoColumns(0);
    initialised_ = true;
}

int SetupController::ColumnOf(int id) {
    const int relative = id - WidgetPanel::kFirstColumnId;
    if (relative < 0)
        return -1;
    const int k = relative / WidgetPanel::kColumnIdStep;
    if (k >= WidgetPanel::kColumnCount || relative % WidgetPanel::kColumnIdStep > kParamDValue + 10)
        return -1;
    return k;
}

void SetupController::LoadLoopIntoColumns(int n) {
    static constexpr int kCodes[] = {kParamOn,     kParamPitch, kParamSound,
                                     kParamVolume, kParamPan,   kParamDValue};
    const Loop& loop = setup_->loop(n);
    for (int k = 0; k < WidgetPanel::kColumnCount; ++k) {
        MStepColumn& column = panel_->Column(k);
        // A hidden column is filled detached, so that filling it does not show it.
        if (!column.IsVisible())
            column.SetAttached(false);
        for (int code : kCodes)
            column.SetItem(code, loop.steps[static_cast<size_t>(k)].GetParam(code));
        column.SetCondition(StepCondition::FromCode(loop.steps[static_cast<size_t>(k)].condition));
        column.SetAttached(true);
    }
}

void SetupController::SelectLoop(int n) {
    setup_->selectedLoop = static_cast<int16_t>(n);
    panel_->LoopStrip().Select(n);
    LoadLoopIntoColumns(n);
}

void SetupController::SetTempo(double bpm) {
    setup_->bpm = MendTempo(bpm).bpm;
    panel_->TempoField().SetTempo(setup_->bpm);
    TempoStored();
}

void SetupController::TempoStored() {
    // The observer first: a step clock that follows a shared session looks at the
    // session's new tempo when it wakes.
    if (tempoObserver_)
        tempoObserver_(setup_->bpm);
    if (sequencer_->running())
        sequencer_->TempoChanged();
}

void SetupController::SetMasterVolume(int v) {
    setup_->masterVolume = static_cast<int16_t>(v);
    panel_->MasterDialM().SetValue(v);
}

void SetupController::SetEValue(int v) {
    setup_->eValue = static_cast<int16_t>(v);
    panel_->MasterDialE().SetValue(v);
}

void SetupController::ShowValue(int n) {
    panel_->ShowStatusText(std::to_string(n));
}

void SetupController::OnWidgetPress(int id) {
    const bool passive = id == WidgetPanel::kBackgroundId || id == MenuBar::kFileButtonId ||
                         id == MenuBar::kEditButtonId || id == MenuBar::kThirdButtonId ||
                         (id >= WidgetPanel::kLoopStripId &&
                          id <= WidgetPanel::kLoopStripId + WidgetPanel::kLoopButtonCount);
    if (!passive)
        TakeUndoSnapshot();
}

void SetupController::OnWidgetChange(int id) {
    if (const int k = ColumnOf(id); k >= 0) {
        panel_->Column(k).OnChildEvent(id);
        const int relative = id - WidgetPanel::kFirstColumnId - k * WidgetPanel::kColumnIdStep;
        ApplyStepEdit(k, relative / 10 * 10);
        return;
    }
    if (id >= WidgetPanel::kLoopStripId &&
        id <= WidgetPanel::kLoopStripId + WidgetPanel::kLoopButtonCount) {
        MLoopStrip& strip = panel_->LoopStrip();
        const int before = strip.GetSelected();
        strip.OnChild(id);
        SelectLoop(strip.GetSelected());
        if (strip.GetSelected() != before)
            setup_->modified = 1;
        sequencer_->LoopSelected(strip.GetSelected());
        return;
    }
    if (id >= WidgetPanel::kTempoFieldId && id <= WidgetPanel::kTempoFieldId + MDial::kIdSpan) {
        MTempoField& field = panel_->TempoField();
        field.OnChild(id);
        const double bpm = field.GetTempo();
        if (bpm != setup_->bpm)
            setup_->modified = 1;
        setup_->bpm = bpm;
        TempoStored();
        return;
    }
    if (id >= WidgetPanel::kMasterDialMId && id <= WidgetPanel::kMasterDialMId + MDial::kIdSpan) {
        MDial& dial = panel_->MasterDialM();
        dial.OnChild(id);
        setup_->masterVolume = static_cast<int16_t>(dial.ReadValue());
        setup_->modified = 1;
        return;
    }
    if (id >= WidgetPanel::kMasterDialEId && id <= WidgetPanel::kMasterDialEId + MDial::kIdSpan) {
        MDial& dial = panel_->MasterDialE();
        dial.OnChild(id);
        setup_->eValue = static_cast<int16_t>(dial.ReadValue());
        setup_->modified = 1;
        return;
    }
}

void SetupController::OnWidgetRightClick(int id) {
    if (id > WidgetPanel::kLoopStripId &&
        id <= WidgetPanel::kLoopStripId + WidgetPanel::kLoopButtonCount) {
        panel_->ShowLoopPopup(id - WidgetPanel::kLoopStripId - 1);
        return;
    }
    if (id >= WidgetPanel::kMasterDialMId && id <= WidgetPanel::kMasterDialMId + MDial::kIdSpan) {
        TakeUndoSnapshot();
        SetMasterVolume(kDefaultMasterVolume);
        setup_->modified = 1;
        return;
    }
    if (id >= WidgetPanel::kMasterDialEId && id <= WidgetPanel::kMasterDialEId + MDial::kIdSpan) {
        TakeUndoSnapshot();
        SetEValue(kDefaultEValue);
        setup_->modified = 1;
        return;
    }
    const int k = ColumnOf(id);
    if (k < 0)
        return;
    const int code = (id - WidgetPanel::kFirstColumnId - k * WidgetPanel::kColumnIdStep) / 10 * 10;
    if (code == kParamPan) {
        TakeUndoSnapshot();
        setup_->loop(setup_->selectedLoop).steps[static_cast<size_t>(k)].pan = kCentrePan;
        panel_->Column(k).SetItem(kParamPan, kCentrePan);
        ApplyStepEdit(k, kParamPan);
    }
}

void SetupController::ApplyStepEdit(int k, int code) {
    const int loopIndex = setup_->selectedLoop;
    Loop& loop = setup_->loop(loopIndex);
    MStepColumn& column = panel_->Column(k);
    const int now = column.GetItem(code);
    const int old = loop.steps[static_cast<size_t>(k)].GetParam(code);
    loop.steps[static_cast<size_t>(k)].SetParam(code, now);
    if (code == kParamSound)
        AssignVoice(loopIndex, k, now);
    const int delta = now - old;

    const Modifiers held = modifiers_();
    if (held.shift) {
        const int count = setup_->stepCount;
        for (int i = 0; i < count && i < WidgetPanel::kColumnCount; ++i) {
            if (i == k)
                continue;
            Step& step = loop.steps[static_cast<size_t>(i)];
            MStepColumn& other = panel_->Column(i);
            int v = now;
            if (held.alt) {
                other.SetItem(code, now);
            } else {
                const int h = step.GetParam(code);
                other.SetItem(code, code == kParamOn ? (h == 0 ? 1 : 0) : h + delta);
                // The control keeps the value inside its range.
                v = other.GetItem(code);
            }
            step.SetParam(code, v);
            if (code == kParamSound)
                AssignVoice(loopIndex, i, v);
        }
    }
    ShowValue(now);
    setup_->modified = 1;
}

void SetupController::AssignVoice(int loop, int step, int sound) {
    soundEngine_->AssignVoice(loop, step, sound);
}

void SetupController::AssignAllVoices() {
    const int l = setup_->selectedLoop;
    for (int i = 0; i < kStepsPerLoop; ++i)
        AssignVoice(l, i, setup_->loop(l).steps[static_cast<size_t>(i)].sound);
}

void SetupController::TakeUndoSnapshot() {
    mb::TakeUndoSnapshot(*setup_);
}

void SetupController::ShowGlobalValues() {
    SetTempo(setup_->bpm);
    SetMasterVolume(setup_->masterVolume);
    SetEValue(setup_->eValue);
    panel_->MuteButton().SetState(setup_->muted == 0);
}

void SetupController::UndoEdit() {
    // Before the first snapshot there is nothing to go back to: Undo does nothing.
    if (setup_->undoLoop < 0)
        return;
    if (ExchangeWithUndo(*setup_)) {
        AssignAllVoices();
        LoadLoopIntoColumns(setup_->selectedLoop);
    }
    ShowGlobalValues();
}

void SetupController::CopyMeasure() {
    if (auto* field = qobject_cast<QLineEdit*>(focusScope_->focusWidget());
        field != nullptr && field->hasSelectedText()) {
        field->copy();
        return;
    }
    Loop& copy = setup_->copyBuffer();
    CopySteps(setup_->undoBuffer(), copy);
    CopySteps(copy, setup_->loop(setup_->selectedLoop));
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) {
        prompts_.ShowNote(kCouldNotCopy);
        return;
    }
    const std::vector<uint8_t> block = EncodeMeasure(copy);
    auto* data = new QMimeData;
    data->setData(kMeasureMimeType, QByteArray(reinterpret_cast<const char*>(block.data()),
                                               static_cast<qsizetype>(block.size())));
    clipboard->setMimeData(data);
}

void SetupController::PasteMeasure() {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard != nullptr ? clipboard->mimeData() : nullptr;
    if (data == nullptr || !data->hasFormat(kMeasureMimeType)) {
        if (auto* field = qobject_cast<QLineEdit*>(focusScope_->focusWidget()))
            field->paste();
        return;
    }
    const QByteArray bytes = data->data(kMeasureMimeType);
    // A damaged block is refused before anything changes, the undo point included.
    if (bytes.size() < kMeasureBytes) {
        prompts_.ShowNote(kMeasureTooShort);
        return;
    }
    TakeUndoSnapshot();
    const std::span<const uint8_t> block(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                         static_cast<size_t>(bytes.size()));
    DecodeMeasure(block, setup_->copyBuffer());
    CopySteps(setup_->loop(setup_->selectedLoop), setup_->copyBuffer());
    LoadLoopIntoColumns(setup_->selectedLoop);
    AssignAllVoices();
}

void SetupController::Randomize() {
    TakeUndoSnapshot();
    RandomizeSteps(*setup_, soundEngine_->soundCount(), random_);
    AssignAllVoices();
    LoadLoopIntoColumns(setup_->selectedLoop);
    setup_->modified = 1;
}

void SetupController::ShiftSteps(bool right) {
    mb::ShiftSteps(*setup_, right);
    const int l = setup_->selectedLoop;
    LoadLoopIntoColumns(l);
    for (int j = std::min<int>(setup_->stepCount, kStepsPerLoop) - 1; j >= 0; --j)
        AssignVoice(l, j, setup_->loop(l).steps[static_cast<size_t>(j)].sound);
    setup_->modified = 1;
}

void SetupController::ChooseSound(int k, int i) {
    const int l = setup_->selectedLoop;
    Step& step = setup_->loop(l).steps[static_cast<size_t>(k)];
    // Another sound is an edit like any other: closing asks to save it.
    if (step.GetParam(kParamSound) != i)
        setup_->modified = 1;
    AssignVoice(l, k, i);
    panel_->Column(k).SetItem(kParamSound, i);
    step.SetParam(kParamSound, i);
}

void SetupController::SetCondition(int k, int code) {
    if (k < 0 || k >= kStepsPerLoop || !StepCondition::ValidCode(code))
        return;
    Step& step = setup_->loop(setup_->selectedLoop).steps[static_cast<size_t>(k)];
    if (step.condition == code)
        return;
    TakeUndoSnapshot();
    step.condition = static_cast<int16_t>(code);
    panel_->Column(k).SetCondition(StepCondition::FromCode(code));
}

void SetupController::SetDials(int dDial, int eDial) {
    if (dDial < 0 || dDial >= kDDialCount || eDial < 0 || eDial >= kEDialCount)
        return;
    if (setup_->dDial == dDial && setup_->eDial == eDial)
        return;
    TakeUndoSnapshot();
    setup_->dDial = static_cast<int16_t>(dDial);
    setup_->eDial = static_cast<int16_t>(eDial);
}

bool SetupController::ConfirmDiscard() {
    return document_->ConfirmDiscard();
}

void SetupController::SetSessionFile(const std::string& path) {
    sessionFile_ = path;
}

bool SetupController::LeftToSession() {
    if (sessionFile_.empty())
        return false;
    prompts_.ShowNote(kUnderSession + sessionFile_ + kUnderSessionSave);
    return true;
}

void SetupController::OpenPath(const std::string& path) {
    if (!LeftToSession())
        document_->OpenPath(path);
}

void SetupController::OpenSetup() {
    if (!LeftToSession())
        document_->OpenSetup();
}

void SetupController::SaveSetup() {
    document_->SaveSetup();
}

void SetupController::SaveSetupAs() {
    if (!LeftToSession())
        document_->SaveAs();
}

void SetupController::ImportSounds() {
    sounds_->ImportSounds();
}

} // namespace mb
