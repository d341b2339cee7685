#include "widgets/Canvas.h"

namespace mb {

Canvas::Canvas(QPainter& painter, const QRegion& clip)
    : painter_(painter), clip_(clip), font_(painter.font()) {}

void Canvas::FillRect(const Rect& rect, Color color) {
    if (rect.IsEmpty())
        return;
    const QRegion area = clip_.intersected(rect.ToQRect());
    const QColor fill = ToQColor(color);
    for (const QRect& r : area)
        painter_.fillRect(r, fill);
}

void Canvas::DrawText(const Rect& rect, const QString& text, Color ink) {
    if (text.isEmpty() || rect.IsEmpty())
        return;
    const QRegion area = clip_.intersected(rect.ToQRect());
    if (area.isEmpty())
        return;
    painter_.save();
    painter_.setClipRegion(area);
    painter_.setFont(font_);
    painter_.setPen(ToQColor(ink));
    painter_.drawText(rect.ToQRect(), Qt::AlignCenter | Qt::TextSingleLine, text);
    painter_.restore();
}

QImage Canvas::Colorize(const QImage& bits, Color ink, Color paper) {
    QImage indexed = bits.convertToFormat(QImage::Format_MonoLSB);
    indexed.setColorTable({ToQRgb(ink), ToQRgb(paper)});
    return indexed.convertToFormat(QImage::Format_RGB32);
}

void Canvas::DrawBitmap(const QImage& bits, int x, int y, Color ink, Color paper) {
    DrawColoredImage(Colorize(bits, ink, paper), x, y);
}

void Canvas::DrawColoredImage(const QImage& colored, int x, int y) {
    const QRect target(x, y, colored.width(), colored.height());
    const QRegion area = clip_.intersected(target);
    for (const QRect& r : area)
        painter_.drawImage(r.topLeft(), colored, r.translated(-x, -y));
}

void Canvas::ExcludeClipRect(const Rect& rect) {
    if (!rect.IsEmpty())
        clip_ -= rect.ToQRect();
}

bool Canvas::RectVisible(const Rect& rect) const {
    return !rect.IsEmpty() && clip_.intersects(rect.ToQRect());
}

void Canvas::SetFont(const QFont& font) {
    font_ = font;
}

} // namespace mb
