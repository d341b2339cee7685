#include "midi/ClockFollower.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace mb {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr auto kAcquire = std::memory_order_acquire;
constexpr auto kRelease = std::memory_order_release;

int64_t TwoBeatsNs(double intervalNs) {
    return std::llround(2.0 * ClockFollower::kClocksPerBeat * intervalNs);
}

// How far from its line a clock may come and still be on it.
double OnLineNs(double intervalNs) {
    return std::max(static_cast<double>(ClockFollower::kChangeNs),
                    ClockFollower::kChangeShare * intervalNs);
}

} // namespace

ClockFollower::ClockFollower(Hooks hooks) : hooks_(std::move(hooks)) {}

bool ClockFollower::Take(const unsigned char* bytes, size_t size, int64_t timeNs) {
    if (size == 0)
        return false;
    // Counting clocks afresh from a transport message ends any doubt about the last.
    if (bytes[0] != kClock)
        doubtClock_ = -1;
    switch (bytes[0]) {
    case kClock:
        OnClock(timeNs);
        return true;
    case kStart:
    case kContinue:
        if (bytes[0] == kContinue && running_)
            return true;
        if (bytes[0] == kStart)
            position_ = 0;
        running_ = true;
        own_.startClock = count_;
        own_.startPosition = position_;
        ++own_.transports;
        own_.lastTransport = bytes[0];
        Publish();
        return true;
    case kStop:
        if (running_)
            position_ = own_.startPosition + (count_ - own_.startClock);
        running_ = false;
        ++own_.transports;
        own_.lastTransport = kStop;
        Publish();
        return true;
    case kSongPosition:
        if (size >= 3 && !running_)
            position_ = ((int64_t{bytes[2]} << 7) | bytes[1]) * kClocksPerStep;
        return true;
    default:
        return false;
    }
}

void ClockFollower::OnClock(int64_t timeNs) {
    if (onLine_ > 0) {
        const int64_t gap = timeNs - own_.lastClockNs;
        const int64_t longest = own_.Known() ? TwoBeatsNs(own_.intervalNs) : kLongestIntervalNs;
        if (gap > longest || gap < 0) {
            onLine_ = 0;
            offLine_ = 0;
            doubtClock_ = -1;
        } else {
            // The clock before may have come after lost ones (see DoubtClock).
            CountLostClocks(timeNs);
            if (own_.Known()) {
                const double off = static_cast<double>(timeNs) - own_.AtNs(count_);
                const double limit = OnLineNs(own_.intervalNs);
                // Late after a steady line: clocks may have been lost.
                if (off > limit && onLine_ == kFitClocks && offLine_ == 0 &&
                    count_ != own_.startClock)
                    DoubtClock(timeNs);
                if (std::abs(off) > limit && count_ == own_.startClock) {
                    // The first clock after a start is off the line: the clock was started
                    // afresh in a phase of its own.
                    onLine_ = 0;
                    offLine_ = 0;
                } else if (std::abs(off) > limit) {
                    const int side = off > 0 ? 1 : -1;
                    offLine_ = side == offSide_ ? offLine_ + 1 : 1;
                    offSide_ = side;
                } else {
                    offLine_ = 0;
                }
            }
        }
    }
    times_[static_cast<size_t>(count_) % kFitClocks] = timeNs;
    ++count_;
    onLine_ = std::min(onLine_ + 1, kFitClocks);
    // The tempo changed: the clocks before the change no longer tell it.
    if (offLine_ >= kChangeClocks) {
        onLine_ = offLine_;
        offLine_ = 0;
    }
    own_.lastClockNs = timeNs;
    Fit();
    Publish();
}

void ClockFollower::DoubtClock(int64_t timeNs) {
    for (int lost = 1; lost <= kMaxLostClocks; ++lost) {
        if (std::abs(static_cast<double>(timeNs) - own_.AtNs(count_ + lost)) <=
            OnLineNs(own_.intervalNs)) {
            doubtClock_ = count_;
            doubtLost_ = lost;
            doubtLine_ = own_;
            return;
        }
    }
}

void ClockFollower::CountLostClocks(int64_t timeNs) {
    const int64_t doubted = doubtClock_;
    doubtClock_ = -1;
    if (doubted < 0 || doubted != count_ - 1)
        return;
    // Back on the line's pace from the clock in doubt: it came after doubtLost_ lost.
    const Snapshot& line = doubtLine_;
    if (std::abs(static_cast<double>(timeNs) - line.AtNs(doubted + doubtLost_ + 1)) >
        OnLineNs(line.intervalNs))
        return;
    const int64_t doubtedNs = times_[static_cast<size_t>(doubted) % kFitClocks];
    for (int i = 0; i < doubtLost_; ++i)
        times_[static_cast<size_t>(doubted + i) % kFitClocks] =
            std::llround(line.AtNs(doubted + i));
    count_ = doubted + doubtLost_;
    times_[static_cast<size_t>(count_) % kFitClocks] = doubtedNs;
    ++count_;
    onLine_ = std::min(onLine_ + static_cast<size_t>(doubtLost_), kFitClocks);
    offLine_ = 0;
    Fit();
}

void ClockFollower::Fit() {
    const int64_t newest = count_ - 1;
    const int64_t newestNs = times_[static_cast<size_t>(newest) % kFitClocks];
    own_.clocks = static_cast<int64_t>(onLine_);
    own_.anchor = newest;
    own_.anchorNs = newestNs;
    if (onLine_ < 2) {
        own_.intervalNs = 0.0;
        return;
    }
    // x: clocks before the newest (0, -1, ...); y: nanoseconds from the newest.
    const double n = static_cast<double>(onLine_);
    double sumX = 0.0;
    double sumY = 0.0;
    for (size_t i = 0; i < onLine_; ++i) {
        sumX -= static_cast<double>(i);
        sumY += static_cast<double>(
            times_[static_cast<size_t>(newest - static_cast<int64_t>(i)) % kFitClocks] - newestNs);
    }
    const double meanX = sumX / n;
    const double meanY = sumY / n;
    double sxx = 0.0;
    double sxy = 0.0;
    for (size_t i = 0; i < onLine_; ++i) {
        const double x = -static_cast<double>(i) - meanX;
        const double y =
            static_cast<double>(
                times_[static_cast<size_t>(newest - static_cast<int64_t>(i)) % kFitClocks] -
                newestNs) -
            meanY;
        sxx += x * x;
        sxy += x * y;
    }
    own_.intervalNs = sxy / sxx;
    own_.anchorNs = newestNs + std::llround(meanY - own_.intervalNs * meanX);
}

// The sequence number is odd while the fields change. Every field is stored with
// release and loaded with acquire, so a reader that sees any new field sees the odd
// number after it, and tries again.
int64_t ClockFollower::DueNs(const Snapshot& line, int64_t clock) const {
    return std::llround(line.AtNs(clock)) - latencyNs_;
}

ClockFollower::News ClockFollower::Poll(int64_t nowNs) {
    const Snapshot s = Read();
    News news;
    if (s.Known()) {
        const double bpm = s.Bpm();
        if (bpmShown_ == 0.0 || std::abs(bpm - bpmShown_) >= kTempoStep) {
            bpmShown_ = bpm;
            news.tempoChanged = true;
        }
        line_ = s;
    }
    news.bpm = bpmShown_;
    const bool fresh = s.Known() && nowNs - s.lastClockNs <= TwoBeatsNs(s.intervalNs);
    if (s.transports != transportsSeen_) {
        if (!on_) {
            transportsSeen_ = s.transports;
        } else if (s.lastTransport == kStop) {
            transportsSeen_ = s.transports;
            news.transport = News::Transport::kStop;
        } else if (fresh && s.anchor >= s.startClock) {
            // Started, and a clock came after the start: the clock's interval is known
            // from two clocks after it, or from clocks before it on the same line.
            transportsSeen_ = s.transports;
            news.transport = News::Transport::kStart;
        }
    }
    if (following_ && line_.Known() && nowNs - s.lastClockNs > TwoBeatsNs(line_.intervalNs)) {
        frozenAnchor_ = line_.anchor;
        frozenAnchorNs_ = line_.anchorNs;
        frozenIntervalNs_ = line_.intervalNs;
        frozen_.store(true, kRelease);
        following_ = false;
        news.lost = true;
    }
    return news;
}

std::string ClockFollower::LostMessage(double bpm) {
    char text[96];
    std::snprintf(text, sizeof text, "The MIDI clock stopped arriving; playing on at %.1f BPM.",
                  bpm);
    return text;
}

int64_t ClockFollower::BeginRun(int64_t earliestNs, bool /*announce*/) {
    const Snapshot s = Read();
    latencyNs_ = hooks_.latencyNs ? hooks_.latencyNs() : 0;
    frozen_.store(false, kRelaxed);
    runClock_ = -1;
    runStep_ = -1;
    following_ = false;
    if (!on_ || !s.Known())
        return earliestNs;
    // The first 16th of the song from where the clock started; without a start, the
    // next clock.
    int64_t clock = s.anchor + 1;
    int64_t step = -1;
    if (s.transports > 0 && s.lastTransport != kStop) {
        const int64_t position =
            (s.startPosition + kClocksPerStep - 1) / kClocksPerStep * kClocksPerStep;
        clock = s.startClock + (position - s.startPosition);
        step = position / kClocksPerStep;
    }
    // Steps the output can no longer make in time are skipped.
    const double stepNs = kClocksPerStep * s.intervalNs;
    const double shortNs = static_cast<double>(earliestNs + latencyNs_) - s.AtNs(clock);
    int64_t skipped = shortNs > 0 ? static_cast<int64_t>(std::ceil(shortNs / stepNs)) : 0;
    while (DueNs(s, clock + skipped * kClocksPerStep) < earliestNs)
        ++skipped;
    while (skipped > 0 && DueNs(s, clock + (skipped - 1) * kClocksPerStep) >= earliestNs)
        --skipped;
    clock += skipped * kClocksPerStep;
    runClock_ = clock;
    runStep_ = step < 0 ? -1 : step + skipped;
    following_ = true;
    line_ = s;
    return DueNs(s, clock);
}

void ClockFollower::EndRun(bool /*announce*/) {
    following_ = false;
}

int64_t ClockFollower::StepDueNs(int64_t n) {
    const int64_t first = runClock_;
    if (first < 0)
        return 0;
    const int64_t clock = first + n * kClocksPerStep;
    if (frozen_.load(kAcquire)) {
        Snapshot line;
        line.anchor = frozenAnchor_;
        line.anchorNs = frozenAnchorNs_;
        line.intervalNs = frozenIntervalNs_;
        return DueNs(line, clock);
    }
    const Snapshot s = Read();
    return s.Known() ? DueNs(s, clock) : 0;
}

} // namespace mb
