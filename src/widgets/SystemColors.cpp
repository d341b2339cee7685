#include "widgets/SystemColors.h"

#include <QGuiApplication>
#include <QPalette>

namespace mb {

namespace {

Color FromPalette(QPalette::ColorRole role) {
    return FromQColor(QGuiApplication::palette().color(QPalette::Active, role));
}

} // namespace

Color SystemColors::ButtonShadow() {
    return FromPalette(QPalette::Dark);
}
Color SystemColors::ButtonFace() {
    return FromPalette(QPalette::Button);
}
Color SystemColors::ButtonHighlight() {
    return FromPalette(QPalette::Light);
}
Color SystemColors::Highlight() {
    return FromPalette(QPalette::Highlight);
}
Color SystemColors::HighlightText() {
    return FromPalette(QPalette::HighlightedText);
}
// There is no desktop colour in the palette; the shadow colour is the nearest dark tone.
Color SystemColors::DesktopBackground() {
    return FromPalette(QPalette::Shadow);
}

} // namespace mb
