#include "widgets/MSlider.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "widgets/WidgetOwner.h"

namespace mb {

namespace {

// Truncates toward zero into the int range; NaN gives 0.
int TruncToInt(double v) {
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (v <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

} // namespace

MSlider::~MSlider() = default;

void MSlider::Create(int id,
                     const std::string& text,
                     int x,
                     int y,
                     int width,
                     int height,
                     WidgetOwner* owner,
                     bool horizontal) {
    MButton::Create(id, text, x, y, width, height, owner);
    horizontal_ = horizontal;
}

void MSlider::SetColors(Color ink, Color paper, Color thumb) {
    thumb_ = thumb;
    MWnd::SetColors(ink, paper);
}

void MSlider::SetRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
}

void MSlider::SetValue(int v) {
    value_ = v;
    if (IsVisible())
        Show();
}

double MSlider::Fraction() const {
    const double span = static_cast<double>(maximum_) - static_cast<double>(minimum_);
    if (span == 0.0)
        return 0.0;
    return (static_cast<double>(value_) - static_cast<double>(minimum_)) / span;
}

int MSlider::ValueAt(int x, int y) const {
    const Rect rect = GetRect();
    const double span = static_cast<double>(maximum_) - static_cast<double>(minimum_);
    if (horizontal_) {
        if (x < rect.left)
            return minimum_;
        if (x > rect.right)
            return maximum_;
        // A bar without width has no place between its ends.
        if (rect.right == rect.left)
            return minimum_;
        return TruncToInt(minimum_ +
                          static_cast<double>(x - rect.left) / (rect.right - rect.left) * span);
    }
    if (y < rect.top)
        return maximum_;
    if (y > rect.bottom)
        return minimum_;
    if (rect.bottom == rect.top)
        return minimum_;
    return TruncToInt(minimum_ +
                      static_cast<double>(rect.bottom - y) / (rect.bottom - rect.top) * span);
}

int MSlider::Dispatch(int event, int x, int y) {
    if (!IsVisible())
        return WidgetResult::kNotTaken;
    WidgetOwner* owner = GetOwner();
    if (GetRect().Contains(x, y) && GetCursor() && owner != nullptr)
        owner->SetPointer(*GetCursor());
    switch (event) {
    case WidgetEvent::kLeftPress:
    case WidgetEvent::kLeftRelease:
    case WidgetEvent::kRightPress:
        SetInside(true);
        return OnMouse(event, x, y);
    case WidgetEvent::kMove:
        if (!IsPressedWidget() || !IsPressed())
            return WidgetResult::kNotTaken;
        if (owner != nullptr) {
            if (GetCursor())
                owner->SetPointer(*GetCursor());
            // Moves outside the window keep coming until the release.
            owner->CaptureMouse();
        }
        SetValue(ValueAt(x, y));
        return WidgetResult::kReleaseTaken;
    default:
        return WidgetResult::kNotTaken;
    }
}

int MSlider::OnMouse(int event, int x, int y) {
    const bool over = GetRect().Contains(x, y);
    if (event == WidgetEvent::kLeftPress && over) {
        SetValue(ValueAt(x, y));
        SetPressed(true);
        BecomePressedWidget();
        return WidgetResult::kReleaseTaken;
    }
    if (event == WidgetEvent::kLeftRelease && IsPressed()) {
        SetValue(ValueAt(x, y));
        SetPressed(false);
        ClearPressedWidget();
        if (GetOwner() != nullptr)
            GetOwner()->ReleaseMouseCapture();
        return WidgetResult::kReleaseTaken;
    }
    if (event == WidgetEvent::kRightPress && over)
        return WidgetResult::kRightPressTaken;
    return WidgetResult::kNotTaken;
}

void MSlider::Paint(Canvas& dc) {
    const Rect rect = GetRect();
    if (!IsVisible() || !dc.RectVisible(rect))
        return;
    const double f = Fraction();
    const int t = thumbWidth_;
    if (horizontal_) {
        const int w = rect.Width();
        const int h = rect.Height();
        const int d = TruncToInt(f * w);
        dc.FillRect({rect.left, rect.top, rect.left + d, rect.top + h}, GetInk());
        dc.FillRect({rect.left + d, rect.top, rect.left + w, rect.top + h}, GetPaper());
        if (t != 0)
            dc.FillRect({rect.left + d - t / 2, rect.top, rect.left + d - t / 2 + t, rect.top + h},
                        thumb_);
        dc.ExcludeClipRect(rect);
        return;
    }
    // Vertical: each part is painted and excluded on its own, so that a part in kNoColor
    // lets what lies behind the bar show through.
    const int d = TruncToInt(f * rect.Height());
    const int level = rect.bottom - d;
    if (t != -1 && thumb_ != kNoColor) {
        const Rect thumb{rect.left, level - t / 2, rect.right, level - t / 2 + t};
        dc.FillRect(thumb, thumb_);
        const Rect inside{thumb.left, std::max(thumb.top, rect.top), thumb.right,
                          std::min(thumb.bottom, rect.bottom)};
        dc.ExcludeClipRect(inside);
    }
    if (GetPaper() != kNoColor) {
        const Rect empty{rect.left, rect.top, rect.right, level};
        dc.FillRect(empty, GetPaper());
        dc.ExcludeClipRect(empty);
    }
    if (GetInk() != kNoColor) {
        const Rect filled{rect.left, level, rect.right, rect.bottom};
        dc.FillRect(filled, GetInk());
        dc.ExcludeClipRect(filled);
    }
}

} // namespace mb
