#include "app/AboutBox.h"

#include <filesystem>

#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QUrl>

#include "widgets/HyperlinkLabel.h"
#include "widgets/MonoPicture.h"

namespace mb {

namespace {

namespace fs = std::filesystem;

// Where the installed manual lies relative to the installed program.
constexpr const char* kInstalledManual = "../share/doc/marrowbeat/README.md";

} // namespace

AboutBox::AboutBox(QWidget* parent, uint32_t ink, uint32_t paper)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setFixedSize(kWidth, kHeight);
    auto* picture = new QLabel(this);
    picture->setPixmap(QPixmap::fromImage(MonoPicture::AboutPicture(ink, paper)));
    picture->move(0, 0);
    picture->setAttribute(Qt::WA_TransparentForMouseEvents);
    link_ = new HyperlinkLabel(this);
    link_->setText(kLinkText);
    link_->setGeometry(kLinkX, kLinkY, kLinkWidth, kLinkHeight);
    link_->SetAddress(ManualAddress());
    link_->SetUnderline(HyperlinkLabel::kUnderlineNever);
    link_->Attach();
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

void AboutBox::mousePressEvent(QMouseEvent* event) {
    // The link takes its own clicks; any other click closes the box.
    if (event->button() == Qt::LeftButton && !link_->geometry().contains(event->pos()))
        accept();
}

} // namespace mb
