#pragma once

#include <atomic>
#include <cstdint>

namespace mb {

// Wakes one waiting thread from other threads without a lock, an allocation or a wait:
// a ring sets a flag and, when the flag was clear, writes once to an event file
// descriptor that the waiting thread watches (Wait polls it; a window watches fd with a
// socket notifier). Rings that come while one is pending merge into it, so however often
// the bell rings, at most one wake-up is in flight.
//
// What a ringing thread publishes (through atomics) before it rings is seen by the
// waiting thread once it has answered: a ring that comes after the answer wakes it again.
//
// Threads: Ring on any thread; Answer and Wait on the one waiting thread; fd on any.
class Doorbell {
public:
    // Throws std::system_error when the system gives no event descriptor.
    Doorbell();
    ~Doorbell();
    Doorbell(const Doorbell&) = delete;
    Doorbell& operator=(const Doorbell&) = delete;

    // Any thread, lock-free: wakes the waiting thread, unless a wake-up is pending.
    void Ring();
    // The waiting thread: takes the pending ring; true when there was one. It then looks
    // at what the ringing threads published.
    bool Answer();
    // The waiting thread: sleeps until the bell rings or timeoutNs has passed (a negative
    // timeout: no limit), and answers it. True when it rang.
    bool Wait(int64_t timeoutNs);
    // Readable while a ring waits for its answer.
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    std::atomic<bool> pending_{false};
};

} // namespace mb
