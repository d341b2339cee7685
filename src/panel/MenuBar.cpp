#include "panel/MenuBar.h"

#include "model/MeasureEdits.h"
#include "panel/MenuCommandHandler.h"
#include "widgets/WidgetOwner.h"

namespace mb {

MenuBar::MenuBar(const std::string& text, int x, int y, WidgetOwner* owner)
    : QWidget(owner != nullptr ? owner->NativeWindow() : nullptr), text_(text), x_(x), y_(y),
      owner_(owner) {
    setWindowTitle(QString::fromStdString(text_));
    // Transparent to the mouse and never painting: the owner's widgets show through.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);

    fileButton_.Create(kFileButtonId, "", x, y, owner, "FILEUP", "FILEDN");
    fileButton_.SetCursorName("FCUR");
    editButton_.Create(kEditButtonId, "", x + kButtonSpacing, y, owner, "EDITUP", "EDITDN");
    editButton_.SetCursorName("ECUR");
    thirdButton_.Create(kThirdButtonId, "", x + 2 * kButtonSpacing, y, owner, "MIDIUP", "MIDIDN");
    thirdButton_.SetCursorName("MCUR");

    rect_ = fileButton_.GetRect().United(editButton_.GetRect()).United(thirdButton_.GetRect());
    setGeometry(x_, y_, rect_.Width(), rect_.Height());
    show();
}

MenuBar::~MenuBar() = default;

void MenuBar::SetSetup(Setup* setup) {
    setup_ = setup;
    if (setup_ != nullptr)
        FillStagingLoops(*setup_);
}

void MenuBar::ApplyColor(Color base, bool highContrast) {
    scheme_.SetBase(base);
    const auto colour = [this, highContrast](MBmpButton& button, int ink, int paper) {
        const Color i = scheme_.GetColor(ink);
        const Color p = scheme_.GetColor(paper);
        button.SetColors(highContrast ? ColorScheme::ReadableInk(i, p) : i, p);
    };
    colour(fileButton_, 6, 4);
    colour(editButton_, 2, 1);
    colour(thirdButton_, 4, 6);
}

QPoint MenuBar::MenuPoint(const MBmpButton& button) const {
    const Rect r = button.GetRect();
    const QPoint corner(r.left, r.bottom);
    if (owner_ == nullptr || owner_->NativeWindow() == nullptr)
        return corner;
    return owner_->NativeWindow()->mapToGlobal(corner);
}

void MenuBar::ShowMenuBelow(int menuId, const MBmpButton& button) {
    if (handler_ != nullptr)
        handler_->ShowMenu(menuId, MenuPoint(button));
}

void MenuBar::ShowFileMenu() {
    ShowMenuBelow(kFileMenuId, fileButton_);
}

void MenuBar::ShowEditMenu() {
    ShowMenuBelow(kEditMenuId, editButton_);
}

void MenuBar::ShowThirdMenu() {
    ShowMenuBelow(kThirdMenuId, thirdButton_);
}

void MenuBar::OpenMenu(int buttonId) {
    switch (buttonId) {
    case kFileButtonId:
        ShowFileMenu();
        return;
    case kEditButtonId:
        ShowEditMenu();
        return;
    case kThirdButtonId:
        ShowThirdMenu();
        return;
    default:
        return;
    }
}

void MenuBar::paintEvent(QPaintEvent*) {
    // Nothing: the owner paints the buttons under this window.
}

} // namespace mb
