#include "dialogs/QtPrompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>

#include "dialogs/ExportDialog.h"
#include "dialogs/MidiOutputDialog.h"
#include "dialogs/OkCancelDialog.h"
#include "dialogs/SaveChangesDialog.h"
#include "dialogs/SoundOutputDialog.h"
#include "files/SetupDocument.h"
#include "widgets/ColorDialog.h"

namespace mb {

namespace {

std::optional<std::string> Chosen(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

class QtProgress : public ProgressPrompt {
public:
    QtProgress(QWidget* owner, const std::string& text)
        : dialog_(QString::fromStdString(text), "Cancel", 0, kFull, owner) {
        dialog_.setWindowTitle(QString::fromStdString(text));
        dialog_.setWindowModality(Qt::NonModal);
        dialog_.setAutoClose(false);
        dialog_.setAutoReset(false);
        dialog_.setMinimumDuration(0);
        dialog_.setValue(0);
        dialog_.show();
    }
    void SetProgress(int value) override { dialog_.setValue(value); }
    bool Cancelled() const override { return dialog_.wasCanceled(); }

private:
    QProgressDialog dialog_;
};

} // namespace

QtPrompts::QtPrompts(QWidget* owner) : owner_(owner) {}

QtPrompts::~QtPrompts() = default;

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

void QtPrompts::ShowNotice(const std::string& text) {
    notice_ = std::make_unique<QMessageBox>(QMessageBox::NoIcon, kNoteCaption,
                                            QString::fromStdString(text), QMessageBox::Ok);
    notice_->setModal(false);
    notice_->show();
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

std::optional<OutputChoice> QtPrompts::ChooseSoundOutput(const OutputChoice& current,
                                                         const OutputStatus& status) {
    SoundOutputDialog dialog(owner_, current, status);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Choice();
}

std::optional<MidiChoice> QtPrompts::ChooseMidi(const MidiChoice& current,
                                                const std::vector<MidiPortId>& outputs,
                                                const std::vector<MidiPortId>& inputs) {
    MidiOutputDialog dialog(owner_, current, outputs, inputs);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Choice();
}

std::optional<ExportChoice> QtPrompts::ExportAudioChoice(const ExportChoice& proposed) {
    ExportDialog dialog(owner_, proposed);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Choice();
}

std::optional<std::string> QtPrompts::ExportMidiPath(const std::string& proposed) {
    QFileDialog dialog(owner_, kExportMidiTitle, QString::fromStdString(proposed), kMidiFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(kMidiExtension);
    dialog.selectFile(QString::fromStdString(proposed));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return Chosen(dialog.selectedFiles().first());
}

std::unique_ptr<ProgressPrompt> QtPrompts::ShowProgress(const std::string& text) {
    return std::make_unique<QtProgress>(owner_, text);
}

} // namespace mb
