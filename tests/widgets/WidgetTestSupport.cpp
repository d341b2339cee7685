#include "WidgetTestSupport.h"

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QPainter>

#include "widgets/Canvas.h"
#include "widgets/WidgetRegistry.h"

namespace mb::test {

void EnsureApplication() {
    // WidgetTestMain makes the application; a test run without it has nothing to paint on.
    if (QApplication::instance() == nullptr) {
        std::fprintf(stderr, "widget tests need the QApplication of WidgetTestMain\n");
        std::abort();
    }
}

TestOwner::TestOwner() : OwnerWindow(this) {
    resize(707, 166);
}

void TestOwner::OnWidgetEvent(int event, int x, int y, int id) {
    heard.push_back(event);
    const int taken = RouteEvent(event, x, y, id, &defaultCursor);
    if (taken != 0)
        reports.push_back({event, taken});
}

void TestOwner::Invalidate(const Rect& rect) {
    invalidated.push_back(rect);
    OwnerWindow::Invalidate(rect);
}

void TestOwner::RepaintNow(const Rect& rect) {
    repainted.push_back(rect);
    OwnerWindow::RepaintNow(rect);
}

QImage TestOwner::Render(int width, int height, Color background) const {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(ToQColor(background));
    QPainter painter(&image);
    Canvas canvas(painter, QRegion(0, 0, width, height));
    WidgetRegistry::Instance().PaintAll(canvas, this);
    return image;
}

Color PixelAt(const QImage& image, int x, int y) {
    return FromQColor(image.pixelColor(x, y));
}

bool AllPixels(const QImage& image, const Rect& rect, Color c) {
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x)
            if (PixelAt(image, x, y) != c)
                return false;
    return true;
}

} // namespace mb::test
