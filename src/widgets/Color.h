#pragma once

#include <cstdint>

#include <QColor>

namespace mb {

// A colour as the program stores it everywhere: 0x00BBGGRR (red in the low byte).
using Color = uint32_t;

// The colour value that tells a painter to leave a part unpainted.
static constexpr Color kNoColor = 0xFFFFFFFFu;

constexpr Color MakeColor(int red, int green, int blue) {
    return static_cast<Color>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}
constexpr int RedOf(Color c) {
    return static_cast<int>(c & 0xFF);
}
constexpr int GreenOf(Color c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int BlueOf(Color c) {
    return static_cast<int>((c >> 16) & 0xFF);
}

inline QColor ToQColor(Color c) {
    return QColor(RedOf(c), GreenOf(c), BlueOf(c));
}
inline QRgb ToQRgb(Color c) {
    return qRgb(RedOf(c), GreenOf(c), BlueOf(c));
}
inline Color FromQColor(const QColor& c) {
    return MakeColor(c.red(), c.green(), c.blue());
}

} // namespace mb
