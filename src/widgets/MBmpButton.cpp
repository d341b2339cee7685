#include "widgets/MBmpButton.h"

namespace mb {

MBmpButton::MBmpButton() {
    SetTypeName(kTypeName);
}

MBmpButton::~MBmpButton() = default;

void MBmpButton::Create(int id,
                        const std::string& text,
                        int x,
                        int y,
                        WidgetOwner* owner,
                        const std::string& upName,
                        const std::string& downName) {
    up_.SetName(upName);
    down_.SetName(downName);
    upName_ = upName;
    downName_ = downName;
    const QSize size = up_.GetSize();
    CreateInRect(id, text, x, y, x + size.width(), y + size.height(), owner);
}

void MBmpButton::PaintLook(Canvas& dc, bool down) {
    const Rect rect = GetRect();
    if (!IsVisible() || !dc.RectVisible(rect))
        return;
    if (down)
        down_.Draw(dc, GetPressedInk(), GetPressedPaper(), rect.left, rect.top);
    else
        up_.Draw(dc, GetInk(), GetPaper(), rect.left, rect.top);
    dc.ExcludeClipRect(rect);
}

void MBmpButton::Paint(Canvas& dc) {
    PaintLook(dc, IsPressed());
}

} // namespace mb
