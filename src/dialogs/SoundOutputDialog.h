#pragma once

#include <QDialog>

#include "audio/OutputChoice.h"

class QComboBox;
class QLabel;

namespace mb {

// "Sound Output": the back end, the device and the buffer size the program plays
// through, with the buffer and latency in use. Where the server sets the buffer (JACK)
// the dialog says so instead of offering a choice. Window thread only.
class SoundOutputDialog : public QDialog {
public:
    SoundOutputDialog(QWidget* owner, const OutputChoice& current, const OutputStatus& status);

    OutputChoice Choice() const;
    // What the buffer and latency rows say now (for tests).
    QString BufferText() const;
    QString LatencyText() const;

private:
    void FillDevices(const std::string& keep);
    void ShowLatency();
    // The back end chosen sets its own buffer.
    bool ServerSetsBuffer() const;

    OutputStatus status_;
    QComboBox* api_ = nullptr;
    QComboBox* device_ = nullptr;
    QComboBox* buffer_ = nullptr;
    QLabel* serverBuffer_ = nullptr;
    QLabel* latency_ = nullptr;
};

} // namespace mb
