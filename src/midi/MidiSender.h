#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include <semaphore.h>

#include "audio/SpscQueue.h"
#include "engine/SequencerPorts.h"
#include "midi/MidiTarget.h"

namespace mb {

// Turns the steps of the step clock into MIDI: a note for every step that is on (note
// 36 + its sound index, velocity its volume, off again a quarter of a step later), and
// the MIDI clock, six per step (24 per quarter note), with Start at a run's first step,
// a Song Position of 0 before the Start of every later run, and Stop at its end. Every
// event lies on the step grid of its run: the output places the run's origin on its time
// line once, and each event lands round(offset x units per ms) after it, so nothing
// drifts however the threads wake; a step that comes too late for its place moves the
// rest of the run, as the mixer does with its sound. The clocks between two steps are
// spaced by the period in force, and a tempo change moves those not yet sent; a next
// step that comes early sends the clocks still owed first, so that every step has its
// six. A stop takes effect at once, as it does for the sound: what the run has not sent
// yet is dropped (the mixer drops the sound it has not played), the notes still on end
// and Stop follows.
//
// Threads. The step clock's side (TakeStep, RunEnded: see StepFollower) hands plain
// messages over through a fixed-size lock-free queue and posts a semaphore; TempoChanged
// and RunEnded also store atomics the consumer reads at once. Take and Wait belong to
// the one output that consumes the messages (see MidiSource). The window thread
// configures the sender with Enable, taking the consumer's part, only while no output
// runs.
class MidiSender : public StepFollower, public MidiSource {
public:
    static constexpr size_t kQueueCapacity = 1024;
    static constexpr int kClocksPerStep = 6;
    static constexpr int kFirstNote = 36;

    struct Options {
        // 1 to 16.
        int channel = 10;
        bool notes = true;
        bool clock = true;
        // A step too late for its place goes out at once and the rest of its run keeps
        // its places (the times are a plugin host's own: only that step was held up).
        bool keepTimeOverGaps = false;
    };

    MidiSender();
    ~MidiSender() override;
    MidiSender(const MidiSender&) = delete;
    MidiSender& operator=(const MidiSender&) = delete;

    // Window thread, while no output consumes: forgets every message and event waiting
    // and starts afresh with these options (the next step starts a run on the outputs).
    void Enable(const Options& options);
    // Window thread: no message is queued from now on (one being queued may still land).
    void Disable();

    // StepFollower.
    void TakeStep(const StepEvent& step) override;
    void TempoChanged(double periodMs, uint32_t change) override;
    void RunEnded(uint32_t run) override;
    void FollowRuns(std::shared_ptr<const RunEnds> ends) override;

    // MidiSource.
    int64_t Take(MidiTarget& target, int64_t from, int64_t until) override;
    void Wait(int64_t deadlineNs) override;
    void Wake() override;

    // Messages that found the queue full (any thread).
    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    enum class Kind : uint8_t {
        kStep,
        kStop,
    };
    struct Message {
        Kind kind = Kind::kStep;
        bool on = false;
        uint8_t note = 0;
        uint8_t velocity = 0;
        uint32_t run = 0;
        uint32_t tempoChange = 0;
        int64_t originNs = 0;
        double offsetMs = 0.0;
        double periodMs = 0.0;
        // The groove (see StepEvent): the notes sound shiftMs from the step's place,
        // `hits` times spacingMs apart; the clock stays on the grid.
        double shiftMs = 0.0;
        double spacingMs = 0.0;
        uint8_t hits = 1;
        bool Grooved() const { return shiftMs != 0.0 || hits > 1; }
    };
    // A note of a grooved step, placed when its step is taken from the queue (it may fall
    // before the step's own place), sent when its place comes.
    struct PendingNote {
        int64_t at = 0;
        int64_t off = 0;
        uint32_t run = 0;
        uint8_t note = 0;
        uint8_t velocity = 0;
    };
    static constexpr int kMaxPendingNotes = 64;
    // Places the notes of the grooved step next_, whose run's origin is at `origin`.
    void QueueNotes(int64_t origin);
    void SendPendingNote(MidiTarget& target, int index, int64_t at);
    // A note-on at `at` (the same note still sounding ends first), its note-off at offAt.
    void StartNote(MidiTarget& target, int64_t at, uint8_t note, uint8_t velocity, int64_t offAt);

    void Push(const Message& message);
    // Whether the run has stopped, as the sequencer's record says.
    bool Stopped(uint32_t run) const;
    // The period between the last step taken and the next one, as it stands now.
    double PeriodNow() const;
    int64_t PlaceOnRun(double offsetMs) const;
    void
    Send(MidiTarget& target, int64_t at, uint8_t status, int size, uint8_t a = 0, uint8_t b = 0);
    void SendStep(MidiTarget& target, int64_t at);
    void SendStop(MidiTarget& target, int64_t at);
    void Clear();

    std::atomic<bool> enabled_{false};
    std::atomic<uint64_t> dropped_{0};
    // The latest tempo change: its number and period.
    std::atomic<uint32_t> latestChange_{0};
    std::atomic<double> latestPeriod_{0.0};
    // The runs stopped, as the sequencer's record says (followed; the earlier records are
    // kept while the consumer may still read them).
    std::atomic<const RunEnds*> followedEnds_{nullptr};
    std::vector<std::shared_ptr<const RunEnds>> runEnds_;
    SpscQueue<Message, kQueueCapacity> queue_;
    sem_t wake_;

    // The consumer's own from here on. Options are set by Enable before it runs.
    Options options_;
    // The next message, taken from the queue but not sent yet, and its place.
    bool haveNext_ = false;
    Message next_;
    int64_t nextAt_ = 0;
    // The place of the next message's run origin when it begins a run.
    int64_t nextOrigin_ = 0;
    // A run is being sent: its number and the place of its origin. anyRun_: one has
    // been since Enable (a later Start comes with a Song Position).
    bool inRun_ = false;
    bool anyRun_ = false;
    uint32_t run_ = 0;
    int64_t origin_ = 0;
    double unitsPerMs_ = 0.0;
    // The `from` of the Take in progress.
    int64_t from_ = 0;
    // The place of the last event sent: none is sent before it.
    int64_t lastAt_ = std::numeric_limits<int64_t>::min();
    // The last step of the run: offset, period and tempo change, and the clocks after it
    // already sent (kClocksPerStep: all).
    double stepMs_ = 0.0;
    double stepPeriodMs_ = 0.0;
    uint32_t stepChange_ = 0;
    int clocksSent_ = kClocksPerStep;
    // The place of each note's pending note-off; kNever when none.
    std::array<int64_t, 128> noteOff_{};
    int notesOn_ = 0;
    std::array<PendingNote, kMaxPendingNotes> pending_{};
    int pendingCount_ = 0;
};

} // namespace mb
