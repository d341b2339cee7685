#include "panel/LoopPopup.h"

#include <algorithm>

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include "model/Groove.h"
#include "model/Setup.h"
#include "panel/WidgetPanel.h"
#include "widgets/MonoPicture.h"
#include "widgets/WidgetEvent.h"

namespace mb {

namespace {

static constexpr int kNextCtrlStep = 1;
static constexpr int kRepeatCtrlStep = 4;
// With Ctrl the swing moves a straight pair to a triplet feel in two steps.
static constexpr int kSwingCtrlStep = 8;
// Colour n of the scheme as an index into the stored colours.
constexpr size_t Index(int n) {
    return static_cast<size_t>(n - 1);
}

} // namespace

LoopPopup::LoopPopup() : OwnerWindow(this) {}

LoopPopup::~LoopPopup() = default;

void LoopPopup::Create(QWidget* parent, Setup& setup) {
    // A borderless tool window stays above its owner and has no task bar entry.
    setParent(parent, Qt::Tool | Qt::FramelessWindowHint);
    placeX_ = 0;
    placeY_ = 0;
    loop_ = 0;
    setup_ = &setup;
    setGeometry(placeX_, placeY_, kWidth, kHeight);
    setFixedSize(kWidth, kHeight);
    defaultCursor_ = MonoPicture::LoadCursor(kCursorName);

    background_.Create(0, kBackgroundName, 0, 0, this, kBackgroundName);

    MDial::Layout next;
    next.fieldDy = 3;
    next.fieldWidth = 21;
    next.fieldHeight = 15;
    next.upName = "UPARROW";
    next.upDx = 21;
    next.downName = "DNARROW";
    next.downDx = 21;
    next.downDy = 9;
    next.minimum = 1;
    next.maximum = kNextMaximum;
    next.ctrlStep = kNextCtrlStep;
    nextDial_.Create(kNextDialId, 1, 1, next, this);
    nextDial_.SetTransparent(false);
    nextDial_.SetImmediate(true);

    MDial::Layout repeat;
    repeat.upName = "UPARROW";
    repeat.downName = "DNARROW";
    repeat.downDy = 9;
    repeat.fieldDx = 7;
    repeat.fieldDy = 3;
    repeat.fieldWidth = 21;
    repeat.fieldHeight = 15;
    repeat.minimum = 1;
    repeat.maximum = kRepeatMaximum;
    repeat.ctrlStep = kRepeatCtrlStep;
    repeatDial_.Create(kRepeatDialId, 96, 1, repeat, this);
    repeatDial_.SetTransparent(false);
    repeatDial_.SetImmediate(true);

    MDial::Layout swing = repeat;
    swing.minimum = kStraightSwing;
    swing.maximum = kMaxSwing;
    swing.ctrlStep = kSwingCtrlStep;
    swingDial_.Create(kSwingDialId, 1, 1 + kSwingRowDy, swing, this);
    swingDial_.SetTransparent(false);
    swingDial_.SetImmediate(true);

    DropFocus();
}

void LoopPopup::SetScheme(const ColorScheme& scheme, bool highContrast) {
    for (int n = 1; n <= ColorScheme::kColorCount; ++n)
        colors_[Index(n)] = scheme.GetColor(n);
    const auto c = [this](int n) { return colors_[Index(n)]; };
    const auto text = [highContrast](Color ink, Color paper) {
        return highContrast ? ColorScheme::ReadableInk(ink, paper) : ink;
    };
    backgroundColor_ = c(1);
    for (MDial* dial : {&nextDial_, &repeatDial_, &swingDial_})
        dial->SetColors(c(6), c(4), text(c(4), c(6)), c(6), 0, 0, 0);
    background_.SetColors(text(c(5), c(7)), c(7));

    update();
}

void LoopPopup::ShowFor(int x, int y, int loop) {
    if (setup_ == nullptr || loop < 0 || loop >= kLoopCount)
        return;
    placeX_ = x;
    placeY_ = y;
    loop_ = loop;
    move(x, y);
    const Loop& edited = setup_->loop(loop);
    nextDial_.SetValue(edited.nextLoop + 1);
    repeatDial_.SetValue(edited.repeatCount);
    swingDial_.SetValue(std::clamp<int>(edited.swing, kStraightSwing, kMaxSwing));
    swingEdited_ = false;
    keyDial_ = -1;
    show();
    DropFocus();
}

MDial& LoopPopup::MarkedDial() {
    return keyDial_ == 2 ? swingDial_ : keyDial_ == 1 ? repeatDial_ : nextDial_;
}

void LoopPopup::TakeKeyboard() {
    keyDial_ = 0;
    update();
}

void LoopPopup::MoveKeyboardMark(bool back) {
    keyDial_ = (keyDial_ + (back ? 2 : 1)) % 3;
    update();
}

void LoopPopup::StepMarkedDial(int delta, bool large) {
    MDial& dial = MarkedDial();
    dial.Step(delta, large);
    // The edit as a typed number would make it.
    OnWidgetEvent(WidgetEvent::kFieldCommit, 0, 0, dial.GetId() + MDial::kFieldPart);
}

void LoopPopup::ReleaseKeyboard() {
    keyDial_ = -1;
    hide();
}

void LoopPopup::DropFocus() {
    if (QWidget* focused = QApplication::focusWidget())
        focused->clearFocus();
}

void LoopPopup::OnWidgetEvent(int event, int x, int y, int id) {
    id = RouteEvent(event, x, y, id, defaultCursor_ ? &*defaultCursor_ : nullptr);
    if (event != WidgetEvent::kLeftRelease && event != WidgetEvent::kMove &&
        event != WidgetEvent::kFieldCommit)
        return;
    if (setup_ == nullptr)
        return;
    Loop& edited = setup_->loop(loop_);
    if (id >= kNextDialId && id <= kNextDialId + MDial::kIdSpan) {
        nextDial_.OnChild(id);
        // The dial keeps its number within 1 to 8; the clamp guards the loop chain
        // against any text that slipped past it.
        const int next = std::clamp(nextDial_.ReadValue() - 1, 0, kLoopCount - 1);
        if (next != edited.nextLoop)
            setup_->modified = 1;
        edited.nextLoop = static_cast<int16_t>(next);
    } else if (id >= kRepeatDialId && id <= kRepeatDialId + MDial::kIdSpan) {
        repeatDial_.OnChild(id);
        const int repeat = std::clamp(repeatDial_.ReadValue(), 1, kRepeatMaximum);
        if (repeat != edited.repeatCount)
            setup_->modified = 1;
        edited.repeatCount = static_cast<int16_t>(repeat);
    } else if (id >= kSwingDialId && id <= kSwingDialId + MDial::kIdSpan) {
        swingDial_.OnChild(id);
        const int swing = std::clamp(swingDial_.ReadValue(), kStraightSwing, kMaxSwing);
        if (swing != edited.swing) {
            // An undo point for the first change of a dial held or typed, not each step.
            if (onSwingEdit_ && !swingEdited_)
                onSwingEdit_();
            swingEdited_ = true;
            setup_->modified = 1;
        }
        edited.swing = static_cast<int16_t>(swing);
    }
}

void LoopPopup::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.fillRect(event->rect(), ToQColor(backgroundColor_));
    }
    PaintWidgets(event);
    if (keyDial_ >= 0) {
        MDial& dial = MarkedDial();
        QPainter painter(this);
        PaintKeyboardMark(painter,
                          dial.UpArrow()
                              .GetRect()
                              .United(dial.DownArrow().GetRect())
                              .United(dial.Field().GetRect()),
                          colors_);
    }
}

void LoopPopup::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        DropFocus();
    ForwardMouse(event, false);
}

void LoopPopup::mouseReleaseEvent(QMouseEvent* event) {
    ForwardMouse(event, false);
}

void LoopPopup::mouseDoubleClickEvent(QMouseEvent* event) {
    ForwardMouse(event, false);
}

void LoopPopup::mouseMoveEvent(QMouseEvent* event) {
    ForwardMouse(event, false);
}

} // namespace mb
