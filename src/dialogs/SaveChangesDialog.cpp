#include "dialogs/SaveChangesDialog.h"

#include <QPainter>

namespace mb {

SaveChangesDialog::SaveChangesDialog(QWidget* owner, const std::string& message)
    : PromptDialog(owner, QString::fromUtf8(kCaption), kX, kY, kWidth, kHeight) {
    PlaceMessage(message, kMessageX, kMessageY, kMessageWidth, kMessageHeight);
    AddButton(kOkId, kSaveText, kSaveX, kButtonY, kButtonWidth, kButtonHeight, true);
    AddButton(kCancelId, kCancelText, kCancelX, kButtonY, kButtonWidth, kButtonHeight);
    AddButton(kDontSaveId, kDontSaveText, kDontSaveX, kButtonY, kButtonWidth, kButtonHeight);
}

void SaveChangesDialog::paintEvent(QPaintEvent* event) {
    PromptDialog::paintEvent(event);
    QPainter painter(this);
    painter.fillRect(Units().Rect(0, kBandY, kWidth, kBandHeight), Qt::white);
    painter.setPen(Qt::white);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace mb
