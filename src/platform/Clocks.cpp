#include "platform/Clocks.h"

#include <cerrno>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define MB_HAVE_TSC 1
#endif

namespace mb {

int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

uint64_t ReadTimeStampCounter() {
#ifdef MB_HAVE_TSC
    return __rdtsc();
#else
    return 0;
#endif
}

bool CpuHasTimeStampCounter() {
#ifdef MB_HAVE_TSC
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    return (edx & (1u << 4)) != 0;
#else
    return false;
#endif
}

void SleepUntilNs(int64_t deadlineNs) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(deadlineNs / 1000000000LL);
    ts.tv_nsec = static_cast<long>(deadlineNs % 1000000000LL);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

bool TryRealtimePriority(int priority) {
    sched_param param{};
    const int lo = sched_get_priority_min(SCHED_FIFO);
    const int hi = sched_get_priority_max(SCHED_FIFO);
    param.sched_priority = priority < lo ? lo : (priority > hi ? hi : priority);
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

void NameThisThread(const char* name) {
    pthread_setname_np(pthread_self(), name);
}

void LowerTimerSlack() {
    // One nanosecond is the smallest slack the kernel accepts (0 would restore the
    // default of 50 microseconds).
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

} // namespace mb
