#pragma once

class QPoint;
class QWidget;

namespace mb {

// What the menu bar hands on: the program's menus and its command table. The main window
// plugs its implementation in with MenuBar::SetCommandHandler. Window thread only.
class MenuCommandHandler {
public:
    virtual ~MenuCommandHandler() = default;
    // Pops up menu resource menuId with its top-left corner at screenPos; its commands
    // come back through MenuBar::OnCommand of the bar whose target is given.
    virtual void ShowMenu(int menuId, const QPoint& screenPos, QWidget& target) = 0;
    // Runs one command of a menu or an accelerator.
    virtual void OnCommand(int command) = 0;
};

} // namespace mb
