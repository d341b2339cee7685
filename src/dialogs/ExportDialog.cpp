#include "dialogs/ExportDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

namespace mb {

namespace {

constexpr int kPcm16Index = 0;
constexpr int kFloat32Index = 1;
constexpr int kPathChars = 40;

} // namespace

ExportDialog::ExportDialog(QWidget* owner, const ExportChoice& proposed) : QDialog(owner) {
    setWindowTitle(kCaption);
    auto* form = new QFormLayout(this);

    auto* fileRow = new QHBoxLayout;
    path_ = new QLineEdit(QString::fromStdString(proposed.path));
    path_->setMinimumWidth(fontMetrics().averageCharWidth() * kPathChars);
    auto* browse = new QPushButton("Browse...");
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
    fileRow->addWidget(path_);
    fileRow->addWidget(browse);
    form->addRow("File:", fileRow);

    passes_ = new QSpinBox;
    passes_->setRange(1, kMaxPasses);
    passes_->setValue(proposed.passes);
    form->addRow("Passes:", passes_);

    format_ = new QComboBox;
    format_->insertItem(kPcm16Index, "16-bit");
    format_->insertItem(kFloat32Index, "32-bit float");
    format_->setCurrentIndex(proposed.floatOutput ? kFloat32Index : kPcm16Index);
    form->addRow("Samples:", format_);

    loopable_ = new QCheckBox("Loopable (what rings past the end sounds at the start)");
    loopable_->setChecked(proposed.loopable);
    form->addRow(loopable_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

ExportChoice ExportDialog::Choice() const {
    ExportChoice choice;
    choice.path = path_->text().toStdString();
    choice.passes = passes_->value();
    choice.floatOutput = format_->currentIndex() == kFloat32Index;
    choice.loopable = loopable_->isChecked();
    return choice;
}

void ExportDialog::Browse() {
    const QString picked = QFileDialog::getSaveFileName(this, kCaption, path_->text(), kWaveFilter);
    if (picked.isEmpty())
        return;
    path_->setText(picked);
    confirmed_ = picked;
}

void ExportDialog::accept() {
    const QString path = path_->text().trimmed();
    if (path.isEmpty()) {
        QMessageBox::information(this, kCaption, "Please give the file a name.");
        path_->setFocus();
        return;
    }
    if (path != confirmed_ && QFileInfo::exists(path) &&
        QMessageBox::question(this, kCaption,
                              QString("%1 already exists.\nDo you want to replace it?")
                                  .arg(QFileInfo(path).fileName())) != QMessageBox::Yes)
        return;
    path_->setText(path);
    QDialog::accept();
}

} // namespace mb
