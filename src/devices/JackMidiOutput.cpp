#include "devices/JackMidiOutput.h"

#include <algorithm>
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
    std::unique_ptr<JackMidiOutput> output(new JackMidiOutput(source, std::move(soundDelayNs)));
    if (!output->jack_.Open(kPortName, true, destination, error))
        return nullptr;
    output->rate_ = jack_get_sample_rate(output->jack_.client());
    output->unitsPerMs_ = output->rate_ / 1000.0;
    if (!output->jack_.Activate(&JackMidiOutput::Process, output.get(), error))
        return nullptr;
    return output;
}

JackMidiOutput::~JackMidiOutput() {
    jack_.Close();
}

int JackMidiOutput::Process(uint32_t frames, void* user) {
    auto* self = static_cast<JackMidiOutput*>(user);
    self->buffer_ = jack_port_get_buffer(self->jack_.port(), frames);
    jack_midi_clear_buffer(self->buffer_);
    self->frames_ = frames;
    self->lastOffset_ = 0;
    const uint32_t start = jack_last_frame_time(self->jack_.client());
    if (!self->counting_) {
        self->cycleStart_ = start;
        self->counting_ = true;
    } else {
        self->cycleStart_ += static_cast<uint32_t>(start - self->cycleStart32_);
    }
    self->cycleStart32_ = start;
    self->source_.Take(*self, self->cycleStart_, self->cycleStart_ + frames);
    self->jack_.CycleDone();
    return 0;
}

int64_t JackMidiOutput::PlaceOf(int64_t ns) {
    const double periodNs = 1e9 * jack_get_buffer_size(jack_.client()) / rate_;
    const int64_t delayNs =
        std::max(soundDelayNs_(), static_cast<int64_t>(periodNs) + kAllowanceNs);
    const int64_t toJackNs = -JackToMonotonicNs();
    const auto when = static_cast<jack_time_t>((ns + delayNs + toJackNs) / 1000);
    const uint32_t frame = jack_time_to_frames(jack_.client(), when);
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
