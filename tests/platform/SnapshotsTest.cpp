#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/Snapshots.h"

namespace mb {
namespace {

// A value of several words whose fields a torn copy would not agree on.
struct Value {
    int64_t n = 0;
    double twice = 0.0;
    int32_t negated = 0;
    unsigned char low = 0;
};

// A writer that publishes without pause, at both ring sizes: every value read is one that
// was published whole, and they come in order.
TEST(Snapshots, ReadersTakeWholeValuesInOrderWhileTheWriterPublishes) {
    const auto run = [](auto& snapshots) {
        EXPECT_EQ(snapshots.Read().n, 0) << "all zero before the first";
        std::atomic<bool> done{false};
        std::thread writer([&] {
            for (int64_t n = 1; n <= 200000; ++n)
                snapshots.Publish(Value{n, 2.0 * static_cast<double>(n), static_cast<int32_t>(-n),
                                        static_cast<unsigned char>(n & 0xFF)});
            done.store(true, std::memory_order_release);
        });
        int64_t last = 0;
        int torn = 0;
        while (!done.load(std::memory_order_acquire)) {
            const Value v = snapshots.Read();
            torn += v.twice != 2.0 * static_cast<double>(v.n) || v.negated != -v.n ||
                    v.low != static_cast<unsigned char>(v.n & 0xFF);
            EXPECT_GE(v.n, last);
            last = v.n;
        }
        writer.join();
        EXPECT_EQ(torn, 0);
        EXPECT_EQ(snapshots.Read().n, 200000);
    };
    Snapshots<Value, 2> two;
    run(two);
    Snapshots<Value> four;
    run(four);
}

} // namespace
} // namespace mb
