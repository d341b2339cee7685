#include "panel/MLabel.h"

#include <algorithm>

#include <QString>
#include <QWidget>

#include "widgets/WidgetOwner.h"

namespace mb {

namespace {

// A font size in tenths of a point becomes pixels as dpi * size / 720.
static constexpr int kTenthPointsPerInch = 720;
static constexpr int kFallbackDpi = 96;

} // namespace

MLabel::MLabel() = default;

MLabel::~MLabel() = default;

void MLabel::Paint(Canvas& dc) {
    const Rect rect = GetRect();
    if (!IsVisible() || !dc.RectVisible(rect))
        return;
    if (!fontMade_) {
        // Made once: the face and size never change, and the step light repaints often.
        const QWidget* window = GetOwner() != nullptr ? GetOwner()->NativeWindow() : nullptr;
        const int dpi = window != nullptr ? window->logicalDpiY() : kFallbackDpi;
        font_ = QFont(QString::fromStdString(face_));
        font_.setPixelSize(std::max(1, dpi * size_ / kTenthPointsPerInch));
        fontMade_ = true;
    }
    const QFont previous = dc.Font();
    dc.SetFont(font_);
    dc.FillRect(rect, GetPaper());
    dc.DrawText(rect, QString::fromStdString(GetText()), GetInk());
    dc.SetFont(previous);
    dc.ExcludeClipRect(rect);
}

} // namespace mb
