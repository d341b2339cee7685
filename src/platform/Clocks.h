#pragma once

#include <cstdint>

namespace mb {

// Nanoseconds on CLOCK_MONOTONIC. Safe on every thread, the audio callback included.
int64_t MonotonicNs();

// The processor's time-stamp counter, or 0 where there is none.
uint64_t ReadTimeStampCounter();

// True when CPUID leaf 1 reports a time-stamp counter (EDX bit 4).
bool CpuHasTimeStampCounter();

// Sleeps until the absolute CLOCK_MONOTONIC time given, resuming after signals.
void SleepUntilNs(int64_t deadlineNs);

// Asks for real-time (SCHED_FIFO) scheduling of the calling thread at the given priority.
// Returns false, changing nothing, when the system refuses.
bool TryRealtimePriority(int priority);

// Names the calling thread as profilers and `top -H` show it (at most 15 characters).
void NameThisThread(const char* name);

// Lowers the calling thread's timer slack so that absolute sleeps wake close to their
// deadline.
void LowerTimerSlack();

} // namespace mb
