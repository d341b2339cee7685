#include "dialogs/DialogUnits.h"

#include <algorithm>

#include <QFontMetrics>
#include <QWidget>

namespace mb {

namespace {

constexpr int kFallbackDpi = 96;
constexpr int kPointsPerInch = 72;
// The average character width is measured over both alphabets.
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kLettersPerCase = 26;
constexpr int kQuartersPerBaseX = 4;
constexpr int kEighthsPerBaseY = 8;

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

} // namespace

QFont DialogUnits::DialogFont(const QWidget* widget) {
    const int dpi = widget != nullptr ? widget->logicalDpiY() : kFallbackDpi;
    QFont font(kFace);
    // Points to pixels, rounded to the nearest pixel.
    font.setPixelSize(std::max(1, MulDiv(dpi, kPointSize, kPointsPerInch)));
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet));
    // Half the width of one letter pair, rounded.
    baseX_ = std::max(1, (width / kLettersPerCase + 1) / 2);
    baseY_ = std::max(1, metrics.height());
}

int DialogUnits::X(int units) const {
    return MulDiv(units, baseX_, kQuartersPerBaseX);
}

int DialogUnits::Y(int units) const {
    return MulDiv(units, baseY_, kEighthsPerBaseY);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QSize DialogUnits::Size(int width, int height) const {
    return QSize(X(width), Y(height));
}

} // namespace mb
