#pragma once

#include <QRect>

namespace mb {

// A rectangle in an owner's client pixels; right and bottom are exclusive, so a point on
// the right or bottom edge lies outside.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    // The smallest rectangle that holds both; an empty rectangle adds nothing.
    Rect United(const Rect& other) const;
    QRect ToQRect() const { return QRect(left, top, right - left, bottom - top); }
    static Rect FromQRect(const QRect& r) {
        return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
    }

    bool operator==(const Rect&) const = default;
};

inline Rect Rect::United(const Rect& other) const {
    if (other.IsEmpty())
        return *this;
    if (IsEmpty())
        return other;
    return {left < other.left ? left : other.left, top < other.top ? top : other.top,
            right > other.right ? right : other.right,
            bottom > other.bottom ? bottom : other.bottom};
}

} // namespace mb
