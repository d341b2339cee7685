#include "dialogs/AboutBox.h"

#include <filesystem>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QUrl>

#include "Version.h"
#include "widgets/Color.h"
#include "widgets/HyperlinkLabel.h"
#include "widgets/MonoPicture.h"

namespace mb {

namespace {

namespace fs = std::filesystem;

// Where the installed manual lies relative to the installed program.
constexpr const char* kInstalledManual = "../share/doc/marrowbeat/README.md";

} // namespace

AboutBox::AboutBox(QWidget* parent, uint32_t ink, uint32_t paper)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      units_(DialogUnits::DialogFont(parent)) {
    setFont(DialogUnits::DialogFont(parent));
    setFixedSize(units_.Size(kWidth, kHeight));
    setMouseTracking(true);
    // Below the picture the box goes on in its paper: no band of the desktop's grey.
    QPalette background = palette();
    background.setColor(QPalette::Window, ToQColor(paper));
    setPalette(background);
    setAutoFillBackground(true);
    auto* picture = new QLabel(this);
    const QImage image = MonoPicture::AboutPicture(ink, paper, kVersion);
    picture->setPixmap(QPixmap::fromImage(image));
    // As wide as the picture: the link below it goes on in the picture's paper.
    setFixedSize(image.width(), height());
    picture->move(0, 0);
    picture->setAttribute(Qt::WA_TransparentForMouseEvents);
    link_ = new HyperlinkLabel(this);
    link_->setText(kLinkText);
    link_->setGeometry(units_.Rect(kLinkX, kLinkY, kLinkWidth, kLinkHeight).intersected(rect()));
    link_->SetAddress(ManualAddress());
    link_->SetUnderline(HyperlinkLabel::kUnderlineNever);
    link_->Attach();
    // The box decides about every press, also those that reach the link while the box
    // does not hold the mouse.
    link_->installEventFilter(this);
    linkCursor_ = MonoPicture::LoadCursor(kLinkCursorName);
    plainCursor_ = MonoPicture::LoadCursor(kCursorName);
    if (plainCursor_)
        setCursor(*plainCursor_);
    if (parent != nullptr)
        move(parent->geometry().center() - rect().center());
}

std::string AboutBox::ManualAddress() {
    const fs::path installed =
        fs::path(QCoreApplication::applicationDirPath().toStdString()) / kInstalledManual;
    std::error_code error;
    fs::path manual = fs::weakly_canonical(installed, error);
#ifdef MARROWBEAT_SOURCE_README
    if (error || !fs::exists(manual, error))
        manual = MARROWBEAT_SOURCE_README;
#endif
    return QUrl::fromLocalFile(QString::fromStdString(manual.string())).toString().toStdString();
}

QRect AboutBox::LinkRect() const {
    return QRect(link_->mapToGlobal(QPoint(0, 0)), link_->size());
}

void AboutBox::accept() {
    done(kResult);
}

void AboutBox::reject() {
    done(kResult);
}

void AboutBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    grabMouse();
}

void AboutBox::hideEvent(QHideEvent* event) {
    releaseMouse();
    QDialog::hideEvent(event);
}

bool AboutBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == link_) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            Press(mouse->button(), mouse->globalPosition().toPoint());
            return true;
        }
        case QEvent::MouseMove:
            Move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
            break;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AboutBox::mousePressEvent(QMouseEvent* event) {
    Press(event->button(), event->globalPosition().toPoint());
}

void AboutBox::mouseMoveEvent(QMouseEvent* event) {
    Move(event->globalPosition().toPoint());
}

void AboutBox::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        done(kResult);
        break;
    default:
        QDialog::keyPressEvent(event);
        break;
    }
}

void AboutBox::Press(Qt::MouseButton button, const QPoint& global) {
    if (button != Qt::LeftButton)
        return;
    if (!LinkRect().contains(global)) {
        done(kResult);
        return;
    }
    // A failed open explains itself in a message box, which must get its own clicks; the
    // box takes the mouse back afterwards.
    releaseMouse();
    link_->Click();
    if (isVisible())
        grabMouse();
}

void AboutBox::Move(const QPoint& global) {
    const std::optional<QCursor>& shape = LinkRect().contains(global) ? linkCursor_ : plainCursor_;
    if (shape)
        setCursor(*shape);
}

} // namespace mb
