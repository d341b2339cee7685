#include "panel/WidgetPanel.h"

#include <algorithm>

#include <QPainter>
#include <QWidget>

#include "model/Setup.h"
#include "model/StepParam.h"
#include "widgets/OwnerWindow.h"
#include "widgets/SystemColors.h"
#include "widgets/TenthPointFont.h"

namespace mb {

namespace {

static constexpr const char* kPushCursor = "PUSHCUR";
static constexpr int kMasterVolumeMaximum = 100;
static constexpr int kMasterVolumeCtrlStep = 10;
static constexpr int kEMinimum = -59;
static constexpr int kEMaximum = 67;
static constexpr int kECtrlStep = 12;
// Both master dials are asked for 100 at start; E's range makes it 67.
static constexpr int kFirstMasterValue = 100;
static constexpr int kSwatchLeft = 200;
static constexpr int kSwatchTop = 5;
static constexpr int kSwatchSize = 20;

// A master dial: a vertical bar over an arrow pair, no number field.
MDial::Layout MasterLayout(int minimum, int maximum, int ctrlStep) {
    MDial::Layout l;
    l.upName = "UPARROW";
    l.upDy = 144;
    l.downName = "DNARROW";
    l.downDy = 153;
    l.minimum = minimum;
    l.maximum = maximum;
    l.ctrlStep = ctrlStep;
    l.sliderWidth = 6;
    l.sliderHeight = 135;
    l.thumbWidth = 2;
    return l;
}

} // namespace

WidgetPanel::WidgetPanel(OwnerWindow& owner, Setup& setup) : owner_(owner), setup_(setup) {
    QWidget* window = owner_.NativeWindow();
    textFont_ = TenthPointFont(kTextFace, kTextSize, window->logicalDpiY());
    scheme_.SetBase(SystemColors::Highlight());
    textBrush_ = QBrush(ToQColor(scheme_.GetColor(2)));

    // Created right to left: the later a widget is created, the higher it lies.
    for (int k = kColumnCount - 1; k >= 0; --k) {
        auto column = std::make_unique<MStepColumn>();
        column->Create(kFirstColumnId + kColumnIdStep * k, std::to_string(k + 1),
                       kColumnsLeft + kColumnPitch * k, kColumnTop, &owner_);
        column->ShareTextResources(textFont_, textBrush_);
        columns_[static_cast<size_t>(k)] = std::move(column);
    }

    background_.Create(kBackgroundId, "GLOBALBMP", 0, 0, &owner_, "GLOBALBMP");

    playButton_.Create(kPlayButtonId, "PLAYBTN", 36, 60, &owner_, "PLAYUP", "PLAYDN");
    playButton_.SetCursorName(kPushCursor);
    playButton_.SetState(false);

    muteButton_.Create(kMuteButtonId, "MUTEBTN", 40, 92, &owner_, "ONOFFUP", "ONOFFDN");
    muteButton_.SetCursorName(kPushCursor);
    muteButton_.SetState(true);

    tempoField_.Create(kTempoFieldId, 18, 146, &owner_);
    tempoField_.SetTransparent(false);
    tempoField_.SetImmediate(false);

    masterDialM_.Create(kMasterDialMId, 2, 2,
                        MasterLayout(0, kMasterVolumeMaximum, kMasterVolumeCtrlStep), &owner_);
    masterDialM_.HideField();
    masterDialM_.SetValue(kFirstMasterValue);

    masterDialE_.Create(kMasterDialEId, 10, 2, MasterLayout(kEMinimum, kEMaximum, kECtrlStep),
                        &owner_);
    masterDialE_.HideField();
    masterDialE_.SetValue(kFirstMasterValue);

    menuBar_ = std::make_unique<MenuBar>("menu", 22, 4, &owner_);

    loopStrip_.Create(kLoopStripId, "LOOPSCTRL", 79, 0, &owner_, kLoopButtonCount, false);

    statusField_.Create(kStatusFieldId, &owner_, scheme_.GetColor(1), scheme_.GetColor(2), 30, 171,
                        300, 15, "left");
    statusField_.SetTabStop(false);

    for (int i = 1; i <= kSwatchCount; ++i)
        Swatch(i).Create(0, "", kSwatchLeft + kSwatchSize * (i - 1), kSwatchTop, kSwatchSize,
                         kSwatchSize, &owner_);
    for (int i = 1; i <= kSwatchCount; ++i)
        Swatch(i).Hide();

    tempoField_.Field().setToolTip(QString::fromStdString(ToolTipOf(kTempoFieldId)));
    for (int k = 0; k < kColumnCount; ++k)
        for (int code : {kParamPitch, kParamSound})
            Column(k).Dial(code)->Field().setToolTip(
                QString::fromStdString(ToolTipOf(kFirstColumnId + kColumnIdStep * k + code)));

    loopPopup_.Create(window, setup_);
    loopPopup_.SetScheme(scheme_);
    ready_ = true;
}

WidgetPanel::~WidgetPanel() = default;

void WidgetPanel::ApplyColor(Color base) {
    base_ = base;
    scheme_.SetBase(base);
    auto c = [this](int n) { return scheme_.GetColor(n); };
    auto text = [this](Color ink, Color paper) {
        return highContrast_ ? ColorScheme::ReadableInk(ink, paper) : ink;
    };
    // The fields switch to the new brush below; the old one lives on in QBrush's sharing
    // until the last field has let go of it.
    textBrush_ = QBrush(ToQColor(c(5)));
    for (auto& column : columns_) {
        column->SetHighContrast(highContrast_);
        column->ApplyColor(base);
        column->ShareTextResources(textFont_, textBrush_);
    }
    // The picture's words (the name, PLAY, SOUND, TEMPO, M, E, T) are its ink.
    background_.SetColors(text(c(5), c(7)), c(7));
    playButton_.SetColors(c(1), c(2), c(4), c(6));
    muteButton_.SetColors(c(6), c(5), c(4), c(6));
    tempoField_.SetColors(c(6), c(4), text(c(4), c(6)), c(6), 0, 0, 0);
    masterDialM_.SetColors(c(6), c(4), c(4), c(6), c(6), c(4), c(2));
    masterDialE_.SetColors(c(6), c(4), c(4), c(6), c(6), c(4), c(2));
    loopStrip_.SetColors(text(c(5), c(7)), c(7), text(c(5), c(2)), c(2), text(c(1), c(3)), c(3),
                         text(c(1), c(3)), c(3), c(2));
    menuBar_->ApplyColor(base, highContrast_);
    loopPopup_.SetScheme(scheme_, highContrast_);
    statusField_.SetColors(text(c(1), c(2)), c(2));
    for (int i = 1; i <= kSwatchCount; ++i)
        Swatch(i).SetColors(c(i), c(i));
}

void WidgetPanel::FitColumnsToWidth() {
    const int n = (owner_.NativeWindow()->width() - kColumnsLeft) / kColumnPitch;
    if (n < 1 || n > kColumnCount)
        return;
    for (int k = 0; k < kColumnCount; ++k) {
        MStepColumn& column = Column(k);
        if (k < n) {
            if (!column.IsVisible())
                column.Show();
        } else {
            column.Hide();
        }
    }
    setup_.stepCount = n;
    if (StepOf(mark_) >= n)
        SetMark(kNoMark);
}

void WidgetPanel::ResizeToColumns(int n) {
    n = std::clamp(n, 1, kColumnCount);
    // The window keeps its place; only its client size changes.
    owner_.NativeWindow()->resize(kColumnPitch * n + kWidthBeyondColumns, kHeight);
    FitColumnsToWidth();
}

int WidgetPanel::StepOf(int id) {
    const int relative = id - kFirstColumnId;
    return relative >= 0 && relative < kColumnCount * kColumnIdStep ? relative / kColumnIdStep : -1;
}

void WidgetPanel::SetHighContrast(bool on) {
    if (on == highContrast_)
        return;
    highContrast_ = on;
    ApplyColor(base_);
}

namespace {

// Two rings, one pixel each, around the control.
constexpr int kMarkRings = 2;

Rect Outset(const Rect& r, int d) {
    return {r.left - d, r.top - d, r.right + d, r.bottom + d};
}

// The parts of a dial that show.
Rect ShownParts(MDial& dial) {
    Rect r;
    if (dial.UpArrow().IsVisible())
        r = r.United(dial.UpArrow().GetRect()).United(dial.DownArrow().GetRect());
    if (!dial.Field().isHidden())
        r = r.United(dial.Field().GetRect());
    if (dial.Slider().IsVisible())
        r = r.United(dial.Slider().GetRect());
    return r;
}

// The height of a step's letters (P, I, S, D) above their controls.
constexpr int kLetterHeight = 9;

constexpr int kColumnCodes[] = {kParamOn,     kParamPitch, kParamSound,
                                kParamVolume, kParamPan,   kParamDValue};

} // namespace

std::vector<int> WidgetPanel::MarkOrder() {
    std::vector<int> order = {
        kMasterDialMId,          kMasterDialEId, MenuBar::kFileButtonId, MenuBar::kEditButtonId,
        MenuBar::kThirdButtonId, kPlayButtonId,  kMuteButtonId,          kTempoFieldId};
    for (int i = 0; i < kLoopButtonCount; ++i)
        order.push_back(kLoopStripId + 1 + i);
    for (int k = 0; k < kColumnCount && Column(k).IsVisible(); ++k)
        for (int code : kColumnCodes)
            order.push_back(kFirstColumnId + kColumnIdStep * k + code);
    return order;
}

Rect WidgetPanel::MarkRect(int id) {
    switch (id) {
    case kMasterDialMId:
        return ShownParts(masterDialM_);
    case kMasterDialEId:
        return ShownParts(masterDialE_);
    case MenuBar::kFileButtonId:
        return menuBar_->FileButton().GetRect();
    case MenuBar::kEditButtonId:
        return menuBar_->EditButton().GetRect();
    case MenuBar::kThirdButtonId:
        return menuBar_->ThirdButton().GetRect();
    case kPlayButtonId:
        return playButton_.GetRect();
    case kMuteButtonId:
        return muteButton_.GetRect();
    case kTempoFieldId:
        return ShownParts(tempoField_);
    default:
        break;
    }
    if (id > kLoopStripId && id <= kLoopStripId + kLoopButtonCount)
        return loopStrip_.ButtonRect(id - kLoopStripId - 1);
    const int relative = id - kFirstColumnId;
    if (relative < 0 || relative >= kColumnCount * kColumnIdStep)
        return {};
    MStepColumn& column = Column(relative / kColumnIdStep);
    const int code = relative % kColumnIdStep;
    if (code == kParamOn)
        return column.Toggle().GetRect();
    MDial* dial = column.Dial(code);
    return dial != nullptr ? ShownParts(*dial) : Rect{};
}

MDial* WidgetPanel::DialOf(int id) {
    switch (id) {
    case kMasterDialMId:
        return &masterDialM_;
    case kMasterDialEId:
        return &masterDialE_;
    case kTempoFieldId:
        return &tempoField_;
    default:
        break;
    }
    const int relative = id - kFirstColumnId;
    if (relative < 0 || relative >= kColumnCount * kColumnIdStep)
        return nullptr;
    return Column(relative / kColumnIdStep).Dial(relative % kColumnIdStep);
}

QPoint WidgetPanel::MarkMenuPoint() {
    const Rect r = MarkRect(mark_);
    return owner_.NativeWindow()->mapToGlobal(QPoint(r.left, r.bottom));
}

std::string WidgetPanel::ToolTipOf(int id) {
    static constexpr const char* kMarkKeys = "; with the keyboard mark (Tab) Up and Down";
    switch (id) {
    case kMasterDialMId:
        return std::string("M: master volume (drag or arrows") + kMarkKeys +
               "; right click: back to the start value)";
    case kMasterDialEId:
        return std::string("E: the E dial, whose use the E Dial menu chooses (Transpose: every "
                           "step's pitch) (drag or arrows") +
               kMarkKeys + "; right click: back to the start value)";
    case kTempoFieldId:
        return std::string("T: tempo, in beats per minute or samples per measure as the menu "
                           "says (arrows: a semitone, with Ctrl an octave; type and press Enter") +
               kMarkKeys + ", Page Up and Page Down an octave)";
    case kPlayButtonId:
        return "Play or stop (Space)";
    case kMuteButtonId:
        return "Sound on or off (Ctrl+M)";
    case MenuBar::kFileButtonId:
        return "File menu: setups, sounds, export, colour (Alt+F or F10)";
    case MenuBar::kEditButtonId:
        return "Edit menu: undo, copy, paste and shift the measure (Alt+E)";
    case MenuBar::kThirdButtonId:
        return "Settings menu: playing, tempo unit, sound and MIDI output, view, D and E dials "
               "(Alt+M)";
    default:
        break;
    }
    if (id > kLoopStripId && id <= kLoopStripId + kLoopButtonCount) {
        const std::string n = std::to_string(id - kLoopStripId);
        return "Loop " + n + ": click to edit it; while playing, key " + n +
               " plays it next (right click or the Menu key: its next loop, repeats and swing)";
    }
    const int relative = id - kFirstColumnId;
    if (relative < 0 || relative >= kColumnCount * kColumnIdStep)
        return {};
    const std::string number = std::to_string(relative / kColumnIdStep + 1);
    const std::string step = " of step " + number;
    static constexpr const char* kAll = "; Shift: all played steps)";
    switch (relative % kColumnIdStep) {
    case kParamOn:
        return "Step " + number + " on or off (click; Enter or Up and Down with the " +
               "keyboard mark" + kAll;
    case kParamPitch:
        return "P: pitch" + step +
               " in semitones (arrows or type; Ctrl or Page Up and Down: " + "an octave" +
               kMarkKeys + kAll;
    case kParamSound:
        return "I: sound" + step + " (arrows or type; right click or the Menu key: the sound list" +
               kMarkKeys + kAll;
    case kParamVolume:
        return "V: volume" + step + " (drag or arrows" + kMarkKeys + kAll;
    case kParamPan:
        return "S: stereo place (pan)" + step + " (drag; right click: the middle" + kMarkKeys +
               kAll;
    case kParamDValue:
        return "D: the D dial" + step + ", whose use the D Dial menu chooses (drag" + kMarkKeys +
               kAll;
    default:
        return {};
    }
}

std::string WidgetPanel::ToolTipAt(int x, int y) {
    for (int id : MarkOrder()) {
        Rect r = MarkRect(id);
        // A step's letter lies just above its control.
        const int k = StepOf(id);
        if (k >= 0)
            r.top -= kLetterHeight;
        if (r.Contains(x, y)) {
            const std::string tip = ToolTipOf(id);
            if (k < 0)
                return tip;
            // A step's toggle names its condition too.
            const std::string condition = Column(k).ToolTipAt(x, y);
            return condition.empty() ? tip : tip + "\n" + condition;
        }
    }
    for (int k = 0; k < kColumnCount && Column(k).IsVisible(); ++k)
        if (Column(k).Label().GetRect().Contains(x, y))
            return "Step " + std::to_string(k + 1) + "; it lights while it plays";
    return {};
}

void WidgetPanel::SetMark(int id) {
    if (id == mark_)
        return;
    if (mark_ != kNoMark)
        owner_.Invalidate(Outset(MarkRect(mark_), kMarkRings));
    mark_ = id;
    if (mark_ != kNoMark)
        owner_.Invalidate(Outset(MarkRect(mark_), kMarkRings));
    if (onFocusMoved)
        onFocusMoved(mark_);
}

void WidgetPanel::MoveMark(MarkMove how) {
    const std::vector<int> order = MarkOrder();
    const auto at = std::find(order.begin(), order.end(), mark_);
    const bool back = how == kMarkPrevious || how == kMarkLeft;
    if (at == order.end()) {
        SetMark(back ? order.back() : order.front());
        return;
    }
    const auto index = at - order.begin();
    const bool inColumn = StepOf(mark_) >= 0;
    if ((how == kMarkLeft || how == kMarkRight) && inColumn) {
        // The same control of the step beside; the first and the last step keep it.
        const int beside = mark_ + (back ? -kColumnIdStep : kColumnIdStep);
        if (std::find(order.begin(), order.end(), beside) != order.end())
            SetMark(beside);
        return;
    }
    const auto count = static_cast<std::ptrdiff_t>(order.size());
    SetMark(order[static_cast<size_t>((index + (back ? count - 1 : 1)) % count)]);
}

void PaintKeyboardMark(QPainter& painter, const Rect& around, std::span<const Color> colours) {
    if (colours.empty())
        return;
    const Color black = MakeColor(0, 0, 0);
    Color dark = colours.front();
    Color light = dark;
    for (const Color c : colours) {
        if (ColorScheme::Contrast(c, black) < ColorScheme::Contrast(dark, black))
            dark = c;
        if (ColorScheme::Contrast(c, black) > ColorScheme::Contrast(light, black))
            light = c;
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int d = 1; d <= kMarkRings; ++d) {
        const QRect q = Outset(around, d).ToQRect();
        const QColor colour = ToQColor(d == kMarkRings ? dark : light);
        // Four one-pixel bars: whole pixels at every integer scale.
        painter.fillRect(QRect(q.left(), q.top(), q.width(), 1), colour);
        painter.fillRect(QRect(q.left(), q.bottom(), q.width(), 1), colour);
        painter.fillRect(QRect(q.left(), q.top(), 1, q.height()), colour);
        painter.fillRect(QRect(q.right(), q.top(), 1, q.height()), colour);
    }
}

void WidgetPanel::PaintMark(QPainter& painter) {
    if (mark_ == kNoMark)
        return;
    std::array<Color, ColorScheme::kColorCount> colours;
    for (int n = 1; n <= ColorScheme::kColorCount; ++n)
        colours[static_cast<size_t>(n - 1)] = scheme_.GetColor(n);
    PaintKeyboardMark(painter, MarkRect(mark_), colours);
}

void WidgetPanel::ShowLoopPopup(int index) {
    if (index < 0 || index >= loopStrip_.GetCount())
        return;
    const Rect button = loopStrip_.ButtonRect(index);
    const QPoint corner = owner_.NativeWindow()->mapToGlobal(QPoint(button.right, button.top));
    loopPopup_.ShowFor(corner.x(), corner.y() - 1, index);
}

void WidgetPanel::ShowStatusText(const std::string& text) {
    statusField_.SetTextQuiet(text);
}

void WidgetPanel::SetPlayButton(bool state) {
    playButton_.SetState(state);
}

bool WidgetPanel::IsSoundOn() const {
    return muteButton_.GetState();
}

void WidgetPanel::SetStepLit(int column, bool lit) {
    if (column >= 0 && column < kColumnCount)
        Column(column).SetLit(lit);
}

void WidgetPanel::SetPlayingLoop(int loop) {
    loopStrip_.SetPlaying(loop);
}

} // namespace mb
