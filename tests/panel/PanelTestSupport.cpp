#include "PanelTestSupport.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QTest>

#include "panel/MDial.h"

namespace mb::test {

FakeKeyboard::FakeKeyboard() {
    MDial::SetKeyboard(this);
}

FakeKeyboard::~FakeKeyboard() {
    MDial::SetKeyboard(nullptr);
}

PanelOwner::PanelOwner() : OwnerWindow(this) {
    resize(707, 166);
}

void PanelOwner::OnWidgetEvent(int event, int x, int y, int id) {
    const int taken = RouteEvent(event, x, y, id, nullptr);
    if (taken != 0)
        reports.push_back({event, taken});
}

void PanelOwner::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.fillRect(event->rect(), ToQColor(background));
    }
    PaintWidgets(event);
}

QImage PanelOwner::Grab(qreal scale) {
    QImage image(size() * scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(ToQColor(background));
    render(&image);
    image.setDevicePixelRatio(1.0);
    return image;
}

void Type(QLineEdit& field, const std::string& text, bool leave) {
    QTest::keyClicks(&field, QString::fromStdString(text));
    if (leave)
        Leave(field);
}

void Leave(QLineEdit& field) {
    QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
    QCoreApplication::sendEvent(&field, &out);
}

} // namespace mb::test
