#pragma once

#include <string>

#include <QImage>
#include <QSize>

#include "widgets/Canvas.h"
#include "widgets/Color.h"

namespace mb {

// A named one-bit skin picture, loaded once when it is named and held for the object's
// life. It carries shape only: every drawing paints its dark pixels in ink and its light
// pixels in paper. A name that does not load gives a 1 x 1 light placeholder.
// Window thread only.
class SkinBitmap {
public:
    void SetName(const std::string& name);
    const std::string& GetName() const { return name_; }
    // (width, height) of the picture; (1, 1) for a name that did not load.
    QSize GetSize() const { return bits_.size(); }
    bool IsPlaceholder() const { return placeholder_; }
    // Copies the picture to (x, y), inside the canvas's clip region.
    void Draw(Canvas& dc, Color ink, Color paper, int x, int y);

private:
    std::string name_;
    QImage bits_ = Placeholder();
    bool placeholder_ = true;
    // The last colouring, kept because a widget is drawn in the same two colours again and
    // again.
    QImage colored_;
    Color coloredInk_ = 0;
    Color coloredPaper_ = 0;

    static QImage Placeholder();
};

} // namespace mb
