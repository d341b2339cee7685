#include "panel/MStepColumn.h"

#include "model/StepParam.h"

namespace mb {

namespace {

static constexpr const char* kToggleUp = "ONOFFUP";
static constexpr const char* kToggleDown = "ONOFFDN";
static constexpr const char* kToggleCursor = "PUSHCUR";
static constexpr const char* kArrow = "UPARROW";
static constexpr const char* kDownArrow = "DNARROW";
static constexpr int kValueMaximum = 127;
static constexpr int kPitchMinimum = -59;
static constexpr int kPitchMaximum = 67;
static constexpr int kPitchCtrlStep = 12;
static constexpr int kValueCtrlStep = 10;
static constexpr int kSliderCtrlStep = 18;
static constexpr int kFirstVolume = 100;
// The sound list is numbered from 1 on screen.
static constexpr int kSoundDisplayOffset = 1;
// The conditional mark: a square left of the toggle, clear of the skin's frame.
static constexpr int kMarkDx = 5;
static constexpr int kMarkDy = 36;
static constexpr int kMarkSize = 3;

// How a condition reads in a tooltip, after "Plays ".
std::string ConditionName(const StepCondition& c) {
    switch (c.kind) {
    case StepCondition::kFirst:
        return "on the first pass";
    case StepCondition::kNotFirst:
        return "on every pass but the first";
    case StepCondition::kLast:
        return "on the last repeat (a fill)";
    case StepCondition::kNotLast:
        return "on every pass but the last repeat";
    case StepCondition::kPrevious:
        return "when the previous conditional step played";
    case StepCondition::kNotPrevious:
        return "when the previous conditional step did not play";
    case StepCondition::kRatio:
        return "on pass " + std::to_string(c.a) + " of every " + std::to_string(c.b);
    default:
        return "always";
    }
}

// Arrows beside a number field, as the pitch and sound dials have them.
MDial::Layout NumberLayout(int minimum, int maximum, int ctrlStep) {
    MDial::Layout l;
    l.upName = kArrow;
    l.downName = kDownArrow;
    l.downDy = 9;
    l.fieldDx = 7;
    l.fieldDy = 2;
    l.fieldWidth = 21;
    l.fieldHeight = 15;
    l.minimum = minimum;
    l.maximum = maximum;
    l.ctrlStep = ctrlStep;
    return l;
}

// A bare horizontal bar, as the pan and D dials have it.
MDial::Layout BarLayout(int thumbWidth) {
    MDial::Layout l;
    l.minimum = 0;
    l.maximum = kValueMaximum;
    l.ctrlStep = kSliderCtrlStep;
    l.sliderWidth = 27;
    l.sliderHeight = 7;
    l.thumbWidth = thumbWidth;
    l.horizontal = true;
    return l;
}

} // namespace

MStepColumn::MStepColumn() = default;

MStepColumn::~MStepColumn() = default;

void MStepColumn::Create(int id, const std::string& caption, int x, int y, WidgetOwner* owner) {
    skin_.SetName(kSkinName);
    const QSize size = skin_.GetSize();
    MWnd::CreateInRect(id, caption, x, y, x + size.width(), y + size.height(), owner);

    label_.Create(id, caption, x + 12, y + 2, 23, 16, owner);

    toggle_.Create(id + kParamOn, "", x + 12, y + 30, owner, kToggleUp, kToggleDown);
    toggle_.SetCursorName(kToggleCursor);
    toggle_.SetState(true);

    pitchDial_.Create(id + kParamPitch, x + 1, y + 63,
                      NumberLayout(kPitchMinimum, kPitchMaximum, kPitchCtrlStep), owner);
    pitchDial_.SetImmediate(true);

    soundDial_.Create(id + kParamSound, x + 1, y + 96,
                      NumberLayout(0, kValueMaximum, kValueCtrlStep), owner);
    soundDial_.SetImmediate(true);
    soundDial_.SetDisplayOffset(kSoundDisplayOffset);

    MDial::Layout volume;
    volume.upName = kArrow;
    volume.upDy = 115;
    volume.downName = kDownArrow;
    volume.downDy = 124;
    volume.minimum = 0;
    volume.maximum = kValueMaximum;
    volume.ctrlStep = kValueCtrlStep;
    volume.sliderWidth = 6;
    volume.sliderHeight = 115;
    volume.thumbWidth = 2;
    volumeDial_.Create(id + kParamVolume, x + 30, y + 19, volume, owner);
    volumeDial_.HideField();
    volumeDial_.SetValue(kFirstVolume);

    panDial_.Create(id + kParamPan, x + 2, y + 130, BarLayout(5), owner);
    panDial_.HideField();
    panDial_.SetValue(kCentrePan);
    panDial_.HideArrows();

    dDial_.Create(id + kParamDValue, x + 2, y + 153, BarLayout(2), owner);
    dDial_.HideField();
    dDial_.SetValue(kCentrePan);
    dDial_.HideArrows();

    created_ = true;
    // The column was registered before it could attach; it starts attached and shown.
    SetAttached(true);
    Show();
}

void MStepColumn::Paint(Canvas& dc) {
    const Rect rect = GetRect();
    if (!IsVisible() || !dc.RectVisible(rect))
        return;
    skin_.Draw(dc, GetInk(), GetPaper(), rect.left, rect.top);
    if (condition_.kind != StepCondition::kAlways) {
        // A conditional step: a small square in the skin's ink left of the toggle.
        const Rect mark{rect.left + kMarkDx, rect.top + kMarkDy, rect.left + kMarkDx + kMarkSize,
                        rect.top + kMarkDy + kMarkSize};
        dc.FillRect(mark, GetInk());
    }
    dc.ExcludeClipRect(rect);
}

void MStepColumn::SetCondition(const StepCondition& condition) {
    if (condition == condition_)
        return;
    condition_ = condition;
    InvalidateOwner();
}

std::string MStepColumn::ToolTipAt(int x, int y) const {
    const Rect r = toggle_.GetRect();
    if (!IsVisible() || x < r.left || x >= r.right || y < r.top || y >= r.bottom)
        return {};
    if (condition_.kind == StepCondition::kAlways)
        return "Plays always (right click: condition)";
    return "Plays " + ConditionName(condition_) + " (right click: condition)";
}

void MStepColumn::Show() {
    if (!created_)
        return;
    label_.Show();
    toggle_.Show();
    pitchDial_.Show();
    soundDial_.Show();
    volumeDial_.Show();
    panDial_.Show();
    dDial_.Show();
    MWnd::Show();
}

void MStepColumn::Hide() {
    if (!created_)
        return;
    label_.Hide();
    toggle_.Hide();
    pitchDial_.Hide();
    soundDial_.Hide();
    volumeDial_.Hide();
    panDial_.Hide();
    dDial_.Hide();
    MWnd::Hide();
}

void MStepColumn::SetAttached(bool flag) {
    if (!created_)
        return;
    label_.SetAttached(flag);
    toggle_.SetAttached(flag);
    pitchDial_.SetAttached(flag);
    soundDial_.SetAttached(flag);
    volumeDial_.SetAttached(flag);
    panDial_.SetAttached(flag);
    dDial_.SetAttached(flag);
    MWnd::SetAttached(flag);
}

MDial* MStepColumn::Dial(int code) {
    switch (code) {
    case kParamPitch:
        return &pitchDial_;
    case kParamSound:
        return &soundDial_;
    case kParamVolume:
        return &volumeDial_;
    case kParamPan:
        return &panDial_;
    case kParamDValue:
        return &dDial_;
    default:
        return nullptr;
    }
}

MWnd* MStepColumn::Child(int code) {
    if (code == kParamOn)
        return &toggle_;
    return Dial(code);
}

void MStepColumn::SetItem(int code, int value) {
    if (code == kParamOn) {
        toggle_.SetState(value != 0);
        return;
    }
    if (MDial* dial = Dial(code))
        dial->SetValue(value);
}

int MStepColumn::GetItem(int code) {
    if (code == kParamOn)
        return toggle_.GetState() ? 1 : 0;
    if (MDial* dial = Dial(code))
        return dial->ReadValue();
    return 0;
}

void MStepColumn::OnChildEvent(int id) {
    const int relative = id - GetId();
    // Relative ids 20 to 25 belong to the pitch dial, 30 to 35 to the sound dial, ...
    const int code = relative / 10 * 10;
    if (relative - code > MDial::kIdSpan)
        return;
    if (MDial* dial = Dial(code))
        dial->OnChild(id);
}

void MStepColumn::ApplyColor(Color base) {
    scheme_.SetBase(base);
    auto c = [this](int n) { return scheme_.GetColor(n); };
    // The skin's letters (P, I, S, D, V) are its ink.
    SetInk(highContrast_ ? ColorScheme::ReadableInk(c(5), c(2)) : c(5));
    SetPaper(c(2));
    toggle_.SetColors(c(1), c(2), c(1), c(3));
    // The fields' paper is the panel's shared brush, colour 5.
    const Color digits = highContrast_ ? ColorScheme::ReadableInk(c(7), c(5)) : c(7);
    pitchDial_.SetColors(c(1), c(3), digits, c(5), 0, 0, 0);
    soundDial_.SetColors(c(1), c(3), digits, c(5), 0, 0, 0);
    volumeDial_.SetColors(c(1), c(3), c(7), c(5), c(1), kNoColor, c(6));
    panDial_.SetColors(c(1), c(3), c(7), c(5), c(1), c(1), c(3));
    dDial_.SetColors(c(1), c(3), c(7), c(5), c(1), c(2), c(6));
    SetLit(false);
    Show();
}

void MStepColumn::ShareTextResources(const QFont& font, const QBrush& brush) {
    pitchDial_.ShareTextResources(font, brush);
    soundDial_.ShareTextResources(font, brush);
    volumeDial_.ShareTextResources(font, brush);
    panDial_.ShareTextResources(font, brush);
    dDial_.ShareTextResources(font, brush);
}

void MStepColumn::SetLit(bool flag) {
    lit_ = flag;
    const Color paper = scheme_.GetColor(flag ? 7 : 5);
    const Color ink = scheme_.GetColor(flag ? 2 : 6);
    label_.SetColors(highContrast_ ? ColorScheme::ReadableInk(ink, paper) : ink, paper);
}

} // namespace mb
