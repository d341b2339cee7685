#pragma once

#include <string>

#include "dialogs/PromptDialog.h"
#include "dialogs/Prompts.h"

namespace mb {

// Asks to confirm an action: "OK" (result 1, the default) or "Cancel" (result 0, also
// Escape). Window thread only.
class OkCancelDialog : public PromptDialog {
public:
    static constexpr const char* kCaption = Prompts::kTitle;
    static constexpr const char* kOkText = "OK";
    static constexpr const char* kCancelText = "Cancel";
    // Layout, dialog units.
    static constexpr int kX = 103;
    static constexpr int kY = 40;
    static constexpr int kWidth = 186;
    static constexpr int kHeight = 79;
    static constexpr int kMessageX = 32;
    static constexpr int kMessageY = 7;
    static constexpr int kMessageWidth = 146;
    static constexpr int kMessageHeight = 49;
    static constexpr int kButtonY = 62;
    static constexpr int kOkX = 7;
    static constexpr int kCancelX = 129;
    static constexpr int kButtonWidth = 50;
    static constexpr int kButtonHeight = 14;

    OkCancelDialog(QWidget* owner, const std::string& message);
};

} // namespace mb
