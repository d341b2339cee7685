#pragma once

#include <optional>
#include <string>

#include <QCursor>
#include <QDialog>

#include "dialogs/DialogUnits.h"

namespace mb {

class HyperlinkLabel;

// The About box: the program's picture with its version and, below it, a link to the
// program's manual. The
// box holds the mouse while it is open: a left press on the link opens the manual and the
// box stays; a left press anywhere else, Enter, Escape or a close request ends it with
// kResult. The pointer is the hand over the link and the plain pointer elsewhere. Window
// thread only.
class AboutBox : public QDialog {
public:
    static constexpr int kResult = 1;
    // Layout, dialog units.
    static constexpr int kWidth = 143;
    static constexpr int kHeight = 174;
    static constexpr int kLinkX = 3;
    static constexpr int kLinkY = 143;
    static constexpr int kLinkWidth = 127;
    static constexpr int kLinkHeight = 11;
    static constexpr const char* kLinkText = "Marrowbeat manual";
    static constexpr const char* kLinkCursorName = "HANDCUR";
    static constexpr const char* kCursorName = "NOCUR";

    AboutBox(QWidget* parent, uint32_t ink, uint32_t paper);

    // The manual's address: the installed README as a file: address, or the source
    // tree's when the program runs from its build folder.
    static std::string ManualAddress();
    HyperlinkLabel& Link() { return *link_; }
    // The link's rectangle in screen coordinates.
    QRect LinkRect() const;

    void accept() override;
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Presses and moves at a screen position, wherever inside the box they arrived.
    void Press(Qt::MouseButton button, const QPoint& global);
    void Move(const QPoint& global);

    DialogUnits units_;
    HyperlinkLabel* link_;
    std::optional<QCursor> linkCursor_;
    std::optional<QCursor> plainCursor_;
};

} // namespace mb
