#include "widgets/WidgetRegistry.h"

#include <algorithm>

#include "widgets/MButton.h"
#include "widgets/MWnd.h"
#include "widgets/WidgetOwner.h"

namespace mb {

WidgetRegistry& WidgetRegistry::Instance() {
    static WidgetRegistry registry;
    return registry;
}

void WidgetRegistry::Add(MWnd* widget) {
    widgets_.push_back(widget);
}

void WidgetRegistry::Remove(MWnd* widget) {
    widgets_.erase(std::remove(widgets_.begin(), widgets_.end(), widget), widgets_.end());
    if (pressed_ != nullptr && static_cast<MWnd*>(pressed_) == widget)
        pressed_ = nullptr;
}

MButton* WidgetRegistry::InputWidget(MWnd* widget) {
    if (widget->TypeName() == MWnd::kTypeName)
        return nullptr;
    return dynamic_cast<MButton*>(widget);
}

void WidgetRegistry::PaintAll(Canvas& dc, const WidgetOwner* owner) {
    for (auto it = widgets_.rbegin(); it != widgets_.rend(); ++it) {
        if ((*it)->GetOwner() == owner)
            (*it)->Paint(dc);
    }
}

int WidgetRegistry::DispatchMouse(int event, int x, int y, const WidgetOwner* owner) {
    for (auto it = widgets_.rbegin(); it != widgets_.rend(); ++it) {
        MWnd* widget = *it;
        if (widget->GetOwner() != owner)
            continue;
        MButton* button = InputWidget(widget);
        if (button == nullptr)
            continue;
        if (button->Dispatch(event, x, y) != WidgetResult::kNotTaken)
            return button->GetId();
    }
    return 0;
}

MButton* WidgetRegistry::InputWidgetAt(int x, int y, const WidgetOwner* owner) const {
    for (auto it = widgets_.rbegin(); it != widgets_.rend(); ++it) {
        MButton* button = (*it)->GetOwner() == owner ? InputWidget(*it) : nullptr;
        if (button != nullptr && button->IsVisible() && button->GetRect().Contains(x, y))
            return button;
    }
    return nullptr;
}

int WidgetRegistry::CursorAt(int, int x, int y, WidgetOwner* owner) {
    for (auto it = widgets_.rbegin(); it != widgets_.rend(); ++it) {
        MWnd* widget = *it;
        if (widget->GetOwner() != owner)
            continue;
        MButton* button = InputWidget(widget);
        if (button == nullptr || !button->GetRect().Contains(x, y) || !button->GetCursor() ||
            !button->IsVisible())
            continue;
        owner->SetPointer(*button->GetCursor());
        return button->GetId();
    }
    return 0;
}

} // namespace mb
