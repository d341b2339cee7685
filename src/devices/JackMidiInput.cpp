#include "devices/JackMidiInput.h"

#include <cerrno>
#include <jack/jack.h>
#include <jack/midiport.h>

#include "devices/JackClock.h"
#include "devices/JackMidiOutput.h"
#include "devices/MidiPorts.h"

namespace mb {

JackMidiInput::JackMidiInput(Receiver receiver) : receiver_(std::move(receiver)) {}

std::unique_ptr<JackMidiInput> JackMidiInput::Open(const std::string& source,
                                                   const char* portName,
                                                   Receiver receiver,
                                                   std::string* error) {
    JackMidiOutput::QuietErrors();
    std::unique_ptr<JackMidiInput> input(new JackMidiInput(std::move(receiver)));
    input->client_ = jack_client_open(MidiPorts::kClientName, JackNoStartServer, nullptr);
    if (input->client_ == nullptr) {
        *error = "no JACK server is running";
        return nullptr;
    }
    if (jack_port_by_name(input->client_, source.c_str()) == nullptr) {
        *error = "it is not there";
        return nullptr;
    }
    input->port_ =
        jack_port_register(input->client_, portName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (input->port_ == nullptr) {
        *error = "JACK refused the program's MIDI port";
        return nullptr;
    }
    jack_set_process_callback(input->client_, &JackMidiInput::Process, input.get());
    jack_on_shutdown(input->client_, &JackMidiInput::ShutDown, input.get());
    if (jack_activate(input->client_) != 0) {
        *error = "JACK did not start the program's MIDI client";
        return nullptr;
    }
    const int connected =
        jack_connect(input->client_, source.c_str(), jack_port_name(input->port_));
    if (connected != 0 && connected != EEXIST) {
        *error = "JACK could not connect to it";
        return nullptr;
    }
    return input;
}

void JackMidiInput::ShutDown(void* user) {
    static_cast<JackMidiInput*>(user)->lost_.store(true, std::memory_order_release);
}

JackMidiInput::~JackMidiInput() {
    if (client_ == nullptr)
        return;
    // A client whose server is gone has no process thread left to stop.
    if (!lost_.load(std::memory_order_acquire))
        jack_deactivate(client_);
    cycles_.load(std::memory_order_acquire);
    jack_client_close(client_);
}

int JackMidiInput::Process(uint32_t frames, void* user) {
    auto* self = static_cast<JackMidiInput*>(user);
    void* buffer = jack_port_get_buffer(self->port_, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    if (count > 0) {
        const int64_t toMonotonicNs = JackToMonotonicNs();
        jack_latency_range_t latency{};
        jack_port_get_latency_range(self->port_, JackCaptureLatency, &latency);
        const uint32_t start = jack_last_frame_time(self->client_) - latency.min;
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0)
                continue;
            const jack_time_t us = jack_frames_to_time(self->client_, start + event.time);
            self->receiver_(event.buffer, event.size,
                            static_cast<int64_t>(us) * 1000 + toMonotonicNs);
        }
    }
    self->cycles_.fetch_add(1, std::memory_order_release);
    return 0;
}

} // namespace mb
