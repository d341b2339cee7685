#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace mb {

// A value that one thread publishes now and then and other threads read whole, without
// a lock, and without ever waiting for a writer held up halfway (a reader may run at a
// higher priority than the writer). Publications are counted; publication c goes to slot
// c mod kSlots of a ring, whose sequence number is 2c - 1 while it is written and 2c
// after, and then the count is set to c. A reader takes the slot the count names when
// its number is 2c before and after the copy: the writer has not come round to it again
// (kSlots - 1 publications later), and a reader never takes a value older than one it
// took before. Otherwise it looks again. The value is kept as atomic words, so a copy
// that races a write is torn only to be thrown away.
//
// Threads: Publish on one thread at a time; Read on any.
template <typename T, size_t kSlots = 4> class Snapshots {
    static_assert(std::is_trivially_copyable_v<T>, "a snapshot is copied as words");
    static_assert(kSlots >= 2, "the writer needs a slot no reader is sent to");

public:
    // Before the first Publish, Read gives a value of all zero bytes.
    void Publish(const T& value) {
        std::array<uint64_t, kWords> words{};
        std::memcpy(words.data(), &value, sizeof(T));
        const uint64_t count = count_.load(std::memory_order_relaxed) + 1;
        Slot& slot = slots_[count % kSlots];
        slot.sequence.store(2 * count - 1, std::memory_order_relaxed);
        // Released: a reader that sees a word sees the odd number before it.
        for (size_t i = 0; i < kWords; ++i)
            slot.words[i].store(words[i], std::memory_order_release);
        slot.sequence.store(2 * count, std::memory_order_release);
        count_.store(count, std::memory_order_release);
    }

    T Read() const {
        std::array<uint64_t, kWords> words{};
        for (;;) {
            const uint64_t count = count_.load(std::memory_order_acquire);
            const Slot& slot = slots_[count % kSlots];
            if (slot.sequence.load(std::memory_order_acquire) != 2 * count)
                continue;
            // Acquired: a word of a later write seen here makes its odd number seen below.
            for (size_t i = 0; i < kWords; ++i)
                words[i] = slot.words[i].load(std::memory_order_acquire);
            if (slot.sequence.load(std::memory_order_relaxed) == 2 * count)
                break;
        }
        T value;
        // Trivially copyable, though not trivially made: the copy is the value.
        std::memcpy(static_cast<void*>(&value), words.data(), sizeof(T));
        return value;
    }

private:
    static constexpr size_t kWords = (sizeof(T) + sizeof(uint64_t) - 1) / sizeof(uint64_t);
    struct Slot {
        std::atomic<uint64_t> sequence{0};
        std::array<std::atomic<uint64_t>, kWords> words{};
    };

    std::array<Slot, kSlots> slots_{};
    std::atomic<uint64_t> count_{0};
};

} // namespace mb
