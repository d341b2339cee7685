#pragma once

#include <QCursor>

#include "widgets/Rect.h"

class QWidget;

namespace mb {

// The window whose client area hosts windowless widgets. It paints them (PaintAll), passes
// them the mouse (DispatchMouse, CursorAt) and hears their ids through OnWidgetEvent.
// OwnerWindow implements everything but OnWidgetEvent for a QWidget. Window thread only.
class WidgetOwner {
public:
    virtual ~WidgetOwner() = default;

    // All widget input reaches the owner here: from its own mouse handlers with id 0, from
    // text fields with their own id. x, y are client pixels (text fields report 0, 0).
    virtual void OnWidgetEvent(int event, int x, int y, int id) = 0;

    // The native window: parent of text fields, target of invalidation and capture.
    virtual QWidget* NativeWindow() = 0;
    // Marks rect for the next regular paint.
    virtual void Invalidate(const Rect& rect) = 0;
    // Paints rect now, before returning: widgets change their look during a gesture.
    virtual void RepaintNow(const Rect& rect) = 0;
    // Sets the pointer shape over the window.
    virtual void SetPointer(const QCursor& cursor) = 0;
    // Keeps mouse moves coming while the pointer is outside the window (a slider drag).
    virtual void CaptureMouse() = 0;
    virtual void ReleaseMouseCapture() = 0;
};

} // namespace mb
