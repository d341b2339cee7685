#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace mb {

// Converts the layout of the program's small dialogs, given in dialog units, to pixels.
// A horizontal unit is a quarter of the dialog font's average character width, a vertical
// unit an eighth of its height, so the dialogs keep their proportions with any font the
// desktop substitutes for the face asked for. Window thread only.
class DialogUnits {
public:
    static constexpr const char* kFace = "MS Sans Serif";
    static constexpr int kPointSize = 8;

    // The dialog font at the display resolution of `widget` (96 dpi when it has none).
    static QFont DialogFont(const QWidget* widget);

    explicit DialogUnits(const QFont& font);

    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }
    int X(int units) const;
    int Y(int units) const;
    // Both corners are converted, so adjacent rectangles stay adjacent.
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

private:
    int baseX_;
    int baseY_;
};

} // namespace mb
