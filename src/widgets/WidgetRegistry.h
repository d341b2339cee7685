#pragma once

#include <vector>

#include "widgets/Canvas.h"

namespace mb {

class MButton;
class MWnd;
class WidgetOwner;

// The one list of every created widget, through which painting, the pointer shape and
// mouse input reach them. Every walk runs from the newest widget to the oldest and looks
// only at the widgets of one owner: the newest lies on top, for painting and for input.
// The registry refers to widgets and owns none; a widget leaves it when destroyed.
// It also names the pressed widget: the one that took the last left press and has not
// seen the release yet. Window thread only.
class WidgetRegistry {
public:
    static WidgetRegistry& Instance();

    // Paints every widget of owner, newest first.
    void PaintAll(Canvas& dc, const WidgetOwner* owner);
    // Offers the event to the input-capable widgets of owner, newest first, and returns the
    // id of the first that takes it, or 0 when none does.
    int DispatchMouse(int event, int x, int y, const WidgetOwner* owner);
    // Sets the pointer shape of the newest visible input-capable widget of owner that has
    // one and lies under (x, y), and returns its id; 0 when none does (the owner then sets
    // its own pointer). The event is not used.
    int CursorAt(int event, int x, int y, WidgetOwner* owner);
    // The newest visible input-capable widget of owner whose rect holds (x, y): the one a
    // left press there goes to. nullptr when there is none.
    MButton* InputWidgetAt(int x, int y, const WidgetOwner* owner) const;
    // Every widget, oldest first.
    const std::vector<MWnd*>& Widgets() const { return widgets_; }

    MButton* PressedWidget() const { return pressed_; }
    void SetPressedWidget(MButton* widget) { pressed_ = widget; }

    // Called by MWnd only.
    void Add(MWnd* widget);
    void Remove(MWnd* widget);

    size_t Size() const { return widgets_.size(); }

private:
    WidgetRegistry() = default;
    static MButton* InputWidget(MWnd* widget);

    std::vector<MWnd*> widgets_; // oldest first
    MButton* pressed_ = nullptr;
};

} // namespace mb
