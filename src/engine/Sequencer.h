#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/SequencerPorts.h"
#include "engine/StepClock.h"
#include "engine/StepGroove.h"
#include "model/Relaxed.h"

namespace mb {

class Setup;

// The step clock: while it runs, its timer thread sleeps until the next step is due,
// then (Tick) takes the current step of the current loop, hands it as one StepEvent to
// its followers (the sound, the MIDI output, the window), advances the position kept in
// the Setup and follows the loop chain at the end of a pass. Each run is known to all of
// them by one number and its end by one shared mark (RunEnds). Each start
// begins a new run whose steps lie on an exact grid: step k of a run sounds k periods
// after the run's origin (with a tempo change the origin moves to the step at which it
// took effect), placed on the output's own sample clock by the mixer.
//
// Threads: Tick and the step action it takes run on the step-clock thread. It never
// touches a widget, allocates or takes a lock: it publishes what it did (the number of
// steps taken, the loop whose pass began) through atomics and wakes the window
// (its StepFollower, whose wake-ups merge), and the window thread makes the display changes
// when it takes that news in (TakeClockNews). Every other method runs on the window
// thread. The two share the Setup's playback fields and the members below through
// relaxed atomics. Stop waits for a running Tick to finish and no step is taken after it
// returns.
class Sequencer {
public:
    Sequencer() = default;
    Sequencer(const Sequencer&) = delete;
    Sequencer& operator=(const Sequencer&) = delete;
    virtual ~Sequencer();

    // Binds the sequencer to its setup and ports and creates its timer (the real
    // PrecisionTimer unless one is given).
    void Init(const SequencerPorts& ports, Setup* setup, std::unique_ptr<StepClock> clock = {});
    // Stops the clock and ends its thread, before the things it plays through go away.
    void Shutdown();

    // A start announced to other instances is heard this long after Space at the
    // earliest, so that each of them can start on it: time for them to hear of it, get
    // their output going and send their first step their own lead ahead of it. When an
    // instance needs a longer lead (this one or the longest another has made known; off
    // a shared session, one that is stopped and quiet needs less than its lead), the
    // start is heard that lead plus kNoticeNs after Space.
    static constexpr int64_t kStartLeadNs = 60'000'000;
    static constexpr int64_t kNoticeNs = 35'000'000;
    // An announced first step further ahead than this is not believed: the instance
    // starts at once instead. A start on a shared session's next bar may lie a whole bar
    // ahead: four beats at 20 BPM, the slowest tempo such a session keeps, are 12 s.
    static constexpr int64_t kMaxLeadNs = 15'000'000'000;
    // With a shared session on, a start announced by another instance lands on the
    // session's bar at most this long before the announced moment (the two instances'
    // output latencies may differ by that much).
    static constexpr int64_t kBarToleranceNs = 50'000'000;
    // A step clock that finds more steps than this due after the one it would take
    // drops them all but the latest, and takes that one (see Tick).
    static constexpr int64_t kMaxCatchUpSteps = 8;

    // Starts when stopped, stops when running, and tells the other instances (and the
    // shared session, while it is on) unless Ctrl is held. A start that others are told
    // of is heard kStartLeadNs after Space (see there), at the moment they are told;
    // with the session on it begins on the session's next bar from then.
    void Toggle();
    // Starts at once: the first step sounds now.
    void Start();
    // Starts a run whose first step sounds at originNs (the clock's nanoseconds), taken
    // by the step clock when it is due; the rest as Start.
    void StartAt(int64_t originNs);
    // Starts a run whose first step is heard at heardNs: placed at its moment when the
    // step can still be sent its lead ahead, else sent now and met by an output that
    // writes over its queue while quiet.
    void StartHeardAt(int64_t heardNs);
    // Starts a run on the followed timeline's first step from now on, telling no one (the
    // timeline itself started: a plugin host's transport).
    void StartOnTimeline() { StartOnSession(timer_->NowNs(), false); }
    void Stop();
    // The shared session was turned off: a run that follows it goes on at the setup's
    // own tempo from its last step.
    void LeaveSession();
    // A new bpm was stored while running: the new period takes effect at the next step.
    void TempoChanged();
    // The loop strip changed selectedLoop to n.
    void LoopSelected(int n);
    // While running: loop n plays from the next step on, from its first pass; the
    // selection stays. Window thread.
    void JumpToLoop(int n);
    // The sound toggle changed state.
    void MuteToggled();
    // Handles the four step-clock messages; returns false for any other message. A
    // MSG_REMOTE_START whose lParam holds the moment the sender's first step is heard
    // (CLOCK_MONOTONIC nanoseconds) starts so that this instance's first step is heard
    // then too, when there is still time for it (the lead); with lParam 0, or a moment
    // too close, already past or too far ahead, at once. With the shared session on, the
    // start lands on the session's first bar from that moment.
    bool OnWindowMessage(int message, intptr_t wParam, intptr_t lParam);
    // Takes in what the step clock has done since the last look: the step light moves
    // as the steps taken say, and the loop strip marks the loop whose pass began last.
    // Nothing after a stop. Window thread, when woken (its StepFollower) or at any time.
    void TakeClockNews();

    // The timer callback: takes the step that is due, if any, and returns the time the
    // next one is due. Public so that tests can drive the clock by hand.
    //
    // Whatever the tempo or the session's timeline, the clock never takes steps in a
    // loop: after a step it sleeps at least the clock's MinStepGapNs, and a clock that
    // has fallen more than kMaxCatchUpSteps behind skips to the latest step due, counting
    // those it dropped. A step that is only a few steps late is still taken, one per
    // callback, on its own place on the grid.
    int64_t Tick();

    bool running() const { return running_.load() != 0; }
    double period() const { return period_; }
    // The run in progress (or the last one): a new number at every start.
    uint32_t run() const { return run_; }
    StepClock* clock() const { return timer_.get(); }
    // Steps taken since the sequencer was made (wrapping), as published to the window.
    // Any thread.
    uint32_t stepsTaken() const { return stepsTaken_.load(std::memory_order_seq_cst); }
    // Steps the clock has dropped because it had fallen behind. Any thread.
    uint64_t droppedSteps() const { return droppedSteps_.load(std::memory_order_relaxed); }
    // The most any step was taken after its moment to be sent (the step clock's thread
    // was held up that long). Any thread.
    int64_t mostHeldUpNs() const { return mostHeldUpNs_.load(std::memory_order_relaxed); }

    // Step period in milliseconds for a tempo: one quarter beat, computed from the
    // tempo in single precision and limited to 0.5 to 10 000 000 BPM.
    static double PeriodFromTempo(double bpm);

private:
    static int64_t TickThunk(void* user);
    // Begins run origin: with stepNow its first step sounds here and now, otherwise the
    // step clock takes it when due (on the session's timeline with onSession).
    void StartRun(int64_t originNs, bool onSession, bool stepNow);
    void StartOnSession(int64_t earliestNs, bool announce);
    // Window thread, at a start on a session: the chain stands where `steps` steps from
    // the selected loop's start would have brought it.
    void PlaceChain(int64_t steps);
    bool SessionOn() const { return session_ != nullptr && session_->IsOn(); }
    void StopClock();
    // Due time of the next step on the clock's nanoseconds, with a pending tempo change
    // taken into account when `pending`.
    double NextDueMs(bool pending) const;
    int64_t DueNs(double offsetMs) const;
    // The period in nanoseconds (at least one).
    int64_t PeriodNs() const;
    // When the session's timeline has step n, when that lies after afterNs and not
    // beyond belief; otherwise fallbackNs. Step-clock thread.
    int64_t SessionDueNs(int64_t n, int64_t afterNs, int64_t fallbackNs) const;
    void StepAction(GridTime due);
    // Step-clock thread (window thread at a start): the event of step `index` of `loop`.
    StepEvent MakeEvent(int loop, int index, GridTime due) const;
    // Step-clock thread: how long before its place a step is taken beyond the output's
    // own lead, so that a step the groove moves earlier is still sent in time.
    int64_t GrooveEarlyNs() const;
    // Window thread: `steps` more steps were taken.
    void StepLight(uint32_t steps);
    // Window thread: the news published so far counts as taken in.
    void ForgetClockNews();

    PlaybackFace* panel_ = nullptr;
    MessagePoster* window_ = nullptr;
    // The runs that have ended, shared with every follower (they may outlive the
    // sequencer on other threads).
    std::shared_ptr<RunEnds> runEnds_ = std::make_shared<RunEnds>();
    // A tempo change waits for the next step when tempoChanges_ differs from
    // tempoApplied_. A counter rather than a flag, so that a second change arriving
    // while the step clock applies the first is never lost.
    std::atomic<uint32_t> tempoChanges_{0};
    uint32_t tempoApplied_ = 0;
    Relaxed<int32_t> running_{0};
    Relaxed<double> period_{0.0};
    Relaxed<double> newPeriod_{0.0};
    // The run's number and its origin on the clock's nanoseconds, set at each start.
    Relaxed<uint32_t> run_{0};
    Relaxed<int64_t> originNs_{0};
    // Where the current stretch of one tempo begins, in milliseconds after the origin:
    // 0 at a start, the step at which a tempo change took effect afterwards.
    Relaxed<double> segmentMs_{0.0};
    // Number of the next due step counted from the start of the stretch (from the
    // run's first step when it follows the session).
    Relaxed<int64_t> stepNumber_{0};
    // The run's first step is still to be taken by the step clock.
    Relaxed<int32_t> firstStepPending_{0};
    // The run follows the shared session's timeline.
    Relaxed<int32_t> onSession_{0};
    // Its steps are placed by the session's times (SessionTimeline::StepsByTime). Kept
    // for the whole run, also once it leaves the session: its grid, placed once at its
    // first step, would lie as far from its moments as the clocks have crept since.
    Relaxed<int32_t> byTime_{0};
    // Offset of the last step taken, in milliseconds after the origin.
    Relaxed<double> lastDueMs_{0.0};
    std::atomic<uint64_t> droppedSteps_{0};
    std::atomic<int64_t> mostHeldUpNs_{0};
    // The number on the run's grid of the next step taken (0: the run's first), counting
    // the steps dropped when the clock fell behind: chance outcomes follow it.
    Relaxed<int64_t> runStep_{0};
    // Step-clock thread (window thread at a start): the groove's passes and outcomes.
    StepGroove groove_;
    // Loop jumps and selections while playing, counted on the window thread; the step
    // clock tells the groove of those it has not seen.
    std::atomic<uint32_t> loopEntries_{0};
    uint32_t loopEntriesSeen_ = 0;
    std::unique_ptr<StepClock> timer_;

    Setup* setup_ = nullptr;
    StepSound* sound_ = nullptr;
    KeyboardState* keys_ = nullptr;
    InstanceLink* instances_ = nullptr;
    SessionTimeline* session_ = nullptr;
    // The MIDI output and the window as step followers; either may be none.
    StepFollower* midi_ = nullptr;
    StepFollower* windowSteps_ = nullptr;
    // Those that take every step, in the order they take it (some may be none).
    std::array<StepFollower*, 3> Followers() const { return {sound_, midi_, windowSteps_}; }
    // The news for the window: steps taken, passes begun and the loop of the last one.
    // Sequentially consistent, so that the window that looks after its wake-up sees all
    // that came before it.
    std::atomic<uint32_t> stepsTaken_{0};
    std::atomic<uint32_t> loopStarts_{0};
    std::atomic<int32_t> startedLoop_{0};
    // How much of it the window has taken in. Window thread.
    uint32_t stepsSeen_ = 0;
    uint32_t loopStartsSeen_ = 0;
    // Column whose light was last switched on; -1: none. Window thread.
    int stepLight_ = -1;
    // Steps since the last light update. Window thread.
    int32_t lightCounter_ = 0;
};

} // namespace mb
