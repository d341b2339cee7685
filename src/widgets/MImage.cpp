#include "widgets/MImage.h"

namespace mb {

MImage::~MImage() = default;

void MImage::Create(int id,
                    const std::string& text,
                    int x,
                    int y,
                    WidgetOwner* owner,
                    const std::string& bitmapName) {
    bitmap_.SetName(bitmapName);
    const QSize size = bitmap_.GetSize();
    MWnd::CreateInRect(id, text, x, y, x + size.width(), y + size.height(), owner);
}

void MImage::Paint(Canvas& dc) {
    const Rect rect = GetRect();
    if (!IsVisible() || !dc.RectVisible(rect))
        return;
    bitmap_.Draw(dc, GetInk(), GetPaper(), rect.left, rect.top);
    dc.ExcludeClipRect(rect);
}

} // namespace mb
