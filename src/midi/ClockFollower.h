#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/SessionTimeline.h"
#include "model/Relaxed.h"
#include "platform/Snapshots.h"

namespace mb {

// Follows a MIDI clock received on the input: its Start, Continue, Stop and Song Position
// Pointer, and its tempo and phase from the 24 clocks a quarter note. While it is on,
// every run is a run on the clock's timeline: step n of the run is heard on the clock
// that is 6n clocks after the run's first 16th.
//
// The clock is estimated by a least-squares line through the last kFitClocks clock times
// (two beats): the line's slope is the interval between clocks, its value at the newest
// clock the phase. A steady clock so gives a steady tempo however its clocks jitter, and
// a new tempo has filled the line after two beats. Sooner: when kChangeClocks clocks in a
// row fall off the line the same way, the line starts afresh from them. A clock that
// comes more than two beats after the one before starts the line afresh too (the clock
// was stopped).
//
// A clock lost on the way (a JACK client that misses its cycle loses that cycle's MIDI)
// would move every step after it a clock late. While the line is full and steady, a
// clock that comes one to kMaxLostClocks intervals late is taken for one after that many
// lost when the next clock is back on the line's pace from it; were it a tempo halved
// (or slower still), the next one comes as late again, and the line follows the change
// as ever. The lost clocks are then counted, at the line's times.
//
// Clocks are counted from the first one ever received; the song position (in clocks,
// 6 a 16th) is tied to that count at every Start (the first clock after it is position
// 0) and Continue (the first clock after it is the position last set by a Song Position
// Pointer or reached before the Stop). A Song Position Pointer received while the clock
// runs is not followed.
//
// Threads. Take runs on the MIDI input's thread (the JACK process thread included): no
// lock, no allocation; it publishes the line and the transport through a sequence
// number and atomics. StepDueNs runs on the step-clock thread and only reads them. Every
// other function runs on the window thread.
class ClockFollower : public SessionTimeline {
public:
    static constexpr int kClocksPerBeat = 24;
    static constexpr int kClocksPerStep = 6;
    static constexpr size_t kFitClocks = 48;
    static constexpr size_t kChangeClocks = 4;
    // A clock this far from the line (or kChangeShare of the interval, whichever is
    // more) has fallen off it.
    static constexpr int64_t kChangeNs = 2'000'000;
    static constexpr double kChangeShare = 0.1;
    // The longest interval taken for a clock's when only one clock is known: 24 clocks
    // at 20 BPM.
    static constexpr int64_t kLongestIntervalNs = 125'000'000;
    // The tempo reported moves only when the clock's has moved at least this far from it.
    static constexpr double kTempoStep = 0.02;
    // The most clocks in a row taken for lost (see above).
    static constexpr int kMaxLostClocks = 3;

    static constexpr unsigned char kClock = 0xF8;
    static constexpr unsigned char kStart = 0xFA;
    static constexpr unsigned char kContinue = 0xFB;
    static constexpr unsigned char kStop = 0xFC;
    static constexpr unsigned char kSongPosition = 0xF2;

    struct Hooks {
        // How long before a step is heard it must be sent: the output's delay for a run
        // begun now (AudioMixer::runDelayNs).
        std::function<int64_t()> latencyNs;
    };

    // What the window does after a Poll.
    struct News {
        enum class Transport {
            kNone,
            // Start a run on this timeline (Start or Continue received, the clock known).
            kStart,
            kStop,
        };
        Transport transport = Transport::kNone;
        // The clock's tempo, 0 while none is known; `tempoChanged` when the window
        // should show it anew.
        double bpm = 0.0;
        bool tempoChanged = false;
        // The clock stopped arriving during a run that followed it: the run plays on at
        // `bpm` and no longer follows; tell the user LostMessage(bpm).
        bool lost = false;
    };

    explicit ClockFollower(Hooks hooks = {});

    // Window thread: following the clock is chosen (on) or not.
    void SetOn(bool on) { on_ = on; }
    bool IsOn() const override { return on_; }

    // Input thread: one message received at timeNs (CLOCK_MONOTONIC). Returns whether
    // it is one the clock is made of (clock, Start, Continue, Stop, Song Position).
    bool Take(const unsigned char* bytes, size_t size, int64_t timeNs);

    // Window thread, every few milliseconds.
    News Poll(int64_t nowNs);
    static std::string LostMessage(double bpm);

    // SessionTimeline. `announce` is not used: the clock has no one to tell.
    int64_t BeginRun(int64_t earliestNs, bool announce) override;
    void EndRun(bool announce) override;
    int64_t StepDueNs(int64_t n) override;
    int64_t RunStartsAtStep() const override { return runStep_; }
    // The clock's times are the input's stamps: its steps are placed by them.
    bool StepsByTime() const override { return true; }

private:
    // The clock as the input thread last saw it.
    struct Snapshot {
        // Clocks on the line; below 2 nothing is known.
        int64_t clocks = 0;
        // The line: clock number `anchor` is at anchorNs, one clock every intervalNs.
        int64_t anchor = 0;
        int64_t anchorNs = 0;
        double intervalNs = 0.0;
        int64_t lastClockNs = 0;
        // The number the first clock after the last Start or Continue has, and its song
        // position in clocks.
        int64_t startClock = 0;
        int64_t startPosition = 0;
        // Counts Start, Continue and Stop; the last one's status byte.
        uint32_t transports = 0;
        unsigned char lastTransport = 0;

        bool Known() const { return clocks >= 2 && intervalNs > 0.0; }
        double AtNs(int64_t clock) const {
            return static_cast<double>(anchorNs) + static_cast<double>(clock - anchor) * intervalNs;
        }
        double Bpm() const { return 60e9 / (kClocksPerBeat * intervalNs); }
    };
    void OnClock(int64_t timeNs);
    // The clock at timeNs, about to be counted, lies on the line one to kMaxLostClocks
    // clocks further on: it is held in doubt until the next one. CountLostClocks, at the
    // next one: when that is back on the line's pace, the lost clocks are counted.
    void DoubtClock(int64_t timeNs);
    void CountLostClocks(int64_t timeNs);
    void Fit();
    // The input thread publishes its own; the step clock and the window read it whole.
    void Publish() { published_.Publish(own_); }
    Snapshot Read() const { return published_.Read(); }
    int64_t DueNs(const Snapshot& line, int64_t clock) const;

    Hooks hooks_;
    Relaxed<bool> on_{false};
    Snapshots<Snapshot> published_;

    // The input thread's own.
    std::array<int64_t, kFitClocks> times_{};
    int64_t count_ = 0;  // clocks received; the next clock's number
    size_t onLine_ = 0;  // the newest clocks on the line, up to kFitClocks
    size_t offLine_ = 0; // the newest clocks off the line the same way
    int offSide_ = 0;
    // A clock in doubt (see DoubtClock): its number as counted, how many were lost before
    // it if it is one, and the line before it.
    int64_t doubtClock_ = -1;
    int doubtLost_ = 0;
    Snapshot doubtLine_;
    bool running_ = false;
    int64_t position_ = 0; // the song position of the next clock, while running
    Snapshot own_;

    // The run begun last: the number of its first step's clock (-1: the run does not
    // follow the clock), and the output's latency then. Read by the step clock.
    Relaxed<int64_t> runClock_{-1};
    Relaxed<int64_t> latencyNs_{0};
    // Once the clock is lost the run plays on along the line it had then.
    Relaxed<int64_t> frozenAnchor_{0};
    Relaxed<int64_t> frozenAnchorNs_{0};
    Relaxed<double> frozenIntervalNs_{0.0};
    std::atomic<bool> frozen_{false};

    // The window thread's own.
    int64_t runStep_ = -1;
    bool following_ = false;
    // The last line known, which a lost run plays on along.
    Snapshot line_;
    uint32_t transportsSeen_ = 0;
    double bpmShown_ = 0.0;
};

} // namespace mb
