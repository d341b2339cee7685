#pragma once

#include <QDialog>

#include "dialogs/Prompts.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace mb {

// "Export Audio": the WAV file to write (typed, or picked with Browse...), the number of
// passes, 16-bit or 32-bit float samples and whether the file loops seamlessly. OK asks
// before an existing file is overwritten. Window thread only.
class ExportDialog : public QDialog {
public:
    static constexpr const char* kCaption = "Export Audio";
    static constexpr const char* kWaveFilter = "WAV files (*.wav)";
    static constexpr int kMaxPasses = 9999;

    ExportDialog(QWidget* owner, const ExportChoice& proposed);

    ExportChoice Choice() const;

protected:
    void accept() override;

private:
    void Browse();

    QLineEdit* path_ = nullptr;
    QSpinBox* passes_ = nullptr;
    QComboBox* format_ = nullptr;
    QCheckBox* loopable_ = nullptr;
    // The file the save dialog already asked about.
    QString confirmed_;
};

} // namespace mb
