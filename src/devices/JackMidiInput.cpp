#include "devices/JackMidiInput.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include "devices/JackClock.h"

namespace mb {

JackMidiInput::JackMidiInput(Receiver receiver) : receiver_(std::move(receiver)) {}

std::unique_ptr<JackMidiInput> JackMidiInput::Open(const std::string& source,
                                                   const char* portName,
                                                   Receiver receiver,
                                                   std::string* error) {
    std::unique_ptr<JackMidiInput> input(new JackMidiInput(std::move(receiver)));
    if (!input->jack_.Open(portName, false, source, error) ||
        !input->jack_.Activate(&JackMidiInput::Process, input.get(), error))
        return nullptr;
    return input;
}

JackMidiInput::~JackMidiInput() {
    jack_.Close();
}

int JackMidiInput::Process(uint32_t frames, void* user) {
    auto* self = static_cast<JackMidiInput*>(user);
    void* buffer = jack_port_get_buffer(self->jack_.port(), frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    if (count > 0) {
        const int64_t toMonotonicNs = JackToMonotonicNs();
        jack_latency_range_t latency{};
        jack_port_get_latency_range(self->jack_.port(), JackCaptureLatency, &latency);
        const uint32_t start = jack_last_frame_time(self->jack_.client()) - latency.min;
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0)
                continue;
            const jack_time_t us = jack_frames_to_time(self->jack_.client(), start + event.time);
            self->receiver_(event.buffer, event.size,
                            static_cast<int64_t>(us) * 1000 + toMonotonicNs);
        }
    }
    self->jack_.CycleDone();
    return 0;
}

} // namespace mb
