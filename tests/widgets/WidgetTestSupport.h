#pragma once

#include <vector>

#include <QImage>
#include <QWidget>

#include "widgets/Color.h"
#include "widgets/OwnerWindow.h"

namespace mb::test {

// Stops the run when the offscreen application of WidgetTestMain is missing.
void EnsureApplication();

// One report that reached an owner.
struct Report {
    int event;
    int id;
    bool operator==(const Report&) const = default;
};

// Checks for the application before anything else of the object that derives from it.
struct ApplicationFirst {
    ApplicationFirst() { EnsureApplication(); }
};

// An owner window that follows the owner protocol (pointer, then dispatch for id 0) and
// records what it hears, without acting on it.
class TestOwner : private ApplicationFirst, public QWidget, public OwnerWindow {
public:
    TestOwner();

    void OnWidgetEvent(int event, int x, int y, int id) override;
    void Invalidate(const Rect& rect) override;
    void RepaintNow(const Rect& rect) override;
    void CaptureMouse() override { ++captures; }
    void ReleaseMouseCapture() override { ++releases; }

    // Runs the owner's handling of a mouse event at (x, y), as its mouse handlers do.
    void Mouse(int event, int x, int y) { OnWidgetEvent(event, x, y, 0); }
    // The pointer shown where no widget sets one.
    QCursor defaultCursor{Qt::ForbiddenCursor};
    // Every widget of this owner painted into an image of the given size over background.
    QImage Render(int width, int height, Color background = 0x00808080) const;

    std::vector<int> heard; // every event code, taken or not
    std::vector<Report> reports;
    std::vector<Rect> invalidated;
    std::vector<Rect> repainted;
    int captures = 0;
    int releases = 0;
};

// The colour of one pixel as the program stores colours.
Color PixelAt(const QImage& image, int x, int y);
// True when every pixel of rect has colour c.
bool AllPixels(const QImage& image, const Rect& rect, Color c);

} // namespace mb::test
