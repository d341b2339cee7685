#include "devices/JackMidiOutput.h"

#include <algorithm>
#include <cerrno>
#include <jack/jack.h>
#include <jack/midiport.h>

#include "devices/JackClock.h"
#include "devices/MidiPorts.h"

namespace mb {

namespace {

void Silent(const char* /*message*/) {}

} // namespace

void JackMidiOutput::QuietErrors() {
    jack_set_error_function(&Silent);
    jack_set_info_function(&Silent);
}

bool JackMidiOutput::ServerAnswers() {
    QuietErrors();
    jack_client_t* probe = jack_client_open(MidiPorts::kClientName, JackNoStartServer, nullptr);
    if (probe == nullptr)
        return false;
    jack_client_close(probe);
    return true;
}

JackMidiOutput::JackMidiOutput(MidiSource& source, std::function<int64_t()> soundDelayNs)
    : source_(source), soundDelayNs_(std::move(soundDelayNs)) {}

std::unique_ptr<JackMidiOutput> JackMidiOutput::Open(MidiSource& source,
                                                     const std::string& destination,
                                                     std::function<int64_t()> soundDelayNs,
                                                     std::string* error) {
    QuietErrors();
    std::unique_ptr<JackMidiOutput> output(new JackMidiOutput(source, std::move(soundDelayNs)));
    jack_status_t status{};
    output->client_ = jack_client_open(MidiPorts::kClientName, JackNoStartServer, &status);
    if (output->client_ == nullptr) {
        *error = "no JACK server is running";
        return nullptr;
    }
    output->port_ =
        jack_port_register(output->client_, kPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (output->port_ == nullptr) {
        *error = "JACK refused the program's MIDI port";
        return nullptr;
    }
    output->rate_ = jack_get_sample_rate(output->client_);
    output->unitsPerMs_ = output->rate_ / 1000.0;
    jack_set_process_callback(output->client_, &JackMidiOutput::Process, output.get());
    jack_on_shutdown(output->client_, &JackMidiOutput::ShutDown, output.get());
    if (jack_activate(output->client_) != 0) {
        *error = "JACK did not start the program's MIDI client";
        return nullptr;
    }
    const int connected =
        jack_connect(output->client_, jack_port_name(output->port_), destination.c_str());
    if (connected != 0 && connected != EEXIST) {
        *error = "JACK could not connect to it";
        return nullptr;
    }
    return output;
}

void JackMidiOutput::ShutDown(void* user) {
    static_cast<JackMidiOutput*>(user)->lost_.store(true, std::memory_order_release);
}

JackMidiOutput::~JackMidiOutput() {
    if (client_ == nullptr)
        return;
    // A client whose server is gone has no process thread left to stop.
    if (!lost_.load(std::memory_order_acquire))
        jack_deactivate(client_);
    cycles_.load(std::memory_order_acquire);
    jack_client_close(client_);
}

int JackMidiOutput::Process(uint32_t frames, void* user) {
    auto* self = static_cast<JackMidiOutput*>(user);
    self->buffer_ = jack_port_get_buffer(self->port_, frames);
    jack_midi_clear_buffer(self->buffer_);
    self->frames_ = frames;
    self->lastOffset_ = 0;
    const uint32_t start = jack_last_frame_time(self->client_);
    if (!self->counting_) {
        self->cycleStart_ = start;
        self->counting_ = true;
    } else {
        self->cycleStart_ += static_cast<uint32_t>(start - self->cycleStart32_);
    }
    self->cycleStart32_ = start;
    self->source_.Take(*self, self->cycleStart_, self->cycleStart_ + frames);
    self->cycles_.fetch_add(1, std::memory_order_release);
    return 0;
}

int64_t JackMidiOutput::PlaceOf(int64_t ns) {
    const double periodNs = 1e9 * jack_get_buffer_size(client_) / rate_;
    const int64_t delayNs =
        std::max(soundDelayNs_(), static_cast<int64_t>(periodNs) + kAllowanceNs);
    const int64_t toJackNs = -JackToMonotonicNs();
    const auto when = static_cast<jack_time_t>((ns + delayNs + toJackNs) / 1000);
    const uint32_t frame = jack_time_to_frames(client_, when);
    return cycleStart_ + static_cast<int32_t>(frame - cycleStart32_);
}

void JackMidiOutput::Emit(const MidiEvent& event) {
    if (frames_ == 0)
        return;
    // An event whose frame has passed goes at the start of this cycle; the order of
    // events in a cycle never goes back.
    const int64_t offset = std::clamp<int64_t>(event.at - cycleStart_, lastOffset_, frames_ - 1);
    lastOffset_ = static_cast<uint32_t>(offset);
    // A cycle's buffer holds far more than a cycle's events; one that is full drops it.
    jack_midi_event_write(buffer_, lastOffset_, event.bytes, event.size);
}

} // namespace mb
