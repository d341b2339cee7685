#include "widgets/EntryField.h"

#include <QFocusEvent>
#include <QMouseEvent>

#include "widgets/FieldCompanion.h"
#include "widgets/WidgetEvent.h"
#include "widgets/WidgetOwner.h"

namespace mb {

EntryField::EntryField() {
    // textEdited comes only from the user, never from SetTextQuiet or setText. A text
    // that the program sets is unmodified while textChanged reports it; one that it sets
    // during an edit (a dial keeping the number in range) is part of that edit.
    connect(this, &QLineEdit::textEdited, this, [this] { OnTextChanged(); });
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (!editing_ && !isModified())
            shown_ = GetText();
    });
}

EntryField::~EntryField() = default;

void EntryField::Create(int id,
                        WidgetOwner* owner,
                        Color ink,
                        Color paper,
                        int x,
                        int y,
                        int width,
                        int height,
                        const std::string& alignment,
                        FieldCompanion* companion) {
    companion_ = companion;
    pending_ = false;
    editing_ = false;
    redraw_ = true;
    immediate_ = true;
    TextField::Create(id, owner, ink, paper, x, y, width, height, alignment);
}

void EntryField::SetRedraw(bool flag) {
    redraw_ = flag;
    setUpdatesEnabled(flag);
}

void EntryField::ShowIfRedraw() {
    if (redraw_)
        show();
}

void EntryField::HideIfRedraw() {
    if (redraw_)
        hide();
}

void EntryField::Report(int event) {
    if (GetOwner() != nullptr)
        GetOwner()->OnWidgetEvent(event, 0, 0, GetId());
}

void EntryField::OnTextChanged() {
    if (!isModified())
        return;
    editing_ = true;
    if (!immediate_) {
        pending_ = true;
        return;
    }
    if (companion_ != nullptr)
        companion_->OnFieldText(GetText());
    Report(WidgetEvent::kFieldCommit);
}

void EntryField::CancelEdit() {
    if (!editing_)
        return;
    editing_ = false;
    pending_ = false;
    const std::string shown = shown_;
    SetTextQuiet(shown);
    if (immediate_) {
        if (companion_ != nullptr)
            companion_->OnFieldText(shown);
        Report(WidgetEvent::kFieldCommit);
    }
}

void EntryField::focusOutEvent(QFocusEvent* event) {
    editing_ = false;
    QLineEdit::focusOutEvent(event);
    CollapseSelection();
    if (companion_ != nullptr)
        companion_->OnFieldLeave();
    Report(WidgetEvent::kFieldLeave);
    if (!immediate_ && pending_) {
        Report(WidgetEvent::kFieldCommit);
        pending_ = false;
    }
}

void EntryField::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        Report(WidgetEvent::kFieldLeftClick);
    else if (event->button() == Qt::RightButton)
        Report(WidgetEvent::kFieldRightClick);
    QLineEdit::mousePressEvent(event);
}

} // namespace mb
