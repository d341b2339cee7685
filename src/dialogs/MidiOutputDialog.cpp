#include "dialogs/MidiOutputDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>

namespace mb {

namespace {

// Wide enough for JACK's and ALSA's long port names.
constexpr int kPortNameChars = 40;

QString Label(const MidiPortId& port) {
    const char* api = port.api == MidiPortId::kJack ? "JACK" : "ALSA";
    return QString("%1: %2").arg(api, QString::fromStdString(port.name));
}

} // namespace

MidiOutputDialog::MidiOutputDialog(QWidget* owner,
                                   const MidiChoice& current,
                                   const std::vector<MidiPortId>& outputs,
                                   const std::vector<MidiPortId>& inputs)
    : QDialog(owner) {
    setWindowTitle(kTitle);
    output_ = PortBox(outputs, current.output);
    input_ = PortBox(inputs, current.input);
    follow_ = new QCheckBox("Follow MIDI clock", this);
    follow_->setChecked(current.followClock);
    channel_ = new QSpinBox(this);
    channel_->setRange(1, 16);
    channel_->setValue(current.channel);
    notes_ = new QCheckBox("Send a note for every step that sounds", this);
    notes_->setChecked(current.notes);
    clock_ = new QCheckBox("Send the clock, Start and Stop", this);
    clock_->setChecked(current.clock);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout(this);
    form->addRow("Output port:", output_);
    form->addRow("Input port (Start, Stop, clock):", input_);
    form->addRow(follow_);
    form->addRow("Channel:", channel_);
    form->addRow(notes_);
    form->addRow(clock_);
    form->addRow(buttons);
}

QComboBox* MidiOutputDialog::PortBox(const std::vector<MidiPortId>& ports,
                                     const MidiPortId& chosen) {
    auto* box = new QComboBox(this);
    box->setMinimumContentsLength(kPortNameChars);
    box->addItem(kNone, QStringList());
    for (const MidiPortId& port : ports)
        box->addItem(Label(port), QStringList{QString::fromStdString(port.api),
                                              QString::fromStdString(port.name)});
    if (chosen.empty())
        return box;
    const QStringList data{QString::fromStdString(chosen.api), QString::fromStdString(chosen.name)};
    int index = box->findData(data);
    if (index < 0) {
        box->addItem(Label(chosen) + " (not there now)", data);
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
    return box;
}

MidiPortId MidiOutputDialog::PortOf(const QComboBox& box) {
    const QStringList data = box.currentData().toStringList();
    if (data.size() != 2)
        return {};
    return {data[0].toStdString(), data[1].toStdString()};
}

MidiChoice MidiOutputDialog::Choice() const {
    MidiChoice choice;
    choice.output = PortOf(*output_);
    choice.input = PortOf(*input_);
    choice.channel = channel_->value();
    choice.notes = notes_->isChecked();
    choice.clock = clock_->isChecked();
    choice.followClock = follow_->isChecked();
    return choice;
}

} // namespace mb
