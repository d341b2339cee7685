#pragma once

#include <atomic>

namespace mb {

// A value that the window thread and the step-clock thread both touch. Every access is
// a relaxed atomic load or store: each value is always read and written whole, and there
// is no ordering between different values (none is needed: the step clock only ever
// looks at one consistent value of each field at a time).
// A compound update (+=) is a load followed by a store, not one atomic step. Most fields
// have one writing thread, so nothing is lost. currentLoop and passCount have two: the
// step clock advances them, and the window thread sets them when a digit key jumps to
// another loop. A jump that falls between the clock's load and store, or between its
// reading the current loop and storing the next one, is overwritten: the jump is lost or
// starts with the clock's pass count. The values stay whole and in range either way.
template <typename T> class Relaxed {
public:
    constexpr Relaxed(T v = T{}) noexcept : value_(v) {}
    Relaxed(const Relaxed& other) noexcept : value_(other.load()) {}
    Relaxed& operator=(const Relaxed& other) noexcept {
        store(other.load());
        return *this;
    }
    Relaxed& operator=(T v) noexcept {
        store(v);
        return *this;
    }
    operator T() const noexcept { return load(); }

    T load() const noexcept { return value_.load(std::memory_order_relaxed); }
    void store(T v) noexcept { value_.store(v, std::memory_order_relaxed); }

    Relaxed& operator+=(T v) noexcept {
        store(static_cast<T>(load() + v));
        return *this;
    }

private:
    std::atomic<T> value_;
};

} // namespace mb
