#include "engine/PrecisionTimer.h"

#include <algorithm>
#include <cmath>
#include <pthread.h>
#include <sched.h>

#include "platform/Clocks.h"

namespace mb {

namespace {

constexpr int64_t kPerfFrequency = 1000000000; // CLOCK_MONOTONIC counts nanoseconds
constexpr int kCalibrationMs = 100;

// Spins until `ms` milliseconds of CLOCK_MONOTONIC have passed.
void BusyWait(int ms) {
    const int64_t target = (kPerfFrequency / 1000) * ms;
    const int64_t start = MonotonicNs();
    while (MonotonicNs() - start < target) {
    }
}

// The same preparation and counter reads as BusyWait without the wait: what they cost
// is subtracted from the measurement.
void OverheadPass(int ms) {
    const int64_t target = (kPerfFrequency / 1000) * ms;
    const int64_t start = MonotonicNs();
    while (MonotonicNs() - start == target) {
    }
}

// Rounds to nearest with exact halves going down.
int32_t RoundHalfDown(double x) {
    const auto n = static_cast<int32_t>(x);
    return (x - n > 0.5) ? n + 1 : n;
}

// Raises the calling thread to real-time priority for the duration of a measurement.
class RaisedPriority {
public:
    RaisedPriority() {
        changed_ = pthread_getschedparam(pthread_self(), &policy_, &param_) == 0 &&
                   TryRealtimePriority(sched_get_priority_max(SCHED_FIFO));
    }
    ~RaisedPriority() {
        if (changed_)
            pthread_setschedparam(pthread_self(), policy_, &param_);
    }

private:
    bool changed_ = false;
    int policy_ = SCHED_OTHER;
    sched_param param_{};
};

} // namespace

int32_t RoundTicksPerMs(int64_t q) {
    const double tenth = static_cast<double>(0.1f);
    int32_t r = RoundHalfDown(static_cast<int32_t>(q) * tenth);
    r = RoundHalfDown(r * tenth);
    r = RoundHalfDown(r * tenth);
    return static_cast<int32_t>(static_cast<int64_t>(r) * 1000);
}

int32_t MeasureCpuTicksPerMs() {
    if (!CpuHasTimeStampCounter())
        return 0;
    int64_t d1 = 0;
    int64_t d2 = 0;
    {
        RaisedPriority raised;
        uint64_t t0 = ReadTimeStampCounter();
        BusyWait(kCalibrationMs);
        d1 = static_cast<int64_t>(ReadTimeStampCounter() - t0);
        t0 = ReadTimeStampCounter();
        OverheadPass(kCalibrationMs);
        d2 = static_cast<int64_t>(ReadTimeStampCounter() - t0);
    }
    return RoundTicksPerMs((d1 - d2) / kCalibrationMs);
}

PrecisionTimer::PrecisionTimer() {
    hasTsc_ = CpuHasTimeStampCounter();
    cpuTicksPerMs_ = MeasureCpuTicksPerMs();
    Init(TimerCaps{});
}

PrecisionTimer::PrecisionTimer(TimerCaps caps, int32_t cpuTicksPerMs) {
    hasTsc_ = CpuHasTimeStampCounter();
    cpuTicksPerMs_ = cpuTicksPerMs;
    Init(caps);
}

void PrecisionTimer::Init(TimerCaps caps) {
    perfFrequency_ = kPerfFrequency;
    caps_ = caps;
    beginPeriod_ = std::max<uint32_t>(1, caps_.wPeriodMin);
    eventPeriod_ = std::clamp<uint32_t>(1, caps_.wPeriodMin, caps_.wPeriodMax);
}

PrecisionTimer::~PrecisionTimer() {
    Stop();
}

void PrecisionTimer::Configure(uint32_t periodMs, Callback callback, void* user) {
    if (periodMs < caps_.wPeriodMin)
        eventPeriod_ = caps_.wPeriodMin;
    else if (periodMs > caps_.wPeriodMax)
        eventPeriod_ = caps_.wPeriodMax;
    else
        eventPeriod_ = periodMs;
    callback_ = callback;
    userValue_ = user;
}

void PrecisionTimer::Start() {
    Stop();
    event_.Start(eventPeriod_, callback_, userValue_);
    ++eventId_;
    active_.store(true, std::memory_order_relaxed);
}

void PrecisionTimer::Stop() {
    event_.Stop();
    active_.store(false, std::memory_order_relaxed);
}

double PrecisionTimer::RawTscMs() const {
    return static_cast<double>(static_cast<int64_t>(ReadTimeStampCounter())) / cpuTicksPerMs_;
}

double PrecisionTimer::RawMonotonicMs() const {
    return static_cast<double>(MonotonicNs()) / static_cast<double>(perfFrequency_ / 1000);
}

double PrecisionTimer::PreciseMs(bool tsc) const {
    if (tsc)
        return RawTscMs() + static_cast<double>(tscOffsetMs_.load(std::memory_order_acquire));
    return RawMonotonicMs() +
           static_cast<double>(monotonicOffsetMs_.load(std::memory_order_acquire));
}

int64_t PrecisionTimer::ElapsedMs() const {
    if (ReadsTsc()) {
        const auto ticks = static_cast<int64_t>(ReadTimeStampCounter());
        return ticks / static_cast<int64_t>(cpuTicksPerMs_) +
               tscOffsetMs_.load(std::memory_order_acquire);
    }
    return MonotonicNs() / (perfFrequency_ / 1000) +
           monotonicOffsetMs_.load(std::memory_order_acquire);
}

int64_t PrecisionTimer::ToMonotonicNs(double clockMs) const {
    const bool tsc = ReadsTsc();
    const double nowMs = PreciseMs(tsc);
    const int64_t nowNs = MonotonicNs();
    return nowNs - std::llround((nowMs - clockMs) * 1e6);
}

void PrecisionTimer::SetUseCpuClock(bool flag) {
    if (!TscUsable() || flag == useCpuClock()) {
        useCpuClock_.store(flag, std::memory_order_release);
        return;
    }
    // Line the new source up with the reading of the old one, then switch.
    const int64_t current = ElapsedMs();
    if (flag) {
        const auto raw = static_cast<int64_t>(ReadTimeStampCounter()) / cpuTicksPerMs_;
        tscOffsetMs_.store(current - raw, std::memory_order_release);
    } else {
        const int64_t raw = MonotonicNs() / (perfFrequency_ / 1000);
        monotonicOffsetMs_.store(current - raw, std::memory_order_release);
    }
    useCpuClock_.store(flag, std::memory_order_release);
}

} // namespace mb
