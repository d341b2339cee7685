#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <unistd.h>

#include "platform/Doorbell.h"

namespace mb {
namespace {

// However often it rings, one wake-up is in flight; what the ringing thread published
// before its last ring is there once the waiting thread answers, and a ring after the
// answer wakes it again, also from a sleep without a time limit.
TEST(Doorbell, RingsMergeIntoOneWakeUpAndARingAfterTheAnswerWakesAgain) {
    Doorbell bell;
    EXPECT_FALSE(bell.Wait(0));
    std::atomic<int> published{0};
    std::thread ringer([&] {
        for (int i = 1; i <= 10000; ++i) {
            published.store(i, std::memory_order_relaxed);
            bell.Ring();
        }
    });
    ringer.join();
    uint64_t written = 0;
    ASSERT_EQ(read(bell.fd(), &written, sizeof written), static_cast<ssize_t>(sizeof written));
    EXPECT_EQ(written, 1u);
    bell.Answer();
    EXPECT_EQ(published.load(std::memory_order_relaxed), 10000);
    EXPECT_FALSE(bell.Wait(0));

    std::atomic<bool> woken{false};
    std::thread waiter([&] { woken = bell.Wait(-1); });
    bell.Ring();
    waiter.join();
    EXPECT_TRUE(woken);
    EXPECT_FALSE(bell.Wait(0));
}

} // namespace
} // namespace mb
