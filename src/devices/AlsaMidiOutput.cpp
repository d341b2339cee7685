#include "devices/AlsaMidiOutput.h"

#include <algorithm>
#include <rtmidi/RtMidi.h>

#include "devices/MidiPorts.h"
#include "platform/Clocks.h"

namespace mb {

namespace {

// Below the step clock (80) and the audio callback (70): it only has to be on time to
// within a millisecond or so.
constexpr int kSenderPriority = 60;
// An event this far behind its time when the thread wakes is late (see MidiSource).
constexpr int64_t kLateNs = 1'000'000;

} // namespace

AlsaMidiOutput::AlsaMidiOutput(MidiSource& source, std::function<int64_t()> soundDelayNs)
    : source_(source), soundDelayNs_(std::move(soundDelayNs)) {}

std::unique_ptr<AlsaMidiOutput> AlsaMidiOutput::Open(MidiSource& source,
                                                     const MidiPortId& port,
                                                     std::function<int64_t()> soundDelayNs,
                                                     std::string* error) {
    std::unique_ptr<AlsaMidiOutput> output(new AlsaMidiOutput(source, std::move(soundDelayNs)));
    output->midi_ = MidiPorts::OpenOutput(port, kPortName, error);
    if (!output->midi_)
        return nullptr;
    output->thread_ = std::thread([raw = output.get()] { raw->Run(); });
    return output;
}

AlsaMidiOutput::~AlsaMidiOutput() {
    if (thread_.joinable()) {
        quit_.store(true, std::memory_order_release);
        source_.Wake();
        thread_.join();
    }
}

void AlsaMidiOutput::Run() {
    NameThisThread("mb-midi-out");
    LowerTimerSlack();
    TryRealtimePriority(kSenderPriority);
    while (!quit_.load(std::memory_order_acquire)) {
        const int64_t now = MonotonicNs();
        const int64_t next = source_.Take(*this, now - kLateNs, now + 1);
        if (quit_.load(std::memory_order_acquire))
            break;
        source_.Wait(next);
    }
}

int64_t AlsaMidiOutput::PlaceOf(int64_t ns) {
    return ns + std::max(soundDelayNs_(), kAllowanceNs);
}

void AlsaMidiOutput::Emit(const MidiEvent& event) {
    midi_->sendMessage(event.bytes, event.size);
}

} // namespace mb
