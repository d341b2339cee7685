#include "widgets/MButton.h"

#include <QString>

#include "widgets/MonoPicture.h"
#include "widgets/WidgetRegistry.h"

namespace mb {

MButton::MButton() {
    SetTypeName(kTypeName);
}

MButton::~MButton() = default;

void MButton::Create(
    int id, const std::string& text, int x, int y, int width, int height, WidgetOwner* owner) {
    MWnd::Create(id, text, x, y, width, height, owner);
    pressedInk_ = GetInk();
    pressedPaper_ = GetPaper();
    cursor_.reset();
}

void MButton::CreateInRect(
    int id, const std::string& text, int left, int top, int right, int bottom, WidgetOwner* owner) {
    Create(id, text, left, top, right - left, bottom - top, owner);
}

void MButton::SetColors(Color ink, Color paper) {
    MWnd::SetColors(ink, paper);
    pressedInk_ = ink;
    pressedPaper_ = paper;
}

void MButton::SetColors(Color ink, Color paper, Color pressedInk, Color pressedPaper) {
    MWnd::SetColors(ink, paper);
    pressedInk_ = pressedInk;
    pressedPaper_ = pressedPaper;
}

void MButton::SetCursorName(const std::string& name) {
    cursor_ = MonoPicture::LoadCursor(name);
}

bool MButton::IsPressedWidget() const {
    return WidgetRegistry::Instance().PressedWidget() == this;
}

void MButton::BecomePressedWidget() {
    WidgetRegistry::Instance().SetPressedWidget(this);
}

void MButton::ClearPressedWidget() {
    WidgetRegistry::Instance().SetPressedWidget(nullptr);
}

int MButton::Press() {
    pressed_ = true;
    Redraw();
    BecomePressedWidget();
    return WidgetResult::kPressTaken;
}

int MButton::Release() {
    if (!pressed_)
        return WidgetResult::kNotTaken;
    pressed_ = false;
    Redraw();
    ClearPressedWidget();
    return WidgetResult::kReleaseTaken;
}

int MButton::Dispatch(int event, int x, int y) {
    if (!IsVisible())
        return WidgetResult::kNotTaken;
    switch (event) {
    case WidgetEvent::kLeftPress:
    case WidgetEvent::kRightPress:
        inside_ = true;
        return OnMouse(event, x, y);
    case WidgetEvent::kLeftRelease: {
        // A press that was let go outside its button ends here, unseen by the owner.
        MButton* pressedWidget = WidgetRegistry::Instance().PressedWidget();
        if (pressedWidget != nullptr && !pressedWidget->IsPressed()) {
            ClearPressedWidget();
            return WidgetResult::kNotTaken;
        }
        inside_ = true;
        return OnMouse(WidgetEvent::kLeftRelease, x, y);
    }
    case WidgetEvent::kMove: {
        if (!IsPressedWidget())
            return WidgetResult::kNotTaken;
        const bool over = GetRect().Contains(x, y);
        if (pressed_ && inside_ && !over) {
            pressed_ = false;
            Redraw();
            inside_ = false;
        }
        if (!pressed_ && !inside_ && over) {
            pressed_ = true;
            Redraw();
            inside_ = true;
        }
        return WidgetResult::kNotTaken;
    }
    default:
        return WidgetResult::kNotTaken;
    }
}

int MButton::OnMouse(int event, int x, int y) {
    if (!GetRect().Contains(x, y))
        return WidgetResult::kNotTaken;
    switch (event) {
    case WidgetEvent::kLeftPress:
        return Press();
    case WidgetEvent::kLeftRelease:
        return Release();
    case WidgetEvent::kRightPress:
        return WidgetResult::kRightPressTaken;
    default:
        return WidgetResult::kNotTaken;
    }
}

void MButton::Paint(Canvas& dc) {
    const Rect rect = GetRect();
    if (!IsVisible() || !dc.RectVisible(rect))
        return;
    // Pressed: the face moves one pixel right and down and loses one pixel on each side,
    // which leaves a two-pixel ink band along the top and left edges.
    Rect inner = rect;
    if (pressed_)
        inner = {rect.left + 2, rect.top + 2, rect.right, rect.bottom};
    dc.FillRect(inner, GetPaper());
    dc.DrawText(inner, QString::fromStdString(GetText()), GetInk());
    dc.ExcludeClipRect(inner);
    dc.FillRect(rect, GetInk());
    dc.ExcludeClipRect(rect);
}

} // namespace mb
