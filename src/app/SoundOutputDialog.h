#pragma once

#include <QDialog>

#include "platform/OutputChoice.h"

class QComboBox;
class QLabel;

namespace mb {

// "Sound Output": the back end, the device and the buffer size the program plays
// through, with the latency one buffer gives. Window thread only.
class SoundOutputDialog : public QDialog {
public:
    SoundOutputDialog(QWidget* owner, const OutputChoice& current, const OutputStatus& status);

    OutputChoice Choice() const;

private:
    void FillDevices(const std::string& keep);
    void ShowLatency();

    OutputStatus status_;
    QComboBox* api_ = nullptr;
    QComboBox* device_ = nullptr;
    QComboBox* buffer_ = nullptr;
    QLabel* latency_ = nullptr;
};

} // namespace mb
