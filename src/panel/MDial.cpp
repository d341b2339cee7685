#include "panel/MDial.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "panel/KeyboardStateQt.h"

namespace mb {

namespace {

static constexpr const char* kCaption = "dial";
static constexpr const char* kUpCaption = "up";
static constexpr const char* kDownCaption = "dn";
static constexpr const char* kSliderCaption = "bar";
static constexpr const char* kUpSuffix = "UP";
static constexpr const char* kDownSuffix = "DN";
static constexpr const char* kUpCursor = "UPCUR";
static constexpr const char* kDownCursor = "DNCUR";
static constexpr const char* kVerticalCursor = "BARVCUR";
static constexpr const char* kHorizontalCursor = "BARHCUR";

const KeyboardState* g_keyboard = nullptr;

const KeyboardState& Keyboard() {
    static const KeyboardStateQt qtKeyboard;
    return g_keyboard != nullptr ? *g_keyboard : qtKeyboard;
}

} // namespace

int ParseLeadingInt(const std::string& text) {
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

std::optional<int> LeadingInt(const std::string& text) {
    const char* p = text.c_str();
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    if (*p < '0' || *p > '9')
        return std::nullopt;
    return ParseLeadingInt(text);
}

void MDial::SetKeyboard(const KeyboardState* keyboard) {
    g_keyboard = keyboard;
}

bool MDial::IsCtrlDown() {
    return Keyboard().IsCtrlDown();
}

MDial::MDial() = default;

MDial::~MDial() = default;

void MDial::Create(int id, int x, int y, const Layout& layout, WidgetOwner* owner) {
    dialId_ = id;
    minimum_ = layout.minimum;
    maximum_ = layout.maximum;
    ctrlStep_ = layout.ctrlStep;
    created_ = false;
    // Registered before its parts, so every part lies above it.
    MWnd::CreateInRect(id, kCaption, x, y, x, y, owner);

    up_.Create(id + kUpPart, kUpCaption, x + layout.upDx, y + layout.upDy, owner,
               layout.upName + kUpSuffix, layout.upName + kDownSuffix);
    up_.SetCursorName(kUpCursor);
    down_.Create(id + kDownPart, kDownCaption, x + layout.downDx, y + layout.downDy, owner,
                 layout.downName + kUpSuffix, layout.downName + kDownSuffix);
    down_.SetCursorName(kDownCursor);
    hasArrows_ = !layout.upName.empty();

    slider_.Create(id + kSliderPart, kSliderCaption, x + layout.sliderDx, y + layout.sliderDy,
                   layout.sliderWidth, layout.sliderHeight, owner, layout.horizontal);
    slider_.SetRange(minimum_, maximum_);
    slider_.SetThumbWidth(layout.thumbWidth);
    slider_.SetCursorName(layout.horizontal ? kHorizontalCursor : kVerticalCursor);
    hasSlider_ = layout.sliderWidth != 0 || layout.sliderHeight != 0;

    field_.Create(id + kFieldPart, owner, 0, 0, x + layout.fieldDx, y + layout.fieldDy,
                  layout.fieldWidth, layout.fieldHeight, TextField::kAlignCenter, this);
    fieldCreated_ = true;
    hasField_ = layout.fieldWidth != 0 || layout.fieldHeight != 0;

    SetRect(
        up_.GetRect().United(down_.GetRect()).United(field_.GetRect()).United(slider_.GetRect()));
    SetValue((maximum_ - minimum_) / 2);
    transparent_ = true;
    clampWhileTyping_ = false;
    created_ = true;
    displayOffset_ = 0;
    SetAttached(true);
    Show();
}

int MDial::Clamp(long long v) const {
    if (v > maximum_)
        v = maximum_;
    if (v < minimum_)
        v = minimum_;
    return static_cast<int>(v);
}

void MDial::SetValueQuiet(int v) {
    value_ = Clamp(v);
    slider_.SetValue(value_);
}

void MDial::SetValue(int v) {
    SetValueQuiet(v);
    if (!fieldCreated_)
        return;
    char text[16];
    const long long shown = static_cast<long long>(value_) + displayOffset_;
    std::snprintf(text, sizeof text, "%lld", shown);
    field_.SetTextQuiet(text);
}

int MDial::ReadValue() {
    const std::optional<int> typed = LeadingInt(field_.GetText());
    if (!typed)
        return value_;
    const long long v = static_cast<long long>(*typed) - displayOffset_;
    value_ = static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
    return value_;
}

void MDial::OnChild(int id) {
    switch (id - dialId_) {
    case kUpPart:
        StepBy(+1);
        break;
    case kDownPart:
        StepBy(-1);
        break;
    case kSliderPart:
        SetValue(slider_.GetValue());
        break;
    default:
        break;
    }
}

void MDial::Step(int delta, bool large) {
    long long d = static_cast<int16_t>(delta);
    if (large)
        d *= ctrlStep_;
    // The arrows report on their release, so the button is already up: no wait is needed
    // before the step shows.
    SetValue(Clamp(static_cast<long long>(value_) + d));
}

void MDial::OnFieldText(const std::string& text) {
    const std::optional<int> typed = LeadingInt(text);
    // No number (yet): the value stays until one is typed.
    if (!clampWhileTyping_ || !typed)
        return;
    long long v = static_cast<long long>(*typed) - displayOffset_;
    if (v > maximum_) {
        v = maximum_;
        SetValue(maximum_);
    }
    if (v < minimum_) {
        v = minimum_;
        SetValue(minimum_);
    }
    SetValueQuiet(static_cast<int>(v));
}

void MDial::OnFieldLeave() {
    // SetValue clamps: an out-of-range number becomes the nearer end, and the text loses
    // leading zeros and stray characters.
    SetValue(ReadValue());
}

void MDial::Paint(Canvas& dc) {
    if (!transparent_)
        MWnd::Paint(dc);
}

void MDial::Show() {
    if (!created_)
        return;
    if (hasArrows_) {
        up_.Show();
        down_.Show();
    }
    if (hasSlider_)
        slider_.Show();
    if (hasField_)
        field_.ShowIfRedraw();
    MWnd::Show();
}

void MDial::Hide() {
    if (!created_)
        return;
    MWnd::Hide();
    if (hasArrows_) {
        up_.Hide();
        down_.Hide();
    }
    if (hasSlider_)
        slider_.Hide();
    if (hasField_)
        field_.HideIfRedraw();
}

void MDial::SetAttached(bool flag) {
    if (!created_)
        return;
    MWnd::SetAttached(flag);
    up_.SetAttached(flag);
    down_.SetAttached(flag);
    slider_.SetAttached(flag);
    field_.SetRedraw(flag);
}

void MDial::SetColors(Color arrowInk,
                      Color arrowPaper,
                      Color fieldInk,
                      Color ownColour,
                      Color sliderInk,
                      Color sliderPaper,
                      Color thumb) {
    // Detached, no part is shown by its recolouring.
    SetAttached(false);
    MWnd::SetColors(ownColour, ownColour);
    up_.SetColors(arrowInk, arrowPaper);
    down_.SetColors(arrowInk, arrowPaper);
    field_.SetColors(fieldInk, ownColour);
    slider_.SetColors(sliderInk, sliderPaper, thumb);
    SetAttached(true);
    if (IsVisible())
        Show();
}

void MDial::SetTransparent(bool flag) {
    transparent_ = flag;
    const bool wasVisible = IsVisible();
    Hide();
    if (wasVisible)
        Show();
}

void MDial::SetImmediate(bool flag) {
    clampWhileTyping_ = flag;
    field_.SetImmediate(flag);
}

void MDial::SetDisplayOffset(int n) {
    displayOffset_ = n;
    if (created_)
        SetValue(value_);
}

void MDial::ShowField() {
    field_.ShowIfRedraw();
}

void MDial::HideField() {
    field_.HideIfRedraw();
}

void MDial::ShowArrows() {
    up_.Show();
    down_.Show();
}

void MDial::HideArrows() {
    up_.Hide();
    down_.Hide();
}

void MDial::ShowSlider() {
    slider_.Show();
}

void MDial::HideSlider() {
    slider_.Hide();
}

void MDial::ShareTextResources(const QFont& font, const QBrush& brush) {
    field_.ShareFont(font);
    field_.ShareBrush(brush);
}

} // namespace mb
