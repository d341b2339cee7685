#pragma once

#include <string>

#include "dialogs/PromptDialog.h"
#include "dialogs/Prompts.h"

namespace mb {

// Asks whether to save the changed setup: "&Save" (result 1, the default), "&Cancel"
// (result 0, also Escape) and "&Don't Save" (result 2) on a white band, inside a white
// frame. Window thread only.
class SaveChangesDialog : public PromptDialog {
public:
    static constexpr const char* kCaption = Prompts::kTitle;
    static constexpr const char* kSaveText = "&Save";
    static constexpr const char* kCancelText = "&Cancel";
    static constexpr const char* kDontSaveText = "&Don't Save";
    // Layout, dialog units.
    static constexpr int kX = 82;
    static constexpr int kY = 45;
    static constexpr int kWidth = 217;
    static constexpr int kHeight = 85;
    static constexpr int kMessageX = 32;
    static constexpr int kMessageY = 7;
    static constexpr int kMessageWidth = 183;
    static constexpr int kMessageHeight = 40;
    static constexpr int kBandY = 60;
    static constexpr int kBandHeight = 19;
    static constexpr int kButtonY = 63;
    static constexpr int kSaveX = 6;
    static constexpr int kCancelX = 66;
    static constexpr int kDontSaveX = 160;
    static constexpr int kButtonWidth = 50;
    static constexpr int kButtonHeight = 14;

    SaveChangesDialog(QWidget* owner, const std::string& message);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace mb
