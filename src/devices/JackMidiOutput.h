#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/JackMidiClient.h"
#include "midi/MidiTarget.h"

namespace mb {

// A JACK client of its own with one MIDI output port, connected to a chosen JACK MIDI
// input. Its time line is JACK's frame count: in every cycle the process callback takes
// from the source the events that fall in the cycle and writes each at its own frame,
// so that a step's note carries the frame its sound is heard on.
//
// A moment on CLOCK_MONOTONIC becomes a frame through JACK's own time (jack_get_time
// reads CLOCK_MONOTONIC_RAW here, so the distance between the two clocks is measured
// afresh at every mapping) and jack_time_to_frames, delayed as the sound is (see
// AudioMixer::soundDelayNs) and by at least one JACK period plus kAllowanceNs, so that
// an event is queued before the cycle that carries it begins.
//
// Threads. Open and the destructor run on the window thread; PlaceOf, UnitsPerMs and
// Emit on JACK's real-time process thread, inside the source's Take. The callback never
// blocks, locks or allocates. The soundDelayNs function is called on the process
// thread and must not block either.
class JackMidiOutput : public MidiTarget {
public:
    static constexpr const char* kPortName = "midi_out";
    // What the step clock may be late by before an event would miss its cycle.
    static constexpr int64_t kAllowanceNs = 5'000'000;

    // Window thread: the client, active, its port connected to `destination` (a JACK
    // port's full name); nothing, with the reason in *error, when that fails.
    static std::unique_ptr<JackMidiOutput> Open(MidiSource& source,
                                                const std::string& destination,
                                                std::function<int64_t()> soundDelayNs,
                                                std::string* error);
    // Window thread: the process callback has ended when it returns.
    ~JackMidiOutput() override;

    // libjack writes its errors to stderr unless told otherwise: a missing server is an
    // answer here, not a fault. Any thread.
    static void QuietErrors();
    // Whether a JACK server answers (without starting one). Window thread.
    static bool ServerAnswers();

    // MidiTarget: the process thread.
    int64_t PlaceOf(int64_t ns) override;
    double UnitsPerMs() const override { return unitsPerMs_; }
    void Emit(const MidiEvent& event) override;
    bool Lost() const override { return jack_.Lost(); }

private:
    JackMidiOutput(MidiSource& source, std::function<int64_t()> soundDelayNs);
    static int Process(uint32_t frames, void* user);

    MidiSource& source_;
    std::function<int64_t()> soundDelayNs_;
    JackMidiClient jack_;
    double unitsPerMs_ = 48.0;
    double rate_ = 48000.0;
    // The process thread's own: the cycle being written, its first frame extended to 64
    // bits, and the offset of the last event written in it.
    void* buffer_ = nullptr;
    uint32_t frames_ = 0;
    bool counting_ = false;
    uint32_t cycleStart32_ = 0;
    int64_t cycleStart_ = 0;
    uint32_t lastOffset_ = 0;
};

} // namespace mb
