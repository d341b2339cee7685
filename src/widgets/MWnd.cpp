#include "widgets/MWnd.h"

#include <QString>

#include "widgets/SystemColors.h"
#include "widgets/WidgetOwner.h"
#include "widgets/WidgetRegistry.h"

namespace mb {

MWnd::MWnd() = default;

MWnd::~MWnd() {
    if (registered_)
        WidgetRegistry::Instance().Remove(this);
}

void MWnd::Create(
    int id, const std::string& text, int x, int y, int width, int height, WidgetOwner* owner) {
    Register(id, text, {x, y, x + width, y + height}, owner);
}

void MWnd::CreateInRect(
    int id, const std::string& text, int left, int top, int right, int bottom, WidgetOwner* owner) {
    Register(id, text, {left, top, right, bottom}, owner);
}

void MWnd::Register(int id, const std::string& text, const Rect& rect, WidgetOwner* owner) {
    id_ = id;
    owner_ = owner;
    text_ = text;
    rect_ = rect;
    if (!registered_) {
        WidgetRegistry::Instance().Add(this);
        registered_ = true;
    }
    SetColors(SystemColors::Highlight(), SystemColors::ButtonFace());
    SetAttached(true);
    Show();
}

void MWnd::SetColors(Color ink, Color paper) {
    ink_ = ink;
    paper_ = paper;
    if (visible_)
        Show();
}

void MWnd::Paint(Canvas& dc) {
    if (!visible_ || !dc.RectVisible(rect_))
        return;
    dc.FillRect(rect_, paper_);
    dc.DrawText(rect_, QString::fromStdString(text_), ink_);
    dc.ExcludeClipRect(rect_);
}

void MWnd::Show() {
    if (!attached_)
        return;
    visible_ = true;
    InvalidateOwner();
}

void MWnd::Hide() {
    if (!attached_)
        return;
    visible_ = false;
    InvalidateOwner();
}

void MWnd::SetAttached(bool flag) {
    attached_ = flag;
}

void MWnd::SetInk(Color c) {
    ink_ = c;
    if (visible_)
        Show();
}

void MWnd::SetPaper(Color c) {
    paper_ = c;
    if (visible_)
        Show();
}

void MWnd::Redraw() {
    if (visible_ && owner_ != nullptr)
        owner_->RepaintNow(rect_);
}

void MWnd::InvalidateOwner() {
    if (owner_ != nullptr)
        owner_->Invalidate(rect_);
}

} // namespace mb
