#pragma once

#include <map>
#include <string>

#include <QDialog>

#include "dialogs/DialogUnits.h"

class QLabel;
class QPushButton;

namespace mb {

// The behaviour the save-changes and OK/Cancel dialogs share: the dialog font, the program
// icon at the top left, the message in control 200, and push buttons whose ids end the
// dialog with fixed results (1 gives 1, 2 gives 0, 201 gives 2). Escape and the close box
// act as button 2. Places and sizes are given in dialog units. Window thread only.
class PromptDialog : public QDialog {
public:
    static constexpr int kOkId = 1;
    static constexpr int kCancelId = 2;
    static constexpr int kDontSaveId = 201;
    static constexpr int kMessageId = 200;
    static constexpr int kOkResult = 1;
    static constexpr int kCancelResult = 0;
    static constexpr int kDontSaveResult = 2;
    // The icon's place and size.
    static constexpr int kIconX = 3;
    static constexpr int kIconY = 3;
    static constexpr int kIconSize = 20;

    // The push button with that id; null when the dialog has none.
    QPushButton* Button(int id) const;
    // The message control.
    QLabel* Message() const { return message_; }
    // The result that the button with that id ends the dialog with.
    static int ResultFor(int id);

    // Escape and the close box.
    void reject() override;

protected:
    // Sizes the dialog to width x height units, placed at (x, y) units from the owner's
    // top left corner (from the screen's without an owner).
    PromptDialog(QWidget* owner, const QString& caption, int x, int y, int width, int height);

    const DialogUnits& Units() const { return units_; }
    // Places the message control in the given rectangle and shows text in it.
    void PlaceMessage(const std::string& text, int x, int y, int width, int height);
    // Adds a push button that ends the dialog with ResultFor(id).
    QPushButton* AddButton(
        int id, const QString& text, int x, int y, int width, int height, bool isDefault = false);

private:
    DialogUnits units_;
    QLabel* message_ = nullptr;
    std::map<int, QPushButton*> buttons_;
};

} // namespace mb
