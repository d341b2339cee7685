#include "panel/MLabel.h"

#include <QString>
#include <QWidget>

#include "widgets/TenthPointFont.h"
#include "widgets/WidgetOwner.h"

namespace mb {

namespace {

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
        font_ = TenthPointFont(face_, size_, dpi);
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
