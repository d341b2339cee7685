#include "panel/WidgetPanel.h"

#include <algorithm>

#include <QWidget>

#include "model/Setup.h"
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

    loopPopup_.Create(window, setup_);
    loopPopup_.SetScheme(scheme_);
    ready_ = true;
}

WidgetPanel::~WidgetPanel() = default;

void WidgetPanel::ApplyColor(Color base) {
    scheme_.SetBase(base);
    auto c = [this](int n) { return scheme_.GetColor(n); };
    // The fields switch to the new brush below; the old one lives on in QBrush's sharing
    // until the last field has let go of it.
    textBrush_ = QBrush(ToQColor(c(5)));
    for (auto& column : columns_) {
        column->ApplyColor(base);
        column->ShareTextResources(textFont_, textBrush_);
    }
    background_.SetColors(c(5), c(7));
    playButton_.SetColors(c(1), c(2), c(4), c(6));
    muteButton_.SetColors(c(6), c(5), c(4), c(6));
    tempoField_.SetColors(c(6), c(4), c(4), c(6), 0, 0, 0);
    masterDialM_.SetColors(c(6), c(4), c(4), c(6), c(6), c(4), c(2));
    masterDialE_.SetColors(c(6), c(4), c(4), c(6), c(6), c(4), c(2));
    loopStrip_.SetColors(c(5), c(7), c(5), c(2), c(1), c(3), c(1), c(3), c(2));
    menuBar_->ApplyColor(base);
    loopPopup_.SetScheme(scheme_);
    statusField_.SetColors(c(1), c(2));
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
}

void WidgetPanel::ResizeToColumns(int n) {
    n = std::clamp(n, 1, kColumnCount);
    // The window keeps its place; only its client size changes.
    owner_.NativeWindow()->resize(kColumnPitch * n + kWidthBeyondColumns, kHeight);
    FitColumnsToWidth();
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
