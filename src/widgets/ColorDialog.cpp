#include "widgets/ColorDialog.h"

#include <cstdlib>

#include <QColorDialog>

namespace mb {

std::optional<Color> ShowColorDialog(QWidget* parent, Color initial) {
    static bool customColorsFilled = false;
    if (!customColorsFilled) {
        customColorsFilled = true;
        for (int i = 0; i < QColorDialog::customCount(); ++i) {
            // Three draws: the first gives bits 16-23, the second bits 8-15, the third 0-7.
            const int high = std::rand() % 256;
            const int middle = std::rand() % 256;
            const int low = std::rand() % 256;
            QColorDialog::setCustomColor(i, ToQColor(MakeColor(low, middle, high)));
        }
    }
    const QColor picked = QColorDialog::getColor(ToQColor(initial), parent);
    if (!picked.isValid())
        return std::nullopt;
    return FromQColor(picked);
}

} // namespace mb
