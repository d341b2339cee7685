#include "engine/PrecisionTimer.h"

#include <cmath>

#include "platform/Clocks.h"

namespace mb {

namespace {

constexpr int64_t kNsPerMs = 1000000;
constexpr int kCalibrationMs = 100;

// Rounds to nearest with exact halves going down.
int32_t RoundHalfDown(double x) {
    const auto n = static_cast<int32_t>(x);
    return (x - n > 0.5) ? n + 1 : n;
}

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
    // Both counters are read at each end of the interval, so its exact length is known:
    // no busy waiting (which at real-time priority would starve a small machine) and no
    // allowance for the cost of the reads.
    const uint64_t tsc0 = ReadTimeStampCounter();
    const int64_t ns0 = MonotonicNs();
    SleepUntilNs(ns0 + kCalibrationMs * kNsPerMs);
    const uint64_t tsc1 = ReadTimeStampCounter();
    const int64_t ns1 = MonotonicNs();
    if (ns1 <= ns0)
        return 0;
    const double ticks = static_cast<double>(tsc1 - tsc0);
    const double ms = static_cast<double>(ns1 - ns0) / kNsPerMs;
    return RoundTicksPerMs(std::llround(ticks / ms));
}

PrecisionTimer::PrecisionTimer() : PrecisionTimer(MeasureCpuTicksPerMs()) {}

PrecisionTimer::PrecisionTimer(int32_t cpuTicksPerMs) {
    hasTsc_ = CpuHasTimeStampCounter();
    cpuTicksPerMs_ = cpuTicksPerMs;
}

PrecisionTimer::~PrecisionTimer() {
    Shutdown();
}

void PrecisionTimer::Configure(Callback callback, void* user) {
    callback_ = callback;
    userValue_ = user;
}

void PrecisionTimer::Start(int64_t deadlineNs) {
    event_.Start(deadlineNs, callback_, userValue_);
}

void PrecisionTimer::Stop() {
    event_.Stop();
}

void PrecisionTimer::Poke() {
    event_.Poke();
}

void PrecisionTimer::Shutdown() {
    event_.Shutdown();
}

int64_t PrecisionTimer::NowNs() const {
    return MonotonicNs();
}

double PrecisionTimer::RawTscMs() const {
    return static_cast<double>(static_cast<int64_t>(ReadTimeStampCounter())) / cpuTicksPerMs_;
}

double PrecisionTimer::RawMonotonicMs() const {
    return static_cast<double>(MonotonicNs()) / static_cast<double>(kNsPerMs);
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
    return MonotonicNs() / kNsPerMs + monotonicOffsetMs_.load(std::memory_order_acquire);
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
        const int64_t raw = MonotonicNs() / kNsPerMs;
        monotonicOffsetMs_.store(current - raw, std::memory_order_release);
    }
    useCpuClock_.store(flag, std::memory_order_release);
}

} // namespace mb
