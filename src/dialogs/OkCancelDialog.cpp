#include "dialogs/OkCancelDialog.h"

namespace mb {

OkCancelDialog::OkCancelDialog(QWidget* owner, const std::string& message)
    : PromptDialog(owner, kCaption, kX, kY, kWidth, kHeight) {
    PlaceMessage(message, kMessageX, kMessageY, kMessageWidth, kMessageHeight);
    AddButton(kOkId, kOkText, kOkX, kButtonY, kButtonWidth, kButtonHeight, true);
    AddButton(kCancelId, kCancelText, kCancelX, kButtonY, kButtonWidth, kButtonHeight);
}

} // namespace mb
