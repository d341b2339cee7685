#pragma once

class QPoint;

namespace mb {

// Where the menu bar's menus go: the program's menus and the commands they run. The main
// window plugs its implementation in with MenuBar::SetCommandHandler. Window thread only.
class MenuCommandHandler {
public:
    virtual ~MenuCommandHandler() = default;
    // Pops up menu menuId with its top-left corner at screenPos and runs the command
    // chosen, if any.
    virtual void ShowMenu(int menuId, const QPoint& screenPos) = 0;
};

} // namespace mb
