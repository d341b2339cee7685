#pragma once

#include <vector>

#include <QDialog>

#include "midi/MidiChoice.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace mb {

// "MIDI": the port the notes and the clock go to, the port whose Start and Stop start
// and stop the program (and whose clock it follows, when chosen), the channel of the
// notes, and whether notes and clock are sent. "None" as a port turns that direction
// off. A chosen port that is not there now stays in its list, so that it can be kept.
// Window thread only.
class MidiOutputDialog : public QDialog {
public:
    static constexpr const char* kTitle = "MIDI";
    static constexpr const char* kNone = "None";

    MidiOutputDialog(QWidget* owner,
                     const MidiChoice& current,
                     const std::vector<MidiPortId>& outputs,
                     const std::vector<MidiPortId>& inputs);

    MidiChoice Choice() const;

    QComboBox& OutputBox() const { return *output_; }
    QComboBox& InputBox() const { return *input_; }
    QSpinBox& ChannelBox() const { return *channel_; }
    QCheckBox& NotesBox() const { return *notes_; }
    QCheckBox& ClockBox() const { return *clock_; }
    QCheckBox& FollowBox() const { return *follow_; }

private:
    QComboBox* PortBox(const std::vector<MidiPortId>& ports, const MidiPortId& chosen);
    static MidiPortId PortOf(const QComboBox& box);

    QComboBox* output_ = nullptr;
    QComboBox* input_ = nullptr;
    QSpinBox* channel_ = nullptr;
    QCheckBox* notes_ = nullptr;
    QCheckBox* clock_ = nullptr;
    QCheckBox* follow_ = nullptr;
};

} // namespace mb
