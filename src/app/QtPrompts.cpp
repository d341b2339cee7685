#include "app/QtPrompts.h"

#include <QFileDialog>
#include <QMessageBox>

#include "app/MidiOutputDialog.h"
#include "app/OkCancelDialog.h"
#include "app/SaveChangesDialog.h"
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
    SaveChangesDialog dialog(owner_, message);
    switch (dialog.exec()) {
    case PromptDialog::kOkResult:
        return kSave;
    case PromptDialog::kDontSaveResult:
        return kDontSave;
    default:
        return kCancel;
    }
}

bool QtPrompts::OkCancel(const std::string& message) {
    OkCancelDialog dialog(owner_, message);
    return dialog.exec() == PromptDialog::kOkResult;
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
    QFileDialog dialog(owner_, kImportTitle, QString(), kWaveFilter);
    // Any name: a folder without WAV files is picked by typing a new name in it.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return Chosen(dialog.selectedFiles().first());
}

std::optional<uint32_t> QtPrompts::PickColor(uint32_t current) {
    return ShowColorDialog(owner_, current);
}

std::optional<MidiChoice> QtPrompts::ChooseMidi(const MidiChoice& current,
                                                const std::vector<MidiPortId>& outputs,
                                                const std::vector<MidiPortId>& inputs) {
    MidiOutputDialog dialog(owner_, current, outputs, inputs);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Choice();
}

} // namespace mb
