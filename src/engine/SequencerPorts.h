#pragma once

#include <cstdint>
#include <memory>

#include "audio/GridTime.h"
#include "audio/RunEnds.h"
#include "engine/SessionTimeline.h"

namespace mb {

// Window messages: the step clock's news (the step light, the loop that started), and
// what other instances post to start and stop together. The step clock itself posts
// none (it publishes what it did and wakes the window: see SequencerPorts::windowSteps);
// the window thread posts MSG_LOOP_STARTED at a start and a stop.
inline constexpr int MSG_STEP_PLAYED = 1074;
inline constexpr int MSG_REMOTE_START = 1124;
inline constexpr int MSG_REMOTE_STOP = 1224;
inline constexpr int MSG_LOOP_STARTED = 1524;

// The sequencer reaches the window, the face, the sound and the keyboard only through
// these interfaces, so that it runs headless; the application implements them with the
// real window, panel and sound engine, and the tests with recorders.

// Posts a message to the main window's queue, to be handled after the present one.
// Window thread (posting may allocate and lock: the step clock wakes the window through its
// StepFollower instead).
class MessagePoster {
public:
    virtual ~MessagePoster() = default;
    virtual void PostMessage(int message, intptr_t wParam, intptr_t lParam) = 0;
};

// The parts of the face the sequencer sets. Window thread only.
class PlaybackFace {
public:
    virtual ~PlaybackFace() = default;
    // The play button's state.
    virtual void SetPlayButton(bool state) = 0;
    // True when the sound toggle shows "sound on".
    virtual bool IsSoundOn() const = 0;
    // Lights (or darkens) step column k, 0 to 15.
    virtual void SetStepLit(int column, bool lit) = 0;
    // The loop strip marks loop n (0 to 7) as playing; -1 marks none.
    virtual void SetPlayingLoop(int loop) = 0;
};

// One step as the step clock took it: all that the sound, the MIDI output and the
// window need of it, read from the setup once.
struct StepEvent {
    int loop = 0;
    int step = 0;
    // The step's stored values when it was taken, as the groove plays them.
    bool on = false;
    int sound = 0;
    int pitch = 0;
    int volume = 0;
    int pan = 0;
    // The setup is not polyphonic: a step that is on cuts the sound last started.
    bool cutsLast = false;
    // What the groove made of the step (see StepGroove): `on` says whether it plays and
    // `pitch` is the pitch it plays at; it sounds shiftMs after its place on the grid,
    // `hits` times, spacingMs apart. The grid itself (`due`, the MIDI clock) does not move.
    double shiftMs = 0.0;
    int hits = 1;
    double spacingMs = 0.0;
    // The step's place on the grid of its run (origin + k x period, not the moment its
    // callback noticed it); due.run is the run.
    GridTime due;
    // Milliseconds to the next step, unless a tempo change numbered after `tempoChange`
    // has been told (StepFollower::TempoChanged): then the latest of those has the say.
    double periodMs = 0.0;
    uint32_t tempoChange = 0;
};

// Whatever follows the step grid: the sound, the MIDI output and the window each take
// every step and hear of every run's start, tempo changes and end. A run is known by
// one number (StepEvent::due.run) and its end by one mark, the sequencer's RunEnds,
// which every follower is handed once and asks before a step of a run goes out.
//
// Threads. TakeStep runs on the step-clock thread (and on the window thread for the
// first step of a run that sounds at once, while the step clock is stopped); it never
// blocks, allocates or waits for another thread. The others run on the window thread.
class StepFollower {
public:
    virtual ~StepFollower() = default;
    // The sequencer's record of the runs that have ended; given before any run begins.
    virtual void FollowRuns(std::shared_ptr<const RunEnds> /*ends*/) {}
    // Run `run` begins, its first step maybe a moment ahead.
    virtual void RunBegins(uint32_t /*run*/) {}
    virtual void TakeStep(const StepEvent& step) = 0;
    // Tempo change number `change` (counted since the program started): the next step
    // comes periodMs after the last one taken. Told before any step can carry that
    // number.
    virtual void TempoChanged(double /*periodMs*/, uint32_t /*change*/) {}
    // Run `run` has stopped (the record already says so): none of its steps is taken
    // from now on, and those waiting for their moment do not go out.
    virtual void RunEnded(uint32_t /*run*/) {}
};

// The sound as the step clock sees it: a step follower that also answers how far
// ahead steps must be taken, and silences and mutes at the window's word.
// RunBegins: an output that stands still gets ready now (it needs a moment to learn
// when it is heard), and one that runs does not stand still in the meantime.
class StepSound : public StepFollower {
public:
    virtual void SilenceAll() = 0;
    virtual void MuteAll() = 0;
    virtual void UnmuteAll() = 0;
    // How much earlier than its time a step must be taken for the sound to meet it
    // (see AudioMixer::sendAheadNs). Any thread.
    virtual int64_t SendAheadNs() const { return 0; }
    // How long after its time a step is heard (the output's lead, see
    // AudioMixer::LatencyNs). Any thread.
    virtual int64_t LeadNs() const { return 0; }
    // The earliest moment a run starting at nowNs can place its first step on (see
    // AudioMixer::EarliestNs); INT64_MAX when the output does not say. Window thread.
    virtual int64_t EarliestNs(int64_t /*nowNs*/) const { return INT64_MAX; }
};

// The state of the keyboard at this moment (not of the message being handled). Any
// thread.
class KeyboardState {
public:
    virtual ~KeyboardState() = default;
    virtual bool IsCtrlDown() const = 0;
};

// Posts a message to every running instance of the program, this one included.
// MSG_REMOTE_START may carry in lParam the moment (CLOCK_MONOTONIC nanoseconds) at which
// the sender's first step is heard; 0 means at once. Each instance meets that moment
// with its own lead. Window thread; no call waits on another instance.
class InstanceLink {
public:
    virtual ~InstanceLink() = default;
    // Returns how many windows the message was posted to by the time it returns; the
    // other instances are told without waiting for their answers.
    virtual unsigned Broadcast(int message, intptr_t wParam, intptr_t lParam) = 0;
    // Whether another instance is running now.
    virtual bool HasOthers() = 0;
    // The longest lead (see StepSound::LeadNs) that another running instance has made
    // known; with `quick`, what it needs to meet a start now (a stopped, quiet one needs
    // less). 0 when none has made one known.
    virtual int64_t OthersLeadNs(bool /*quick*/) { return 0; }
    // The lead this instance has made known that it needs now (a stopped, quiet one
    // needs less than its lead); 0 when it has made none known.
    virtual int64_t OwnLeadNs() { return 0; }
    // Window thread: this instance started or stopped a run.
    virtual void RunChanged() {}
};

struct SequencerPorts {
    MessagePoster* window = nullptr;
    PlaybackFace* face = nullptr;
    StepSound* sound = nullptr;
    KeyboardState* keys = nullptr;
    InstanceLink* instances = nullptr;
    // A shared session that starts and stops follow while it is on; may be none.
    SessionTimeline* session = nullptr;
    // The MIDI output's follower; may be none.
    StepFollower* midi = nullptr;
    // The window's follower, told after the step clock has published what it did (see
    // Sequencer::TakeClockNews) so that it wakes the window thread to take that in; may
    // be none: then the window learns of the steps only when it asks. Its TakeStep never
    // blocks, allocates or takes a lock, and wake-ups that come while one is pending
    // merge into it.
    StepFollower* windowSteps = nullptr;
};

} // namespace mb
