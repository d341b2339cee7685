#include "widgets/HyperlinkLabel.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimerEvent>

#include "widgets/LinkOpener.h"
#include "widgets/MonoPicture.h"

namespace mb {

HyperlinkLabel::HyperlinkLabel(QWidget* parent)
    : QLabel(parent), opener_(&LinkOpener::Open), report_([this](const std::string& message) {
          QMessageBox box(QMessageBox::Warning, QString(), QString::fromStdString(message),
                          QMessageBox::Ok, window());
          box.exec();
      }) {
    setMouseTracking(true);
    setAutoFillBackground(false);
}

HyperlinkLabel::~HyperlinkLabel() {
    hoverTimer_.stop();
}

void HyperlinkLabel::Attach() {
    if (address_.empty())
        address_ = text().toStdString();
    if (text().isEmpty())
        setText(QString::fromStdString(address_));
    plainFont_ = font();
    plainFont_.setUnderline(false);
    underlinedFont_ = plainFont_;
    underlinedFont_.setUnderline(true);
    attached_ = true;
    UseFont(underline_ == kUnderlineAlways ? underlinedFont_ : plainFont_);
    FitSize();
    if (!linkCursor_)
        linkCursor_ = MonoPicture::LoadCursor(kCursorName);
    if (linkCursor_)
        setCursor(*linkCursor_);
    setToolTip(QString::fromStdString(address_));
    Restyle();
}

void HyperlinkLabel::SetAddress(const std::string& address) {
    address_ = address;
    if (attached_) {
        FitSize();
        setToolTip(QString::fromStdString(address_));
    }
}

void HyperlinkLabel::SetVisited(bool flag) {
    visited_ = flag;
    if (attached_)
        Restyle();
}

void HyperlinkLabel::SetUnderline(int mode) {
    if (mode == underline_)
        return;
    if (attached_)
        UseFont(mode == kUnderlineAlways ? underlinedFont_ : plainFont_);
    underline_ = mode;
}

void HyperlinkLabel::SetAutoSize(bool flag) {
    autoSize_ = flag;
    if (attached_)
        FitSize();
}

Color HyperlinkLabel::TextColor() const {
    if (hovering_)
        return kHoverColor;
    return visited_ ? kVisitedColor : kLinkColor;
}

void HyperlinkLabel::Restyle() {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, ToQColor(TextColor()));
    setPalette(p);
    update();
}

void HyperlinkLabel::UseFont(const QFont& font) {
    setFont(font);
    update();
}

void HyperlinkLabel::mouseMoveEvent(QMouseEvent* event) {
    if (!hovering_) {
        hovering_ = true;
        if (underline_ == kUnderlineHover)
            UseFont(underlinedFont_);
        Restyle();
        hoverTimer_.start(kHoverPollMs, this);
    }
    QLabel::mouseMoveEvent(event);
}

void HyperlinkLabel::timerEvent(QTimerEvent* event) {
    if (event->timerId() != hoverTimer_.timerId()) {
        QLabel::timerEvent(event);
        return;
    }
    if (!rect().contains(mapFromGlobal(QCursor::pos()))) {
        hovering_ = false;
        hoverTimer_.stop();
        if (underline_ != kUnderlineAlways)
            UseFont(plainFont_);
        Restyle();
    }
}

void HyperlinkLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        Click();
    QLabel::mousePressEvent(event);
}

void HyperlinkLabel::Click() {
    hovering_ = false;
    const int result = opener_ ? opener_(address_) : LinkOpener::kNoAssociation;
    visited_ = result > LinkOpener::kFailureLimit;
    if (visited_) {
        SetVisited(true);
        return;
    }
    Restyle();
    QApplication::beep();
    if (report_)
        report_(LinkOpener::FailureMessage(result));
}

void HyperlinkLabel::FitSize() {
    if (!autoSize_ || !attached_)
        return;
    const QRect window = geometry();
    const QRect client = contentsRect();
    const QFontMetrics metrics(underlinedFont_);
    const int textWidth = metrics.horizontalAdvance(text());
    const int textHeight = metrics.height();
    QRect fitted = window;
    const int newHeight = textHeight + (window.height() - client.height());
    if (alignment() & Qt::AlignVCenter) {
        const int grow = newHeight - window.height();
        fitted.setTop(window.top() - grow / 2);
        fitted.setHeight(newHeight);
    } else {
        fitted.setHeight(newHeight);
    }
    const int newWidth = textWidth + (window.width() - client.width());
    const int grow = newWidth - window.width();
    if (alignment() & Qt::AlignHCenter) {
        fitted.setLeft(window.left() - grow / 2);
        fitted.setWidth(newWidth);
    } else if (alignment() & Qt::AlignRight) {
        fitted.setLeft(window.right() + 1 - newWidth);
        fitted.setWidth(newWidth);
    } else {
        fitted.setWidth(newWidth);
    }
    setGeometry(fitted);
}

} // namespace mb
