#include "widgets/MToggleButton.h"

namespace mb {

MToggleButton::MToggleButton() {
    SetTypeName(kTypeName);
}

MToggleButton::~MToggleButton() = default;

void MToggleButton::SetState(bool flag) {
    state_ = flag;
    Show();
}

void MToggleButton::Paint(Canvas& dc) {
    PaintLook(dc, IsPressed() != state_);
}

int MToggleButton::OnMouse(int event, int x, int y) {
    if (!GetRect().Contains(x, y))
        return WidgetResult::kNotTaken;
    switch (event) {
    case WidgetEvent::kLeftPress:
        SetPressed(true);
        Redraw();
        BecomePressedWidget();
        return WidgetResult::kPressTaken;
    case WidgetEvent::kLeftRelease:
        if (!IsPressed())
            return WidgetResult::kNotTaken;
        SetPressed(false);
        SetState(!state_);
        ClearPressedWidget();
        return WidgetResult::kReleaseTaken;
    case WidgetEvent::kRightPress:
        return WidgetResult::kRightPressTaken;
    default:
        return WidgetResult::kNotTaken;
    }
}

} // namespace mb
