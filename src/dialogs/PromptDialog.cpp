#include "dialogs/PromptDialog.h"

#include <QLabel>
#include <QPushButton>

#include "widgets/MonoPicture.h"

namespace mb {

namespace {

// The icon is drawn black on white, whatever the main window's colours.
constexpr Color kIconInk = 0x00000000;
constexpr Color kIconPaper = 0x00FFFFFF;
// The icon picture's own size in pixels; like a static icon control, the place is sized
// to the picture rather than the picture to the place.
constexpr int kIconPixels = 32;

} // namespace

PromptDialog::PromptDialog(
    QWidget* owner, const QString& caption, int x, int y, int width, int height)
    : QDialog(owner), units_(DialogUnits::DialogFont(owner)) {
    setWindowTitle(caption);
    setFont(DialogUnits::DialogFont(owner));
    setFixedSize(units_.Size(width, height));
    const QPoint origin = owner != nullptr ? owner->mapToGlobal(QPoint(0, 0)) : QPoint(0, 0);
    move(origin + QPoint(units_.X(x), units_.Y(y)));

    auto* icon = new QLabel(this);
    icon->setPixmap(MonoPicture::ProgramIcon(kIconInk, kIconPaper).pixmap(kIconPixels));
    icon->setGeometry(units_.X(kIconX), units_.Y(kIconY), kIconPixels, kIconPixels);
}

void PromptDialog::PlaceMessage(const std::string& text, int x, int y, int width, int height) {
    message_ = new QLabel(QString::fromStdString(text), this);
    message_->setObjectName(QString::number(kMessageId));
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    message_->setGeometry(units_.Rect(x, y, width, height));
}

QPushButton* PromptDialog::AddButton(
    int id, const QString& text, int x, int y, int width, int height, bool isDefault) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(QString::number(id));
    button->setGeometry(units_.Rect(x, y, width, height));
    button->setDefault(isDefault);
    if (isDefault)
        button->setFocus();
    const int result = ResultFor(id);
    connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
    buttons_[id] = button;
    return button;
}

QPushButton* PromptDialog::Button(int id) const {
    const auto found = buttons_.find(id);
    return found != buttons_.end() ? found->second : nullptr;
}

int PromptDialog::ResultFor(int id) {
    switch (id) {
    case kOkId:
        return kOkResult;
    case kDontSaveId:
        return kDontSaveResult;
    default:
        return kCancelResult;
    }
}

void PromptDialog::reject() {
    done(kCancelResult);
}

} // namespace mb
