#include "engine/Sequencer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/PrecisionTimer.h"
#include "model/Groove.h"
#include "model/LoopChain.h"
#include "model/Setup.h"

namespace mb {

namespace {

// Milliseconds of a quarter beat at 1 BPM: 60 000 / 4.
constexpr long double kStepMsAtOneBpm = 15000.0L;
// Above 1500 BPM the step light moves only every few steps.
constexpr double kLightStepsPerBpm = 1.0 / 1500.0;

int ValidLoop(int n) {
    return std::clamp(n, 0, kLoopCount - 1);
}

int ValidStepCount(int n) {
    return std::clamp(n, 1, kStepsPerLoop);
}

} // namespace

Sequencer::~Sequencer() {
    Shutdown();
}

double Sequencer::PeriodFromTempo(double bpm) {
    double limited = bpm;
    if (!(limited >= kMinBpm)) // also catches NaN
        limited = kMinBpm;
    if (limited > kMaxBpm)
        limited = kMaxBpm;
    // The tempo as it is stored, in single precision; the period exactly 60 000 / 4 / b
    // ms. (Through the single-precision constant 0.06666667 for a fifteenth, as before,
    // every tempo came out 0.05 ppm slow: one frame in 3.6 minutes at 126 BPM.)
    const auto b = static_cast<float>(limited);
    return static_cast<double>(kStepMsAtOneBpm / static_cast<long double>(b));
}

void Sequencer::Init(const SequencerPorts& ports, Setup* setup, std::unique_ptr<StepClock> clock) {
    panel_ = ports.face;
    window_ = ports.window;
    sound_ = ports.sound;
    keys_ = ports.keys;
    instances_ = ports.instances;
    session_ = ports.session;
    midi_ = ports.midi;
    windowSteps_ = ports.windowSteps;
    setup_ = setup;
    timer_ = clock ? std::move(clock) : std::make_unique<PrecisionTimer>();
    timer_->Configure(&Sequencer::TickThunk, this);
    // One record of the runs that have ended, shared by every follower.
    for (StepFollower* follower : Followers())
        if (follower != nullptr)
            follower->FollowRuns(runEnds_);
}

void Sequencer::Shutdown() {
    if (!timer_)
        return;
    timer_->Stop();
    running_ = 0;
    timer_->Shutdown();
}

int64_t Sequencer::TickThunk(void* user) {
    return static_cast<Sequencer*>(user)->Tick();
}

void Sequencer::StopClock() {
    timer_->Stop();
    running_ = 0;
}

double Sequencer::NextDueMs(bool pending) const {
    double due = segmentMs_ + stepNumber_ * period_;
    // A tempo change takes effect one new period after the previous step.
    if (pending)
        due += newPeriod_ - period_;
    return due;
}

int64_t Sequencer::DueNs(double offsetMs) const {
    return originNs_ + std::llround(offsetMs * 1e6);
}

void Sequencer::Start() {
    // The first step on the first frame the output can still write (one not rendered
    // yet, or, while all is quiet, one it can write again over its queue): it is heard as
    // soon as the output allows, and the step clock sends the others their lead ahead of
    // that grid. The output's word may be old (it stood still): never further back than
    // the lead, so that the run does not begin behind its steps.
    const int64_t now = timer_->ToMonotonicNs(static_cast<double>(timer_->ElapsedMs()));
    const int64_t earliest = sound_->EarliestNs(now);
    const int64_t origin =
        earliest < now ? std::max(earliest, now - std::max<int64_t>(sound_->LeadNs(), 0)) : now;
    StartRun(origin, false, true);
}

void Sequencer::StartAt(int64_t originNs) {
    StartRun(originNs, false, false);
}

void Sequencer::StartHeardAt(int64_t heardNs) {
    const int64_t origin = heardNs - sound_->LeadNs();
    const int64_t now = timer_->NowNs();
    if (origin >= now) {
        StartAt(origin);
        return;
    }
    // Sooner than the lead: the first step is sent now for its moment, which the output
    // meets by writing over its queue while it is quiet (else the run starts late).
    StartRun(origin, false, true);
}

void Sequencer::StartOnSession(int64_t earliestNs, bool announce) {
    StartRun(session_->BeginRun(earliestNs, announce), true, false);
}

void Sequencer::StartRun(int64_t originNs, bool onSession, bool stepNow) {
    Setup& s = *setup_;
    // The origin is taken before the timer starts, and a first step that sounds at once
    // is taken here, so the step-clock thread never takes a step while this thread takes
    // one.
    tempoApplied_ = tempoChanges_.load(std::memory_order_acquire);
    period_ = PeriodFromTempo(s.bpm);
    segmentMs_ = 0.0;
    lastDueMs_ = 0.0;
    stepNumber_ = stepNow ? 1 : 0;
    firstStepPending_ = stepNow ? 0 : 1;
    onSession_ = onSession ? 1 : 0;
    byTime_ = onSession && session_->StepsByTime() ? 1 : 0;
    runStep_ = 0;
    groove_.Reset();
    loopEntriesSeen_ = loopEntries_.load(std::memory_order_acquire);
    // Passes are counted from the run's first step.
    s.passCount = 0;
    run_ = run_ + 1;
    originNs_ = originNs;
    running_ = 1;
    for (StepFollower* follower : Followers())
        if (follower != nullptr)
            follower->RunBegins(run_);
    if (instances_ != nullptr)
        instances_->RunChanged();

    s.currentLoop = static_cast<int16_t>(ValidLoop(s.selectedLoop));
    if (onSession)
        PlaceChain(session_->RunStartsAtStep());
    if (stepNow)
        StepAction(GridTime{run_, originNs_, 0.0, byTime_ != 0});
    window_->PostMessage(MSG_LOOP_STARTED, s.selectedLoop, s.currentLoop);
    if (stepNow)
        s.passCount = 1;
    timer_->Start(stepNow ? DueNs(NextDueMs(false)) : originNs_.load());
    panel_->SetPlayButton(true);
}

void Sequencer::PlaceChain(int64_t steps) {
    if (steps <= 0)
        return;
    Setup& s = *setup_;
    const int64_t perPass = ValidStepCount(s.stepCount);
    const int64_t index = steps % perPass;
    const LoopChain::Place place = LoopChain::Of(s).PassAt(steps / perPass);
    s.currentLoop = static_cast<int16_t>(place.loop);
    // A pass begun counts as soon as its first step is taken.
    s.passCount = static_cast<int16_t>(std::min<int64_t>(place.passesBefore + (index > 0 ? 1 : 0),
                                                         std::numeric_limits<int16_t>::max()));
    s.stepIndex = static_cast<int16_t>(index);
}

void Sequencer::Stop() {
    Setup& s = *setup_;
    StopClock();
    if (instances_ != nullptr)
        instances_->RunChanged();
    // What the clock did before the stop no longer shows.
    ForgetClockNews();
    // Published before anyone is told, so that a step the clock sent just before the stop
    // and that is read only after it never sounds.
    runEnds_->End(run_);
    for (StepFollower* follower : Followers())
        if (follower != nullptr)
            follower->RunEnded(run_);
    if (s.polyphonic == 0)
        sound_->SilenceAll();
    s.stepIndex = 0;
    if (stepLight_ >= 0)
        panel_->SetStepLit(stepLight_, false);
    window_->PostMessage(MSG_LOOP_STARTED, s.currentLoop, -1);
    panel_->SetPlayButton(false);
}

void Sequencer::LeaveSession() {
    if (onSession_ == 0)
        return;
    // No step is taken while the run moves onto its own grid.
    timer_->Stop();
    onSession_ = 0;
    if (!running())
        return;
    tempoApplied_ = tempoChanges_.load(std::memory_order_acquire);
    period_ = PeriodFromTempo(setup_->bpm);
    const bool first = firstStepPending_ != 0;
    segmentMs_ = first ? 0.0 : lastDueMs_.load();
    stepNumber_ = first ? 0 : 1;
    timer_->Start(DueNs(NextDueMs(false)));
}

void Sequencer::Toggle() {
    // With Ctrl held this instance starts or stops alone.
    const bool announce = keys_ == nullptr || !keys_->IsCtrlDown();
    int message;
    // When the first step is heard.
    int64_t heard = 0;
    if (!running()) {
        message = MSG_REMOTE_START;
        const bool others = announce && instances_ != nullptr && instances_->HasOthers();
        const int64_t lead = sound_->LeadNs();
        const int64_t now = timer_->NowNs();
        // With others, the first step is heard when each of them can meet it. Off a shared
        // session, an instance that is stopped and quiet (this one too) meets it sooner than
        // its lead, by writing over its output's queue: the quick leads count there.
        if (SessionOn()) {
            const int64_t othersLead = others ? instances_->OthersLeadNs(false) : 0;
            const int64_t ahead =
                others ? std::max(kStartLeadNs, std::max(lead, othersLead) + kNoticeNs) - lead : 0;
            StartOnSession(now + ahead, announce);
            heard = originNs_ + lead;
        } else if (others) {
            const int64_t made = instances_->OwnLeadNs();
            const int64_t own = made > 0 ? made : lead;
            heard = now + std::max(kStartLeadNs,
                                   std::max(own, instances_->OthersLeadNs(true)) + kNoticeNs);
            StartHeardAt(heard);
        } else {
            Start();
        }
    } else {
        message = MSG_REMOTE_STOP;
        Stop();
        if (SessionOn())
            session_->EndRun(announce);
    }
    if (announce && instances_ != nullptr)
        instances_->Broadcast(message, 0, static_cast<intptr_t>(heard));
}

int64_t Sequencer::SessionDueNs(int64_t n, int64_t afterNs, int64_t fallbackNs) const {
    const int64_t due = session_->StepDueNs(n);
    // A timeline that stands still, runs backwards, lies beyond belief or gives no time
    // at all (a tempo that is no number) is not followed: the step comes when the setup's
    // own tempo says.
    if (due > afterNs && due <= timer_->NowNs() + kMaxLeadNs)
        return due;
    return fallbackNs;
}

int64_t Sequencer::PeriodNs() const {
    return std::max<int64_t>(std::llround(period_ * 1e6), 1);
}

int64_t Sequencer::Tick() {
    if (!running())
        return StepClock::kNoDeadline;
    const int64_t now = timer_->NowNs();
    const uint32_t changes = tempoChanges_.load(std::memory_order_acquire);
    const bool pending = changes != tempoApplied_;
    const bool first = firstStepPending_ != 0;
    const bool onSession = onSession_ != 0;
    // A sound device whose clock runs fast takes the run's grid earlier than the
    // monotonic clock has it: each step is taken that much before its time (later, when
    // the run is behind its moments). Before its first step the run has no place yet:
    // what the output says is of the run before, and a step is never taken late for it.
    const int64_t ahead =
        (first ? std::max<int64_t>(sound_->SendAheadNs(), 0) : sound_->SendAheadNs()) +
        GrooveEarlyNs();
    const int64_t lastNs = DueNs(lastDueMs_);
    // The first step keeps its moment whatever the tempo does before it.
    int64_t sessionDueNs = 0;
    if (onSession)
        sessionDueNs = first ? SessionDueNs(stepNumber_, originNs_ - kMaxLeadNs, originNs_)
                             : SessionDueNs(stepNumber_, lastNs, lastNs + PeriodNs());
    double dueMs = onSession ? static_cast<double>(sessionDueNs - originNs_) / 1e6
                   : first   ? 0.0
                             : NextDueMs(pending);
    int64_t dueNs = onSession ? sessionDueNs : DueNs(dueMs);
    // Woken before the step is due (a tempo change looks at the new due time): sleep on.
    if (now < dueNs - ahead)
        return dueNs - ahead;
    // Only this thread writes it.
    if (now - (dueNs - ahead) > mostHeldUpNs_.load(std::memory_order_relaxed))
        mostHeldUpNs_.store(now - (dueNs - ahead), std::memory_order_relaxed);

    // Fallen behind by more than a few steps (the thread was held up, or the steps come
    // faster than it may take them): the steps it cannot take in time are dropped and it
    // takes the latest one due, instead of all of them one after the other.
    if (!first && !pending) {
        const int64_t spacingNs = onSession ? dueNs - lastNs : PeriodNs();
        int64_t behind = (now + ahead - dueNs) / spacingNs;
        if (!onSession) {
            // Exactly, on the grid: the number of the latest step due.
            const double elapsedMs = static_cast<double>(now + ahead - originNs_) / 1e6;
            behind =
                static_cast<int64_t>(std::floor((elapsedMs - segmentMs_) / period_)) - stepNumber_;
        }
        if (behind > kMaxCatchUpSteps) {
            stepNumber_ += behind;
            runStep_ += behind;
            droppedSteps_.fetch_add(static_cast<uint64_t>(behind), std::memory_order_relaxed);
            if (onSession) {
                dueNs = SessionDueNs(stepNumber_, lastNs, dueNs + behind * spacingNs);
                dueMs = static_cast<double>(dueNs - originNs_) / 1e6;
                if (now < dueNs - ahead)
                    return dueNs - ahead;
            } else {
                dueMs = NextDueMs(false);
                dueNs = DueNs(dueMs);
            }
        }
    }

    StepAction(GridTime{run_, originNs_, dueMs, byTime_ != 0});
    if (first) {
        // A run placed within its chain has counted its passes already.
        setup_->passCount = std::max<int16_t>(setup_->passCount, 1);
        firstStepPending_ = 0;
    }
    lastDueMs_ = dueMs;
    stepNumber_ += 1;
    if (pending) {
        // The stretch of the new tempo starts at this step (the session's timeline
        // carries its own tempo changes).
        if (!onSession) {
            segmentMs_ = dueMs;
            stepNumber_ = 1;
        }
        period_ = newPeriod_.load();
        tempoApplied_ = changes;
    }
    int64_t next = 0;
    if (onSession) {
        next = SessionDueNs(stepNumber_, dueNs, dueNs + PeriodNs()) - ahead;
    } else {
        const bool again = tempoChanges_.load(std::memory_order_acquire) != tempoApplied_;
        next = DueNs(NextDueMs(again)) - ahead;
    }
    // Never straight on to the next step: the thread sleeps a moment after each one,
    // however fast the steps come.
    return std::max(next, now + timer_->MinStepGapNs());
}

void Sequencer::StepAction(GridTime due) {
    Setup& s = *setup_;
    int loopIndex = s.currentLoop;
    if (loopIndex != ValidLoop(loopIndex)) {
        loopIndex = ValidLoop(loopIndex);
        s.currentLoop = static_cast<int16_t>(loopIndex);
    }
    int index = s.stepIndex;
    if (index < 0 || index >= kStepsPerLoop) {
        index = 0;
        s.stepIndex = 0;
    }
    const Loop& loop = s.loop(loopIndex);

    const uint32_t entries = loopEntries_.load(std::memory_order_acquire);
    if (entries != loopEntriesSeen_) {
        loopEntriesSeen_ = entries;
        groove_.LoopEntered();
    }
    // The chain moves on after this pass (the test at the end of a pass, below).
    const int passAfter = index == 0 ? s.passCount + 1 : int{s.passCount};
    StepEvent event = MakeEvent(loopIndex, index, due);
    const StepGroove::Outcome groove = groove_.Take(s, loopIndex, index, runStep_, event.periodMs,
                                                    !(passAfter < loop.repeatCount));
    runStep_ = runStep_ + 1;
    event.on = groove.plays;
    event.pitch = groove.pitch;
    event.shiftMs = groove.shiftMs;
    event.hits = groove.hits;
    event.spacingMs = groove.spacingMs;

    // The sound first, then the MIDI output, then the window once the news is out.
    sound_->TakeStep(event);
    if (midi_ != nullptr)
        midi_->TakeStep(event);
    if (index == 0) {
        s.passCount += 1;
        startedLoop_.store(loopIndex, std::memory_order_relaxed);
        loopStarts_.fetch_add(1, std::memory_order_seq_cst);
    }
    stepsTaken_.fetch_add(1, std::memory_order_seq_cst);
    if (windowSteps_ != nullptr)
        windowSteps_->TakeStep(event);

    s.stepIndex = static_cast<int16_t>(index + 1);
    if (index < ValidStepCount(s.stepCount) - 1)
        return;

    // End of a pass. A repeat count of 0 or 1 plays one pass.
    if (s.passCount < loop.repeatCount) {
        s.stepIndex = 0;
    } else {
        s.currentLoop = static_cast<int16_t>(ValidLoop(loop.nextLoop));
        s.passCount = 0;
        s.stepIndex = 0;
    }
}

StepEvent Sequencer::MakeEvent(int loop, int index, GridTime due) const {
    const Step& step = setup_->loop(loop).steps[static_cast<size_t>(index)];
    StepEvent event;
    event.loop = loop;
    event.step = index;
    event.on = step.on != 0;
    event.sound = step.sound;
    event.pitch = step.pitch;
    event.volume = step.volume;
    event.pan = step.pan;
    event.cutsLast = setup_->polyphonic == 0;
    event.due = due;
    // The next step comes one period after this one, the new period when a tempo change
    // waits (see NextDueMs).
    event.tempoChange = tempoChanges_.load(std::memory_order_acquire);
    event.periodMs = event.tempoChange != tempoApplied_ ? newPeriod_.load() : period_.load();
    // On a shared session's timeline the next step is where the session puts it.
    if (onSession_ != 0) {
        const int64_t dueNs = due.Ns();
        event.periodMs =
            static_cast<double>(SessionDueNs(stepNumber_ + 1, dueNs, dueNs + PeriodNs()) - dueNs) /
            1e6;
    }
    return event;
}

int64_t Sequencer::GrooveEarlyNs() const {
    // D on Delay moves a step up to half a period early.
    if (static_cast<DDial>(static_cast<int16_t>(setup_->dDial)) != DDial::kDelay)
        return 0;
    return PeriodNs() / 2;
}

void Sequencer::TempoChanged() {
    newPeriod_ = PeriodFromTempo(setup_->bpm);
    // The followers hear of the change before a step can carry its number.
    const uint32_t change = tempoChanges_.load(std::memory_order_relaxed) + 1;
    for (StepFollower* follower : Followers())
        if (follower != nullptr)
            follower->TempoChanged(newPeriod_, change);
    tempoChanges_.fetch_add(1, std::memory_order_release);
    // The step clock sleeps until the step due at the old tempo: it looks again now.
    if (running())
        timer_->Poke();
}

void Sequencer::LoopSelected(int n) {
    if (!running())
        return;
    if (keys_ != nullptr && keys_->IsCtrlDown())
        return; // the new selection waits for the next start
    Setup& s = *setup_;
    if (s.selectedLoop != s.currentLoop) {
        s.passCount = 0;
        loopEntries_.fetch_add(1, std::memory_order_release);
    }
    s.currentLoop = static_cast<int16_t>(ValidLoop(s.selectedLoop));
    // A pass of the old loop whose news has not been taken in yet marks it no more.
    loopStartsSeen_ = loopStarts_.load(std::memory_order_seq_cst);
    panel_->SetPlayingLoop(n);
}

void Sequencer::JumpToLoop(int n) {
    if (!running())
        return;
    Setup& s = *setup_;
    s.currentLoop = static_cast<int16_t>(n);
    s.passCount = 0;
    loopEntries_.fetch_add(1, std::memory_order_release);
    panel_->SetPlayingLoop(n);
}

void Sequencer::MuteToggled() {
    Setup& s = *setup_;
    s.muted = panel_->IsSoundOn() ? 0 : 1;
    if (s.muted != 0)
        sound_->MuteAll();
    else
        sound_->UnmuteAll();
    s.modified = 1;
}

bool Sequencer::OnWindowMessage(int message, intptr_t wParam, intptr_t lParam) {
    switch (message) {
    case MSG_STEP_PLAYED:
        StepLight(1);
        return true;
    case MSG_REMOTE_START: {
        if (running())
            return true;
        const int64_t now = timer_->NowNs();
        // This instance's first step is sent its own lead before the moment it is heard.
        const auto heard = static_cast<int64_t>(lParam);
        const int64_t origin = heard - sound_->LeadNs();
        const bool ahead = heard > 0 && origin >= now && origin - now <= kMaxLeadNs;
        if (SessionOn())
            StartOnSession(ahead ? std::max(origin - kBarToleranceNs, now) : now, false);
        else if (heard > now && heard - now <= kMaxLeadNs)
            StartHeardAt(heard);
        else
            Start();
        return true;
    }
    case MSG_REMOTE_STOP:
        if (running())
            Stop();
        return true;
    case MSG_LOOP_STARTED:
        panel_->SetPlayingLoop(lParam == -1 ? -1 : static_cast<int>(wParam));
        return true;
    default:
        return false;
    }
}

void Sequencer::ForgetClockNews() {
    stepsSeen_ = stepsTaken_.load(std::memory_order_seq_cst);
    loopStartsSeen_ = loopStarts_.load(std::memory_order_seq_cst);
}

void Sequencer::TakeClockNews() {
    const uint32_t steps = stepsTaken_.load(std::memory_order_seq_cst);
    const uint32_t starts = loopStarts_.load(std::memory_order_seq_cst);
    const int loop = startedLoop_.load(std::memory_order_relaxed);
    const uint32_t newSteps = steps - stepsSeen_;
    const bool started = starts != loopStartsSeen_;
    stepsSeen_ = steps;
    loopStartsSeen_ = starts;
    if (!running())
        return;
    if (started)
        panel_->SetPlayingLoop(loop);
    StepLight(newSteps);
}

void Sequencer::StepLight(uint32_t steps) {
    // A step message still queued when the clock stopped must not light a column again.
    if (!running() || steps == 0)
        return;
    const Setup& s = *setup_;
    // The light moves at every step that brings the counter to bpm / 1500 (every step
    // below 1500 BPM), as if each step were told on its own.
    const double every = s.bpm * kLightStepsPerBpm;
    int64_t need = 1;
    if (every > 1.0)
        need = every < static_cast<double>(INT32_MAX) ? static_cast<int64_t>(std::ceil(every))
                                                      : INT32_MAX;
    const int64_t counted = lightCounter_ + static_cast<int64_t>(steps);
    lightCounter_ = static_cast<int32_t>(counted % need);
    if (counted < need)
        return;
    const int index = s.stepIndex;
    int column = index != 0 ? index - 1 : ValidStepCount(s.stepCount) - 1;
    column = std::clamp(column, 0, kStepsPerLoop - 1);
    panel_->SetStepLit(column, true);
    // With one step per pass the same column lights every time: keep it lit.
    if (stepLight_ >= 0 && stepLight_ != column)
        panel_->SetStepLit(stepLight_, false);
    stepLight_ = column;
}

} // namespace mb
