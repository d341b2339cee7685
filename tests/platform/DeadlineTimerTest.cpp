#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Clocks.h"
#include "platform/DeadlineTimer.h"

namespace mb {
namespace {

using namespace std::chrono_literals;

constexpr int64_t kMs = 1000000;

// Asks for a callback every 3 ms from the first one, six times, then stops itself.
struct Schedule {
    std::vector<int64_t> asked; // written by the timer thread, read after it stopped
    std::vector<int64_t> came;
    std::atomic<int> calls{0};
    static int64_t Next(void* user) {
        auto* s = static_cast<Schedule*>(user);
        s->came.push_back(MonotonicNs());
        if (s->calls.load() == 5) {
            ++s->calls;
            return DeadlineTimer::kNoDeadline;
        }
        s->asked.push_back(s->came.back() + 3 * kMs);
        ++s->calls;
        return s->asked.back();
    }
};

template <typename Done> void WaitUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
}

TEST(DeadlineTimer, CallsBackAtEachDeadlineItAsksForAndSleepsWhileStopped) {
    Schedule s;
    DeadlineTimer timer;
    const int64_t first = MonotonicNs() + 2 * kMs;
    timer.Start(first, &Schedule::Next, &s);
    WaitUntil([&] { return s.calls == 6; });
    WaitUntil([&] { return !timer.IsActive(); });
    ASSERT_EQ(s.came.size(), 6u);
    EXPECT_GE(s.came[0], first);
    for (size_t i = 1; i < s.came.size(); ++i)
        EXPECT_GE(s.came[i], s.asked[i - 1]) << "never before its deadline: " << i;
    // One wake-up per deadline, give or take a spurious one; none once stopped.
    EXPECT_LE(timer.wakeups(), 8u);
    const uint64_t asleep = timer.wakeups();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(timer.wakeups(), asleep);

    // A poke runs the callback at once, long before its far deadline.
    struct Poked {
        std::atomic<int> calls{0};
        static int64_t Far(void* user) {
            ++static_cast<Poked*>(user)->calls;
            return MonotonicNs() + 3600 * 1000 * kMs;
        }
    } p;
    timer.Start(MonotonicNs() + 3600 * 1000 * kMs, &Poked::Far, &p);
    timer.Poke();
    WaitUntil([&] { return p.calls == 1; });
    EXPECT_EQ(p.calls, 1);
    timer.Stop();
    timer.Poke(); // stopped: nothing
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(p.calls, 1);
}

// A Stop that lands while a callback runs waits for it, and the deadline that callback
// returns is thrown away: once Stop has returned, nothing is scheduled.
TEST(DeadlineTimer, StopWinsOverTheDeadlineARunningCallbackReturns) {
    struct Held {
        std::atomic<bool> inside{false};
        std::atomic<bool> release{false};
        std::atomic<int> calls{0};
        static int64_t Run(void* user) {
            auto* h = static_cast<Held*>(user);
            ++h->calls;
            h->inside = true;
            h->release.wait(false); // asleep, not spinning: this thread is real-time

            return MonotonicNs(); // due at once: would run again if it were kept
        }
    } h;
    DeadlineTimer timer;
    timer.Start(MonotonicNs(), &Held::Run, &h);
    WaitUntil([&] { return h.inside.load(); });
    std::thread stopper([&] { timer.Stop(); });
    while (timer.stopsWaiting() == 0)
        std::this_thread::yield();
    h.release = true;
    h.release.notify_all();
    stopper.join();
    EXPECT_FALSE(timer.IsActive());
    EXPECT_EQ(h.calls, 1);

    // Stop from inside the callback ends the schedule too; Start resumes it.
    struct SelfStop {
        DeadlineTimer* timer = nullptr;
        std::atomic<int> calls{0};
        static int64_t Run(void* user) {
            auto* s = static_cast<SelfStop*>(user);
            s->timer->Stop();
            ++s->calls;
            return MonotonicNs();
        }
    } self;
    self.timer = &timer;
    timer.Start(MonotonicNs(), &SelfStop::Run, &self);
    WaitUntil([&] { return self.calls == 1 && !timer.IsActive(); });
    EXPECT_FALSE(timer.IsActive());
    timer.Start(MonotonicNs(), &SelfStop::Run, &self);
    WaitUntil([&] { return self.calls == 2; });
    EXPECT_EQ(self.calls, 2);
}

} // namespace
} // namespace mb
