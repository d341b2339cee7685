// The main window's side of the setup document: what the document and the setup
// controller ask of the window (its title, place, colours and the controls that show
// the setup's global values), and where a window may be placed on the screens there are.
#include <algorithm>

#include <QGuiApplication>
#include <QScreen>

#include "app/MainWindow.h"
#include "panel/WidgetPanel.h"

namespace mb {

namespace {

// A window counts as visible at a place when at least this much of it is on a screen.
constexpr int kVisibleWidth = 64;
constexpr int kVisibleHeight = 32;

} // namespace

QPoint MainWindow::VisiblePosition(const QPoint& wanted, const QSize& size) {
    const QRect window(wanted, size);
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (const QScreen* screen : screens) {
        const QRect on = screen->availableGeometry().intersected(window);
        if (on.width() >= std::min(kVisibleWidth, size.width()) &&
            on.height() >= std::min(kVisibleHeight, size.height()))
            return wanted;
    }
    if (screens.isEmpty())
        return wanted;
    // The nearest screen, measured from the window's centre, and the nearest place on it.
    const QPoint centre = window.center();
    const QScreen* nearest = screens.first();
    long long best = -1;
    for (const QScreen* screen : screens) {
        const QRect area = screen->availableGeometry();
        const long long dx = std::max({area.left() - centre.x(), 0, centre.x() - area.right()});
        const long long dy = std::max({area.top() - centre.y(), 0, centre.y() - area.bottom()});
        const long long d = dx * dx + dy * dy;
        if (best < 0 || d < best) {
            best = d;
            nearest = screen;
        }
    }
    const QRect area = nearest->availableGeometry();
    const int x =
        std::clamp(wanted.x(), area.left(), std::max(area.left(), area.right() - size.width() + 1));
    const int y =
        std::clamp(wanted.y(), area.top(), std::max(area.top(), area.bottom() - size.height() + 1));
    return {x, y};
}

// ---- DocumentWindow ----

void MainWindow::SetTitle(const std::string& title) {
    documentTitle_ = title;
    ShowTitle();
}

uint32_t MainWindow::SchemeColor5() const {
    return panel_->Scheme().GetColor(5);
}

void MainWindow::ApplyColor(uint32_t color) {
    panel_->ApplyColor(color);
    TakeColors();
    update();
    panel_->FitColumnsToWidth();
}

int32_t MainWindow::WindowX() const {
    return frameGeometry().x();
}

int32_t MainWindow::WindowY() const {
    return frameGeometry().y();
}

void MainWindow::MoveTo(int32_t x, int32_t y) {
    move(VisiblePosition(QPoint(x, y), frameGeometry().size()));
}

void MainWindow::Hide() {
    // The window stays on screen and only stops painting until Show: unmapping it would
    // let the desktop forget its place, its stacking and its focus for a moment.
    setUpdatesEnabled(false);
}

void MainWindow::Show() {
    setUpdatesEnabled(true);
    update();
}

void MainWindow::ResizeToColumns(int n) {
    panel_->ResizeToColumns(n);
}

void MainWindow::FitColumnsToWidth() {
    panel_->FitColumnsToWidth();
}

void MainWindow::SetTempoUnit(int unit) {
    panel_->TempoField().SetUnit(unit);
}

void MainWindow::SetTempo(double bpm) {
    controller_.SetTempo(bpm);
}

void MainWindow::SetMasterVolume(int volume) {
    controller_.SetMasterVolume(volume);
}

void MainWindow::SetEValue(int value) {
    controller_.SetEValue(value);
}

void MainWindow::SelectLoop(int n) {
    controller_.SelectLoop(n);
}

void MainWindow::SetSoundToggle(bool on) {
    panel_->MuteButton().SetState(on);
}

void MainWindow::RestoreFocus() {
    ResetFocus();
}

void MainWindow::ShowStatus(const std::string& text) {
    panel_->ShowStatusText(text);
}

} // namespace mb
