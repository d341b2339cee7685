#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <type_traits>

namespace mb {

// A fixed-size ring of plain structs between exactly one producing thread and exactly one
// consuming thread. Neither side ever locks, allocates or waits: Push fails when the
// ring is full and Pop when it is empty. One producer at a time: a second thread may
// take over the producing side only when something else orders it after the first (a
// thread start, a join, a mutex).
template <typename T, size_t Capacity> class SpscQueue {
    static_assert((Capacity & (Capacity - 1)) == 0, "Capacity must be a power of two");
    static_assert(std::is_trivially_copyable_v<T>, "only plain structs cross threads");

public:
    // Producer thread.
    bool Push(const T& item) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == Capacity)
            return false;
        slots_[tail & (Capacity - 1)] = item;
        // Sequentially consistent, so that a producer that then looks at a flag of the
        // consumer's side and a consumer that set it and then looks here (Empty) never
        // both miss each other.
        tail_.store(tail + 1, std::memory_order_seq_cst);
        return true;
    }

    // Consumer thread.
    bool Pop(T& item) {
        const size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire))
            return false;
        item = slots_[head & (Capacity - 1)];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    // Consumer thread: nothing is waiting.
    bool Empty() const {
        return head_.load(std::memory_order_relaxed) == tail_.load(std::memory_order_seq_cst);
    }

    // Items pushed so far (producer thread) and items popped so far (any thread).
    size_t Pushed() const { return tail_.load(std::memory_order_relaxed); }
    size_t Popped() const { return head_.load(std::memory_order_acquire); }

private:
    alignas(64) std::atomic<size_t> head_{0};
    alignas(64) std::atomic<size_t> tail_{0};
    std::array<T, Capacity> slots_{};
};

} // namespace mb
