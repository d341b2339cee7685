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
// higher priority than the writer). The writer fills the slot after the latest of a ring
// of kSlots and then names it; each slot's sequence number is odd while it is written. A
// reader copies the latest slot and takes the copy when the slot's number was even and
// did not change meanwhile, which fails only when the writer has come round to that very
// slot again, kSlots - 1 publications later; then it looks again. The value is kept as
// atomic words, so a copy that races a write is torn only to be thrown away.
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
        const size_t index = (latest_.load(std::memory_order_relaxed) + 1) % kSlots;
        Slot& slot = slots_[index];
        const uint32_t sequence = slot.sequence.load(std::memory_order_relaxed);
        slot.sequence.store(sequence + 1, std::memory_order_relaxed);
        // Released: a reader that sees a word sees the odd number before it.
        for (size_t i = 0; i < kWords; ++i)
            slot.words[i].store(words[i], std::memory_order_release);
        slot.sequence.store(sequence + 2, std::memory_order_release);
        latest_.store(index, std::memory_order_release);
    }

    T Read() const {
        std::array<uint64_t, kWords> words{};
        for (;;) {
            const Slot& slot = slots_[latest_.load(std::memory_order_acquire)];
            const uint32_t before = slot.sequence.load(std::memory_order_acquire);
            // Acquired: a word of a later write seen here makes its odd number seen below.
            for (size_t i = 0; i < kWords; ++i)
                words[i] = slot.words[i].load(std::memory_order_acquire);
            if ((before & 1U) == 0 && slot.sequence.load(std::memory_order_relaxed) == before)
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
        std::atomic<uint32_t> sequence{0};
        std::array<std::atomic<uint64_t>, kWords> words{};
    };

    std::array<Slot, kSlots> slots_{};
    std::atomic<size_t> latest_{0};
};

} // namespace mb
