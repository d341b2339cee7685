#pragma once

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRegion>
#include <QString>

#include "widgets/Color.h"
#include "widgets/Rect.h"

namespace mb {

// The drawing surface a widget paints on: a QPainter plus the clip region that the
// widgets shrink as they paint. Widgets paint newest first and each one excludes its
// rectangle afterwards, so an older widget never draws over a newer one.
// Window thread only.
class Canvas {
public:
    // Paints on `painter` inside `clip` (the region that needs painting).
    Canvas(QPainter& painter, const QRegion& clip);

    void FillRect(const Rect& rect, Color color);
    // One line of text, centred horizontally and vertically in rect, clipped to rect.
    void DrawText(const Rect& rect, const QString& text, Color ink);
    // Copies a one-bit picture to (x, y): colour index 0 (the dark pixels) in ink, index 1
    // (the light pixels) in paper.
    void DrawBitmap(const QImage& bits, int x, int y, Color ink, Color paper);
    // Copies a picture that Colorize has already turned into ink and paper.
    void DrawColoredImage(const QImage& colored, int x, int y);
    void ExcludeClipRect(const Rect& rect);
    // True when some part of rect still lies inside the clip region.
    bool RectVisible(const Rect& rect) const;

    void SetFont(const QFont& font);
    const QFont& Font() const { return font_; }
    const QRegion& ClipRegion() const { return clip_; }

    // The one-bit picture in ink and paper, as an image that can be copied fast.
    static QImage Colorize(const QImage& bits, Color ink, Color paper);

private:
    QPainter& painter_;
    QRegion clip_;
    QFont font_;
};

} // namespace mb
