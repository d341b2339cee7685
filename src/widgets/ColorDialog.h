#pragma once

#include <optional>

#include "widgets/Color.h"

class QWidget;

namespace mb {

// The desktop colour picker, opened on `initial`; nothing when the user cancels. Its 16
// custom colours are one table for the whole process: the first call fills them with
// random colours, later calls keep what the user left there. Window thread only.
std::optional<Color> ShowColorDialog(QWidget* parent, Color initial);

} // namespace mb
