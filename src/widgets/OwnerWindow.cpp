#include "widgets/OwnerWindow.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include "widgets/Canvas.h"
#include "widgets/WidgetEvent.h"
#include "widgets/WidgetRegistry.h"

namespace mb {

OwnerWindow::OwnerWindow(QWidget* window) : window_(*window) {
    window_.setMouseTracking(true);
}

void OwnerWindow::Invalidate(const Rect& rect) {
    if (!rect.IsEmpty())
        window_.update(rect.ToQRect());
}

void OwnerWindow::RepaintNow(const Rect& rect) {
    if (!rect.IsEmpty())
        window_.repaint(rect.ToQRect());
}

void OwnerWindow::SetPointer(const QCursor& cursor) {
    window_.setCursor(cursor);
}

void OwnerWindow::CaptureMouse() {
    if (!captured_) {
        window_.grabMouse();
        captured_ = true;
    }
}

void OwnerWindow::ReleaseMouseCapture() {
    if (captured_) {
        window_.releaseMouse();
        captured_ = false;
    }
}

void OwnerWindow::PaintWidgets(QPaintEvent* event) {
    QPainter painter(&window_);
    painter.setFont(window_.font());
    Canvas canvas(painter, event->region());
    WidgetRegistry::Instance().PaintAll(canvas, this);
}

bool OwnerWindow::ForwardMouse(QMouseEvent* event, bool forwardRightButton) {
    int code = -1;
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        if (event->button() == Qt::LeftButton)
            code = WidgetEvent::kLeftPress;
        break;
    case QEvent::MouseButtonPress:
        if (event->button() == Qt::LeftButton)
            code = WidgetEvent::kLeftPress;
        else if (event->button() == Qt::RightButton && forwardRightButton)
            code = WidgetEvent::kRightPress;
        break;
    case QEvent::MouseButtonRelease:
        if (event->button() == Qt::LeftButton)
            code = WidgetEvent::kLeftRelease;
        break;
    case QEvent::MouseMove:
        code = WidgetEvent::kMove;
        break;
    default:
        break;
    }
    if (code < 0)
        return false;
    const QPoint p = event->position().toPoint();
    OnWidgetEvent(code, p.x(), p.y(), 0);
    return true;
}

int OwnerWindow::RouteEvent(int event, int x, int y, int id, const QCursor* defaultCursor) {
    WidgetRegistry& registry = WidgetRegistry::Instance();
    if (registry.CursorAt(event, x, y, this) == 0 && defaultCursor != nullptr)
        SetPointer(*defaultCursor);
    if (id != 0)
        return id;
    return registry.DispatchMouse(event, x, y, this);
}

} // namespace mb
