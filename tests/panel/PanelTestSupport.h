#pragma once

#include <string>
#include <vector>

#include <QImage>
#include <QWidget>

#include "WidgetTestSupport.h"
#include "engine/SequencerPorts.h"
#include "widgets/Color.h"
#include "widgets/OwnerWindow.h"

class QLineEdit;

namespace mb::test {

// A Ctrl key the test holds down or lets go; installed into every dial while it lives.
class FakeKeyboard : public KeyboardState {
public:
    FakeKeyboard();
    ~FakeKeyboard() override;
    bool IsCtrlDown() const override { return ctrl; }
    bool ctrl = false;
};

// A stand-in main window: it fills its background and paints its widgets like the real
// one, and records the ids its widgets report.
class PanelOwner : private ApplicationFirst, public QWidget, public OwnerWindow {
public:
    PanelOwner();

    void OnWidgetEvent(int event, int x, int y, int id) override;
    void Mouse(int event, int x, int y) { OnWidgetEvent(event, x, y, 0); }

    // The whole window, native fields included, over the background colour.
    QImage Grab(qreal scale = 1.0);
    Color background = 0x00808080;
    std::vector<Report> reports;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Types text into a field as the user would, then, when leave is true, takes the focus
// away from it.
void Type(QLineEdit& field, const std::string& text, bool leave = false);
void Leave(QLineEdit& field);

} // namespace mb::test
