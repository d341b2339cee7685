#include "platform/DeadlineTimer.h"

#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/Clocks.h"

namespace mb {

namespace {

constexpr int kTimerThreadPriority = 80;
constexpr int64_t kNsPerSecond = 1000000000;

// Sleeps while *word is `expected`, until woken or (unless untilNs is kNoDeadline) the
// monotonic clock reaches untilNs.
void FutexWait(std::atomic<uint32_t>& word, uint32_t expected, int64_t untilNs) {
    timespec until{};
    until.tv_sec = static_cast<time_t>(untilNs / kNsPerSecond);
    until.tv_nsec = static_cast<long>(untilNs % kNsPerSecond);
    const bool timed = untilNs != DeadlineTimer::kNoDeadline;
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_BITSET_PRIVATE, expected,
            timed ? &until : nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
}

void FutexWakeAll(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr,
            nullptr, 0);
}

} // namespace

DeadlineTimer::~DeadlineTimer() {
    Shutdown();
}

bool DeadlineTimer::OnTimerThread() const {
    return std::this_thread::get_id() == workerId_.load(std::memory_order_acquire);
}

void DeadlineTimer::WakeThread() {
    wakeWord_.fetch_add(1, std::memory_order_seq_cst);
    FutexWakeAll(wakeWord_);
}

void DeadlineTimer::NewSchedule(bool active) {
    uint64_t state = state_.load(std::memory_order_relaxed);
    uint64_t next = 0;
    do {
        next = (state & ~kActive) + kGeneration + (active ? kActive : 0);
    } while (!state_.compare_exchange_weak(state, next, std::memory_order_seq_cst));
    WakeThread();
}

void DeadlineTimer::WaitForCallback() {
    // The generation moved on before this looks, and the thread marks a callback before
    // it looks at the generation: a callback that this does not see never starts.
    if (inCallback_.load(std::memory_order_seq_cst) == 0)
        return;
    stopsWaiting_.fetch_add(1, std::memory_order_seq_cst);
    while (inCallback_.load(std::memory_order_seq_cst) != 0)
        FutexWait(inCallback_, 1, kNoDeadline);
    stopsWaiting_.fetch_sub(1, std::memory_order_seq_cst);
}

void DeadlineTimer::Shutdown() {
    poked_.store(false, std::memory_order_relaxed);
    NewSchedule(false);
    if (!thread_.joinable() || OnTimerThread())
        return;
    quit_.store(true, std::memory_order_seq_cst);
    WakeThread();
    thread_.join();
    quit_.store(false, std::memory_order_relaxed);
    workerId_.store({}, std::memory_order_release);
}

void DeadlineTimer::Start(int64_t deadlineNs, Callback callback, void* user) {
    Stop();
    callback_.store(callback, std::memory_order_relaxed);
    user_.store(user, std::memory_order_relaxed);
    startNs_.store(deadlineNs, std::memory_order_relaxed);
    poked_.store(false, std::memory_order_relaxed);
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { Run(); });
        workerId_.store(thread_.get_id(), std::memory_order_release);
    }
    NewSchedule(true);
}

void DeadlineTimer::Stop() {
    poked_.store(false, std::memory_order_relaxed);
    NewSchedule(false);
    // From inside the callback the callback is this very call: it cannot be waited for.
    if (!OnTimerThread())
        WaitForCallback();
}

void DeadlineTimer::Poke() {
    if (!IsActive())
        return;
    poked_.store(true, std::memory_order_seq_cst);
    WakeThread();
}

void DeadlineTimer::Run() {
    NameThisThread("mb-timer");
    TryRealtimePriority(kTimerThreadPriority);
    LowerTimerSlack();

    uint64_t seen = ~uint64_t{0};
    int64_t deadline = 0;
    Callback callback = nullptr;
    void* user = nullptr;
    while (true) {
        // Read before the state: a wake-up asked for after this is not slept through.
        const uint32_t word = wakeWord_.load(std::memory_order_seq_cst);
        if (quit_.load(std::memory_order_seq_cst))
            break;
        const uint64_t state = state_.load(std::memory_order_seq_cst);
        if (state != seen) {
            // A Start or a Stop since the last look: its schedule replaces the old one.
            seen = state;
            deadline = startNs_.load(std::memory_order_relaxed);
            callback = callback_.load(std::memory_order_relaxed);
            user = user_.load(std::memory_order_relaxed);
        }
        if ((state & kActive) == 0) {
            FutexWait(wakeWord_, word, kNoDeadline);
            wakeups_.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        if (!poked_.load(std::memory_order_seq_cst) && MonotonicNs() < deadline) {
            FutexWait(wakeWord_, word, deadline);
            wakeups_.fetch_add(1, std::memory_order_relaxed);
            continue; // look again: the schedule may have changed while asleep
        }

        poked_.store(false, std::memory_order_seq_cst);
        inCallback_.store(1, std::memory_order_seq_cst);
        if (state_.load(std::memory_order_seq_cst) != seen) {
            // Stopped or restarted meanwhile: a Stop may already have returned.
            inCallback_.store(0, std::memory_order_seq_cst);
            if (stopsWaiting_.load(std::memory_order_seq_cst) > 0)
                FutexWakeAll(inCallback_);
            continue;
        }
        const int64_t next = callback(user);
        inCallback_.store(0, std::memory_order_seq_cst);
        if (stopsWaiting_.load(std::memory_order_seq_cst) > 0)
            FutexWakeAll(inCallback_);
        if (next != kNoDeadline) {
            // Kept only while nothing changed: a new state is read at the next look.
            deadline = next;
            continue;
        }
        // The schedule ends, unless a Start or a Stop came meanwhile.
        uint64_t expected = seen;
        if (state_.compare_exchange_strong(expected, seen & ~kActive, std::memory_order_seq_cst))
            seen &= ~kActive;
    }
}

} // namespace mb
