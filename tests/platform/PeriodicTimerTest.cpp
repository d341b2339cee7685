#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Clocks.h"
#include "platform/PeriodicTimer.h"

namespace mb {
namespace {

using namespace std::chrono_literals;

struct Counter {
    std::atomic<int> calls{0};
    static void Count(void* user) { ++static_cast<Counter*>(user)->calls; }
};

void WaitFor(const std::atomic<int>& calls, int n) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (calls < n && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
}

TEST(PeriodicTimer, KeepsToAbsoluteDeadlinesWithoutExtraCallbacks) {
    Counter counter;
    PeriodicTimer timer;
    const int64_t start = MonotonicNs();
    timer.Start(2, &Counter::Count, &counter);
    WaitFor(counter.calls, 25);
    timer.Stop();
    const int64_t elapsed = MonotonicNs() - start;
    EXPECT_GE(counter.calls, 25);
    // Callbacks come at start + k periods: never more of them than periods have passed.
    EXPECT_LE(counter.calls, elapsed / 2000000);
}

TEST(PeriodicTimer, StopFromAnotherThreadWaitsForARunningCallback) {
    struct Slow {
        std::atomic<bool> inside{false};
        std::atomic<int> finished{0};
    } slow;
    PeriodicTimer timer;
    timer.Start(
        1,
        [](void* user) {
            auto* s = static_cast<Slow*>(user);
            s->inside = true;
            std::this_thread::sleep_for(20ms);
            s->inside = false;
            ++s->finished;
        },
        &slow);
    while (!slow.inside)
        std::this_thread::sleep_for(100us);
    timer.Stop();
    EXPECT_FALSE(slow.inside);
    const int finished = slow.finished;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(slow.finished, finished);
    EXPECT_FALSE(timer.IsActive());
}

TEST(PeriodicTimer, StopFromInsideTheCallbackEndsTheEventAndStartResumesIt) {
    struct SelfStop {
        PeriodicTimer* timer;
        std::atomic<int> calls{0};
    } state;
    PeriodicTimer timer;
    state.timer = &timer;
    timer.Start(
        1,
        [](void* user) {
            auto* s = static_cast<SelfStop*>(user);
            if (++s->calls == 3)
                s->timer->Stop();
        },
        &state);
    WaitFor(state.calls, 3);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(state.calls, 3);
    EXPECT_FALSE(timer.IsActive());

    Counter counter;
    timer.Start(1, &Counter::Count, &counter);
    WaitFor(counter.calls, 3);
    EXPECT_GE(counter.calls, 3);
}

TEST(PeriodicTimer, StartReplacesThePreviousEvent) {
    Counter first;
    Counter second;
    PeriodicTimer timer;
    timer.Start(1, &Counter::Count, &first);
    WaitFor(first.calls, 2);
    timer.Start(1, &Counter::Count, &second);
    const int firstCalls = first.calls;
    WaitFor(second.calls, 5);
    EXPECT_EQ(first.calls, firstCalls);
    EXPECT_GE(second.calls, 5);
}

// Deadlines are absolute and a callback never comes before its deadline, so after a
// restart callback j comes at least j periods after the restart: an extra callback, or
// one from the old schedule, would come earlier than its place.
TEST(PeriodicTimer, RestartInsideTheCallbackFollowsTheNewScheduleOnly) {
    struct Restart {
        PeriodicTimer* timer;
        std::vector<int64_t> times; // written by the timer thread only, read after Stop
        int64_t restartAt = 0;
        std::atomic<int> calls{0};
        static void Record(void* user) {
            auto* s = static_cast<Restart*>(user);
            s->times.push_back(MonotonicNs());
            if (++s->calls == 2) {
                // Two milliseconds off the old schedule, so the two cannot be confused.
                std::this_thread::sleep_for(2ms);
                s->restartAt = MonotonicNs();
                s->timer->Start(5, &Record, s);
            }
        }
    } state;
    PeriodicTimer timer;
    state.timer = &timer;
    timer.Start(5, &Restart::Record, &state);
    WaitFor(state.calls, 6);
    timer.Stop();
    ASSERT_GE(state.times.size(), 6u);
    for (size_t i = 2; i < state.times.size(); ++i) {
        const auto periods = static_cast<int64_t>(i - 1);
        EXPECT_GE(state.times[i] - state.restartAt, periods * 5000000) << i;
    }
}

} // namespace
} // namespace mb
