#pragma once

#include <string>

#include <QPoint>
#include <QWidget>

#include "widgets/ColorScheme.h"
#include "widgets/MBmpButton.h"
#include "widgets/Rect.h"

namespace mb {

class MenuCommandHandler;
class Setup;
class WidgetOwner;

// The three menu buttons (File, Edit and the third menu) and the invisible child window
// over them. The window neither paints nor takes the mouse, so the buttons the owner
// paints beneath it stay visible and clickable. A button's menu is shown, and its
// command run, by the menu handler. Window thread only.
class MenuBar : public QWidget {
public:
    static constexpr int kFileButtonId = 1002;
    static constexpr int kEditButtonId = 1003;
    static constexpr int kThirdButtonId = 1004;
    static constexpr int kFileMenuId = 161;
    static constexpr int kEditMenuId = 162;
    static constexpr int kThirdMenuId = 163;
    static constexpr int kButtonSpacing = 18;

    // Creates the window as a child of the owner's window and the three buttons, the
    // first at (x, y). The owner's window must outlive the bar.
    MenuBar(const std::string& text, int x, int y, WidgetOwner* owner);
    ~MenuBar() override;

    // The setup the command handlers read. Its copy and undo buffers start as copies of
    // its selected loop's steps.
    void SetSetup(Setup* setup);
    Setup* GetSetup() const { return setup_; }
    // Where menus are shown and their commands run; nullptr drops them. Must outlive the
    // bar.
    void SetCommandHandler(MenuCommandHandler* handler) { handler_ = handler; }
    void ApplyColor(Color base, bool highContrast = false);

    void ShowFileMenu();
    void ShowEditMenu();
    void ShowThirdMenu();
    // Opens the menu of the button with widget id buttonId; any other id opens nothing.
    void OpenMenu(int buttonId);
    // The bottom-left corner of a button in screen pixels: where its menu opens.
    QPoint MenuPoint(const MBmpButton& button) const;

    MBmpButton& FileButton() { return fileButton_; }
    MBmpButton& EditButton() { return editButton_; }
    MBmpButton& ThirdButton() { return thirdButton_; }
    const ColorScheme& Scheme() const { return scheme_; }
    Rect GetBarRect() const { return rect_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ShowMenuBelow(int menuId, const MBmpButton& button);

    Setup* setup_ = nullptr;
    std::string text_;
    Rect rect_;
    int x_ = 0;
    int y_ = 0;
    ColorScheme scheme_;
    MBmpButton fileButton_;
    MBmpButton editButton_;
    MBmpButton thirdButton_;
    WidgetOwner* owner_ = nullptr;
    MenuCommandHandler* handler_ = nullptr;
};

} // namespace mb
