#include "dialogs/SoundOutputDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>

#include "devices/DeviceOutput.h"

namespace mb {

namespace {

// The back ends offered, named as DeviceOutput::ApiLabel names them.
constexpr const char* kApis[] = {"", "pulse", "alsa", "jack"};

constexpr const char* kDefaultDevice = "Default device";
constexpr const char* kJack = "jack";

} // namespace

SoundOutputDialog::SoundOutputDialog(QWidget* owner,
                                     const OutputChoice& current,
                                     const OutputStatus& status)
    : QDialog(owner), status_(status) {
    setWindowTitle("Sound Output");
    api_ = new QComboBox(this);
    for (const char* api : kApis)
        api_->addItem(DeviceOutput::ApiLabel(api), QString::fromUtf8(api));
    api_->setCurrentIndex(std::max(0, api_->findData(QString::fromStdString(current.api))));
    device_ = new QComboBox(this);
    device_->setMinimumContentsLength(28);
    buffer_ = new QComboBox(this);
    for (int frames = OutputChoice::kMinBufferFrames; frames <= OutputChoice::kMaxBufferFrames;
         frames *= 2)
        buffer_->addItem(QString("%1 frames").arg(frames), frames);
    buffer_->setCurrentIndex(std::max(0, buffer_->findData(current.bufferFrames)));
    serverBuffer_ = new QLabel(this);
    auto* bufferRow = new QHBoxLayout;
    bufferRow->setContentsMargins(0, 0, 0, 0);
    bufferRow->addWidget(buffer_);
    bufferRow->addWidget(serverBuffer_);
    latency_ = new QLabel(this);
    latency_->setWordWrap(true);
    auto* now = new QLabel(status.lost ? QString("Lost: opening it again every 2 s")
                                       : QString::fromStdString(status.description),
                           this);
    now->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout(this);
    form->addRow("Back end:", api_);
    form->addRow("Device:", device_);
    form->addRow("Buffer:", bufferRow);
    form->addRow("Latency:", latency_);
    form->addRow("Playing now:", now);
    form->addRow(buttons);

    FillDevices(current.device);
    ShowLatency();
    connect(api_, &QComboBox::currentIndexChanged, this, [this] {
        FillDevices({});
        ShowLatency();
    });
    connect(buffer_, &QComboBox::currentIndexChanged, this, [this] { ShowLatency(); });
}

void SoundOutputDialog::FillDevices(const std::string& keep) {
    device_->clear();
    device_->addItem(kDefaultDevice, QString());
    const std::string api = api_->currentData().toString().toStdString();
    if (!api.empty()) {
        for (const OutputDevice& d : DeviceOutput::ListDevices(api))
            device_->addItem(QString::fromStdString(d.description), QString::fromStdString(d.name));
    }
    if (!keep.empty()) {
        // A device that is not there now stays choosable by its name.
        const QString name = QString::fromStdString(keep);
        if (device_->findData(name) < 0)
            device_->addItem(name, name);
        device_->setCurrentIndex(device_->findData(name));
    }
}

bool SoundOutputDialog::ServerSetsBuffer() const {
    const std::string api = api_->currentData().toString().toStdString();
    return api == kJack || (api.empty() && status_.serverSetsBuffer);
}

void SoundOutputDialog::ShowLatency() {
    const std::string api = api_->currentData().toString().toStdString();
    // What plays now is what the back end chosen gives (Automatic: whatever opened).
    const bool playing =
        !status_.lost && !status_.api.empty() && (api.empty() || api == status_.api);
    const bool server = ServerSetsBuffer();
    buffer_->setVisible(!server);
    serverBuffer_->setVisible(server);
    if (server)
        serverBuffer_->setText(
            playing ? QString("%1 frames, set by the JACK server").arg(status_.bufferFrames)
                    : QString("Set by the JACK server"));
    const uint32_t rate = status_.rate != 0 ? status_.rate : OutputKeeper::kRate;
    const int frames =
        server ? (playing ? status_.bufferFrames : 0) : buffer_->currentData().toInt();
    QString text;
    if (frames > 0)
        text =
            QString("%1 ms per buffer at %2 Hz").arg(1000.0 * frames / rate, 0, 'f', 1).arg(rate);
    // The latency in use: from a key or an edit to its sound, as the output places it.
    if (playing && status_.latencyMs > 0.0 && (server || frames == status_.bufferFrames)) {
        const QString heard = QString("sound %1 ms after a key").arg(status_.latencyMs, 0, 'f', 1);
        text = text.isEmpty() ? heard : text + "; " + heard;
    }
    latency_->setText(text);
}

QString SoundOutputDialog::BufferText() const {
    return ServerSetsBuffer() ? serverBuffer_->text() : buffer_->currentText();
}

QString SoundOutputDialog::LatencyText() const {
    return latency_->text();
}

OutputChoice SoundOutputDialog::Choice() const {
    OutputChoice choice;
    choice.api = api_->currentData().toString().toStdString();
    choice.device = device_->currentData().toString().toStdString();
    // The server's buffer is kept as the choice was, for a later back end that takes it.
    choice.bufferFrames = buffer_->currentData().toInt();
    return choice;
}

} // namespace mb
