#pragma once

#include <algorithm>
#include <string>

#include <QFont>
#include <QString>

namespace mb {

// The program gives its font sizes in tenths of a point; a point is 1/72 inch.
inline constexpr int kTenthPointsPerInch = 720;

// The face at a size in tenths of a point, as whole pixels (at least one) on a display of
// dpi dots per inch.
inline QFont TenthPointFont(const std::string& face, int tenths, int dpi) {
    QFont font(QString::fromStdString(face));
    font.setPixelSize(std::max(1, dpi * tenths / kTenthPointsPerInch));
    return font;
}

} // namespace mb
