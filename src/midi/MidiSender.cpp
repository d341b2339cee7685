#include "midi/MidiSender.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>

namespace mb {

namespace {

constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kSongPosition = 0xF2;
constexpr uint8_t kClock = 0xF8;
constexpr uint8_t kStart = 0xFA;
constexpr uint8_t kStop = 0xFC;
constexpr int kMaxData = 127;
// A note sounds for this share of the step period.
constexpr double kNoteLength = 0.25;

} // namespace

MidiSender::MidiSender() {
    sem_init(&wake_, 0, 0);
    Clear();
}

MidiSender::~MidiSender() {
    sem_destroy(&wake_);
}

void MidiSender::Enable(const Options& options) {
    Disable();
    Message stale;
    while (queue_.Pop(stale)) {
    }
    while (sem_trywait(&wake_) == 0) {
    }
    options_ = options;
    options_.channel = std::clamp(options_.channel, 1, 16);
    Clear();
    anyRun_ = false;
    lastAt_ = std::numeric_limits<int64_t>::min();
    enabled_.store(true, std::memory_order_release);
}

void MidiSender::Disable() {
    enabled_.store(false, std::memory_order_release);
}

void MidiSender::Clear() {
    haveNext_ = false;
    inRun_ = false;
    clocksSent_ = kClocksPerStep;
    noteOff_.fill(kNever);
    notesOn_ = 0;
    pendingCount_ = 0;
}

void MidiSender::Push(const Message& message) {
    if (!enabled_.load(std::memory_order_acquire))
        return;
    if (!queue_.Push(message))
        dropped_.fetch_add(1, std::memory_order_relaxed);
    sem_post(&wake_);
}

void MidiSender::TakeStep(const StepEvent& step) {
    Message m;
    m.kind = Kind::kStep;
    m.velocity = static_cast<uint8_t>(std::clamp(step.volume, 0, kMaxData));
    // A step at volume 0 is silent: a note-on of velocity 0 would mean note-off.
    m.on = step.on && m.velocity > 0;
    m.note = static_cast<uint8_t>(std::clamp(kFirstNote + step.sound, 0, kMaxData));
    m.run = step.due.run;
    m.tempoChange = step.tempoChange;
    m.originNs = step.due.originNs;
    m.offsetMs = step.due.offsetMs;
    m.periodMs = step.periodMs;
    m.shiftMs = step.shiftMs;
    m.spacingMs = step.spacingMs;
    m.hits = static_cast<uint8_t>(std::clamp(step.hits, 1, 255));
    Push(m);
}

void MidiSender::TempoChanged(double periodMs, uint32_t change) {
    latestPeriod_.store(periodMs, std::memory_order_relaxed);
    latestChange_.store(change, std::memory_order_release);
    // A sender thread asleep until the next clock looks again.
    sem_post(&wake_);
}

void MidiSender::FollowRuns(std::shared_ptr<const RunEnds> ends) {
    if (!runEnds_.empty() && runEnds_.back() == ends)
        return;
    followedEnds_.store(ends.get(), std::memory_order_release);
    runEnds_.push_back(std::move(ends));
}

void MidiSender::RunEnded(uint32_t run) {
    // The shared record already says so (the steps still queued are not sent); this
    // message ends the notes still on and sends Stop.
    Message m;
    m.kind = Kind::kStop;
    m.run = run;
    Push(m);
}

void MidiSender::Wake() {
    sem_post(&wake_);
}

void MidiSender::Wait(int64_t deadlineNs) {
    if (deadlineNs == kNever) {
        while (sem_wait(&wake_) != 0 && errno == EINTR) {
        }
        return;
    }
    timespec until{};
    until.tv_sec = static_cast<time_t>(deadlineNs / 1000000000);
    until.tv_nsec = static_cast<long>(deadlineNs % 1000000000);
    while (sem_clockwait(&wake_, CLOCK_MONOTONIC, &until) != 0 && errno == EINTR) {
    }
}

bool MidiSender::Stopped(uint32_t run) const {
    const RunEnds* ends = followedEnds_.load(std::memory_order_acquire);
    return ends != nullptr && ends->Ended(run);
}

double MidiSender::PeriodNow() const {
    const uint32_t latest = latestChange_.load(std::memory_order_acquire);
    // A change numbered after the one the last step knew of sets the period since.
    if (static_cast<int32_t>(latest - stepChange_) > 0)
        return latestPeriod_.load(std::memory_order_relaxed);
    return stepPeriodMs_;
}

int64_t MidiSender::PlaceOnRun(double offsetMs) const {
    return origin_ + std::llround(offsetMs * unitsPerMs_);
}

void MidiSender::Send(
    MidiTarget& target, int64_t at, uint8_t status, int size, uint8_t a, uint8_t b) {
    // A late event goes out now; a clock pulled forward by a tempo change never goes
    // out before what was sent.
    lastAt_ = std::max({lastAt_, from_, at});
    MidiEvent event;
    event.at = lastAt_;
    event.size = static_cast<uint8_t>(size);
    event.bytes[0] = status;
    event.bytes[1] = a;
    event.bytes[2] = b;
    target.Emit(event);
}

int64_t MidiSender::Take(MidiTarget& target, int64_t from, int64_t until) {
    unitsPerMs_ = target.UnitsPerMs();
    from_ = from;
    for (;;) {
        if (!haveNext_ && queue_.Pop(next_)) {
            haveNext_ = true;
            if (next_.kind == Kind::kStop) {
                // The sound stops at once, and so does the MIDI.
                nextAt_ = from_;
            } else if (inRun_ && next_.run == run_) {
                nextAt_ = PlaceOnRun(next_.offsetMs);
            } else {
                // A run's origin is placed once, when its first step arrives.
                nextOrigin_ = target.PlaceOf(next_.originNs);
                nextAt_ = nextOrigin_ + std::llround(next_.offsetMs * unitsPerMs_);
            }
            if (next_.kind == Kind::kStep && next_.on && next_.velocity > 0 && options_.notes &&
                next_.Grooved() && !Stopped(next_.run))
                QueueNotes(inRun_ && next_.run == run_ ? origin_ : nextOrigin_);
        }
        // A step of a stopped run that has not gone out never does: the mixer drops its
        // sound too.
        if (haveNext_ && next_.kind == Kind::kStep && Stopped(next_.run)) {
            haveNext_ = false;
            continue;
        }
        const int64_t messageAt = haveNext_ ? nextAt_ : kNever;
        int64_t clockAt = kNever;
        if (inRun_ && clocksSent_ < kClocksPerStep && !Stopped(run_))
            clockAt = PlaceOnRun(stepMs_ + clocksSent_ * PeriodNow() / kClocksPerStep);
        int note = -1;
        int64_t offAt = kNever;
        if (notesOn_ > 0) {
            for (int n = 0; n <= kMaxData; ++n) {
                if (noteOff_[static_cast<size_t>(n)] < offAt) {
                    offAt = noteOff_[static_cast<size_t>(n)];
                    note = n;
                }
            }
        }
        int pendingNote = -1;
        int64_t onAt = kNever;
        for (int i = 0; i < pendingCount_; ++i) {
            if (pending_[static_cast<size_t>(i)].at < onAt) {
                onAt = pending_[static_cast<size_t>(i)].at;
                pendingNote = i;
            }
        }
        const int64_t at = std::min({messageAt, clockAt, offAt, onAt});
        if (at == kNever || at >= until)
            return at;
        // At one place: note-offs, then the clock and the steps (a run's Start comes before
        // its notes), then the grooved notes.
        if (onAt == at && offAt != at && clockAt != at && messageAt != at) {
            SendPendingNote(target, pendingNote, at);
        } else if (offAt == at) {
            Send(target, at, static_cast<uint8_t>(kNoteOff | (options_.channel - 1)), 3,
                 static_cast<uint8_t>(note), 0);
            noteOff_[static_cast<size_t>(note)] = kNever;
            --notesOn_;
        } else if (clockAt == at && clockAt < messageAt) {
            Send(target, at, kClock, 1);
            ++clocksSent_;
        } else {
            haveNext_ = false;
            if (next_.kind == Kind::kStop)
                SendStop(target, at);
            else
                SendStep(target, at);
        }
    }
}

void MidiSender::SendStep(MidiTarget& target, int64_t at) {
    const bool sameRun = inRun_ && next_.run == run_;
    // Too late for its place: the run moves on so that this step lands now.
    const int64_t late = std::max<int64_t>(std::max(from_, lastAt_) - at, 0);
    at += late;
    if (sameRun) {
        // A step that comes before the clocks of the last one were all sent (the tempo
        // went up) sends them first, so that every step has its six.
        for (; clocksSent_ < kClocksPerStep; ++clocksSent_)
            if (options_.clock)
                Send(target, at, kClock, 1);
    } else {
        if (options_.clock) {
            if (anyRun_)
                Send(target, at, kSongPosition, 3, 0, 0);
            Send(target, at, kStart, 1);
        }
        inRun_ = true;
        anyRun_ = true;
        run_ = next_.run;
        origin_ = nextOrigin_;
    }
    if (!sameRun || !options_.keepTimeOverGaps)
        origin_ += late;
    stepMs_ = next_.offsetMs;
    stepPeriodMs_ = next_.periodMs;
    stepChange_ = next_.tempoChange;
    if (options_.clock) {
        Send(target, at, kClock, 1);
        clocksSent_ = 1;
    } else {
        clocksSent_ = kClocksPerStep;
    }
    // A grooved step's notes were placed when it was taken from the queue.
    if (!options_.notes || !next_.on || next_.Grooved())
        return;
    StartNote(target, at, next_.note, next_.velocity,
              PlaceOnRun(stepMs_ + PeriodNow() * kNoteLength));
}

void MidiSender::StartNote(
    MidiTarget& target, int64_t at, uint8_t note, uint8_t velocity, int64_t offAt) {
    const uint8_t channel = static_cast<uint8_t>(options_.channel - 1);
    int64_t& off = noteOff_[note];
    // The same note still sounding ends before it starts again.
    if (off != kNever) {
        Send(target, at, static_cast<uint8_t>(kNoteOff | channel), 3, note, 0);
        --notesOn_;
    }
    Send(target, at, static_cast<uint8_t>(kNoteOn | channel), 3, note, velocity);
    off = std::max(at, offAt);
    ++notesOn_;
}

void MidiSender::QueueNotes(int64_t origin) {
    const double lengthMs = (next_.hits > 1 ? next_.spacingMs : next_.periodMs) * kNoteLength;
    for (int hit = 0; hit < next_.hits && pendingCount_ < kMaxPendingNotes; ++hit) {
        const double onMs = next_.offsetMs + next_.shiftMs + hit * next_.spacingMs;
        PendingNote& p = pending_[static_cast<size_t>(pendingCount_++)];
        p.at = origin + std::llround(onMs * unitsPerMs_);
        p.off = origin + std::llround((onMs + lengthMs) * unitsPerMs_);
        p.run = next_.run;
        p.note = next_.note;
        p.velocity = next_.velocity;
    }
}

void MidiSender::SendPendingNote(MidiTarget& target, int index, int64_t at) {
    const PendingNote p = pending_[static_cast<size_t>(index)];
    pending_[static_cast<size_t>(index)] = pending_[static_cast<size_t>(--pendingCount_)];
    // A note of a stopped run never goes out, as its sound does not.
    if (Stopped(p.run) || !inRun_ || p.run != run_)
        return;
    StartNote(target, at, p.note, p.velocity, p.off);
}

void MidiSender::SendStop(MidiTarget& target, int64_t at) {
    // The notes still sounding end with the run, as its sound does.
    const uint8_t channel = static_cast<uint8_t>(options_.channel - 1);
    for (int n = 0; n <= kMaxData; ++n) {
        if (noteOff_[static_cast<size_t>(n)] != kNever)
            Send(target, at, static_cast<uint8_t>(kNoteOff | channel), 3, static_cast<uint8_t>(n),
                 0);
    }
    const bool stopsRun = inRun_ && next_.run == run_;
    Clear();
    if (stopsRun && options_.clock)
        Send(target, at, kStop, 1);
}

} // namespace mb
