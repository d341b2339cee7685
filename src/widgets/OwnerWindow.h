#pragma once

#include <QCursor>

#include "widgets/WidgetOwner.h"

class QMouseEvent;
class QPaintEvent;
class QWidget;

namespace mb {

// The window side of a widget owner for a QWidget: a window that hosts widgets derives
// from its QWidget class first and then from OwnerWindow (constructed with this),
// implements OnWidgetEvent, and calls PaintWidgets from paintEvent and ForwardMouse from
// its mouse handlers. The window gets mouse moves without a button held.
// Window thread only.
class OwnerWindow : public WidgetOwner {
public:
    explicit OwnerWindow(QWidget* window);
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;

    QWidget* NativeWindow() override { return &window_; }
    void Invalidate(const Rect& rect) override;
    void RepaintNow(const Rect& rect) override;
    void SetPointer(const QCursor& cursor) override;
    void CaptureMouse() override;
    void ReleaseMouseCapture() override;

    // Paints every widget of this owner inside the event's region.
    void PaintWidgets(QPaintEvent* event);
    // Turns a mouse press, double-click, release or move into OnWidgetEvent(code, x, y, 0):
    // left press and double-click 1, left release 2, right press 4, move 64. Returns false
    // for anything else (and for the right button when forwardRightButton is false).
    bool ForwardMouse(QMouseEvent* event, bool forwardRightButton = true);
    // Steps 2 and 3 of handling an event: the widget pointer under (x, y), or
    // defaultCursor when no widget sets one; then, for id 0, the registry's dispatch.
    // Returns the id of the widget that took the event (the given id when it is not 0),
    // or 0 when none did.
    int RouteEvent(int event, int x, int y, int id, const QCursor* defaultCursor);

private:
    QWidget& window_;
    bool captured_ = false;
};

} // namespace mb
