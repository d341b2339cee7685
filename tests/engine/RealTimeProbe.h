#pragma once

#include <cstdint>

namespace mb::test {

// Counts what a thread does while it is watched: heap allocations through operator new
// and, where the build lets the test take pthread_mutex_lock over (not under
// ThreadSanitizer, which takes it over itself), mutex locks. A test watches a real-time
// path (the step clock's callback, a wake-up of the output) to catch one that allocates
// or locks. Linking RealTimeProbe.cpp replaces operator new for the whole test program.
class RealTimeWatch {
public:
    // The calling thread is watched until the watch goes.
    RealTimeWatch();
    ~RealTimeWatch();
    RealTimeWatch(const RealTimeWatch&) = delete;
    RealTimeWatch& operator=(const RealTimeWatch&) = delete;

    // The calling thread is watched from now on, to its end.
    static void WatchThisThread();

    // Totals over every watched thread since the program started. Any thread.
    static uint64_t Allocations();
    static uint64_t Locks();
    // Whether locks are counted in this build.
    static bool CountsLocks();
};

} // namespace mb::test
