#pragma once

#include "widgets/Color.h"

namespace mb {

// The desktop's own colours, read from the application palette. Widgets start in the
// highlight and button-face colours until their owner gives them the scheme's.
class SystemColors {
public:
    static Color ButtonShadow();
    static Color ButtonFace();
    static Color ButtonHighlight();
    static Color Highlight();
    static Color HighlightText();
    static Color DesktopBackground();
};

} // namespace mb
