#pragma once

#include <array>
#include <functional>
#include <optional>

#include <QCursor>
#include <QWidget>

#include "panel/MDial.h"
#include "widgets/ColorScheme.h"
#include "widgets/MImage.h"
#include "widgets/OwnerWindow.h"

namespace mb {

class Setup;

// A small frameless window beside a loop button in which that loop's next loop and
// repeat count are edited, and below them its swing. It is the second owner window of the program:
// it paints its own widgets and routes their ids to itself. The main window hides it on any key or
// mouse press. Window thread only.
class LoopPopup : public QWidget, public OwnerWindow {
public:
    static constexpr int kWidth = 127;
    static constexpr int kHeight = 43;
    // The swing row lies this far below the chain row.
    static constexpr int kSwingRowDy = 21;
    static constexpr int kNextDialId = 1020;
    static constexpr int kRepeatDialId = 1040;
    static constexpr int kSwingDialId = 1060;
    static constexpr int kNextMaximum = 8;
    static constexpr int kRepeatMaximum = 32;
    static constexpr const char* kBackgroundName = "LOOPBKGBMP";
    static constexpr const char* kCursorName = "NOCUR";

    LoopPopup();
    ~LoopPopup() override;

    // Makes the hidden window, owned by parent, and its widgets; the setup is the one
    // whose loops are edited. Both must outlive the popup.
    void Create(QWidget* parent, Setup& setup);
    // Takes the seven colours of scheme and recolours the window and its widgets; with
    // highContrast its numbers and words in black or white where they would not be readable.
    void SetScheme(const ColorScheme& scheme, bool highContrast = false);
    // Shows the popup with its top-left corner at (x, y) (screen pixels) for loop
    // (0 to 7); another loop index shows nothing.
    void ShowFor(int x, int y, int loop);
    // The keyboard, from the owner's keys (the owner's window keeps the keyboard focus):
    // TakeKeyboard marks the first dial; Tab moves the mark, Up and Down change the marked
    // dial (large: by the larger step), and ReleaseKeyboard closes the popup.
    void TakeKeyboard();
    bool HasKeyboard() const { return isVisible() && keyDial_ >= 0; }
    // The dial the keyboard edits: 0 next loop, 1 repeats, 2 swing; -1 none.
    int KeyDial() const { return keyDial_; }
    void MoveKeyboardMark(bool back);
    void StepMarkedDial(int delta, bool large);
    void ReleaseKeyboard();
    // Called once before the first change of the swing each time the popup is shown
    // (the owner takes an undo point there).
    void OnSwingEdit(std::function<void()> call) { onSwingEdit_ = std::move(call); }
    // The owner protocol: pointer, dispatch, then the edits of the loop's chain link.
    void OnWidgetEvent(int event, int x, int y, int id) override;

    int GetLoop() const { return loop_; }
    MDial& NextDial() { return nextDial_; }
    MDial& RepeatDial() { return repeatDial_; }
    MDial& SwingDial() { return swingDial_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // Takes the keyboard focus away from every window, as a click outside the fields does.
    static void DropFocus();

    MImage background_;
    int placeX_ = 0;
    int placeY_ = 0;
    int loop_ = 0;
    MDial nextDial_;
    MDial repeatDial_;
    MDial swingDial_;
    std::array<Color, ColorScheme::kColorCount> colors_{};
    Color backgroundColor_ = 0;
    std::optional<QCursor> defaultCursor_;
    Setup* setup_ = nullptr;
    std::function<void()> onSwingEdit_;
    bool swingEdited_ = false;
    // The dial the keyboard edits (0 next, 1 repeats, 2 swing), -1 for none.
    int keyDial_ = -1;
    MDial& MarkedDial();
};

} // namespace mb
