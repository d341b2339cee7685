#include "app/QtPrompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "files/SetupDocument.h"
#include "widgets/ColorDialog.h"

namespace mb {

namespace {

std::optional<std::string> Chosen(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

} // namespace

QString QtPrompts::FileDialogFilter() {
    const QStringList parts =
        QString::fromUtf8(SetupDocument::kFileFilter).split('|', Qt::SkipEmptyParts);
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // The display text already names its pattern; Qt reads the pattern from it.
        filters << parts[i];
    }
    return filters.join(";;");
}

void QtPrompts::ShowNote(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, kNoteCaption, QString::fromStdString(text),
                    QMessageBox::Ok);
    box.exec();
}

int QtPrompts::SaveChanges(const std::string& message) {
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kSaveChangesCaption),
                    QString::fromStdString(message), QMessageBox::NoButton, owner_);
    QPushButton* save = box.addButton(kSaveText, QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(kCancelText, QMessageBox::RejectRole);
    QPushButton* dontSave = box.addButton(kDontSaveText, QMessageBox::DestructiveRole);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save)
        return kSave;
    if (box.clickedButton() == dontSave)
        return kDontSave;
    return kCancel;
}

bool QtPrompts::OkCancel(const std::string& message) {
    QMessageBox box(QMessageBox::Warning, kOkCancelCaption, QString::fromStdString(message),
                    QMessageBox::Ok | QMessageBox::Cancel, owner_);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

std::optional<std::string> QtPrompts::OpenSetupPath() {
    return Chosen(QFileDialog::getOpenFileName(nullptr, {}, {}, FileDialogFilter()));
}

std::optional<std::string> QtPrompts::SaveSetupPath(const std::string& proposed) {
    QFileDialog dialog(owner_, {}, QString::fromStdString(proposed), FileDialogFilter());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(SetupDocument::kDefaultExtension);
    dialog.selectFile(QString::fromStdString(proposed));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return Chosen(dialog.selectedFiles().first());
}

std::optional<std::string> QtPrompts::ImportSoundFile() {
    return Chosen(QFileDialog::getOpenFileName(owner_, {}, {}, kWaveFilter));
}

std::optional<uint32_t> QtPrompts::PickColor(uint32_t current) {
    return ShowColorDialog(owner_, current);
}

} // namespace mb
