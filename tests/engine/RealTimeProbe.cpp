#include "RealTimeProbe.h"

#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <new>
#include <pthread.h>

#if defined(__SANITIZE_THREAD__)
#define MB_COUNT_LOCKS 0
#else
#define MB_COUNT_LOCKS 1
#endif

namespace {

thread_local bool watched = false;
std::atomic<uint64_t> allocations{0};
std::atomic<uint64_t> locks{0};

void* Allocate(std::size_t size) {
    if (watched)
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (watched)
        allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

#if MB_COUNT_LOCKS
namespace {

using LockFunction = int (*)(pthread_mutex_t*);

std::atomic<LockFunction> realLock{nullptr};

// The C library's own, found on first use (the lookup takes no lock through here).
LockFunction RealLock() {
    LockFunction f = realLock.load(std::memory_order_acquire);
    if (f == nullptr) {
        f = reinterpret_cast<LockFunction>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
        realLock.store(f, std::memory_order_release);
    }
    return f;
}

} // namespace

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
    if (watched)
        locks.fetch_add(1, std::memory_order_relaxed);
    return RealLock()(mutex);
}
#endif

namespace mb::test {

RealTimeWatch::RealTimeWatch() {
    watched = true;
}

RealTimeWatch::~RealTimeWatch() {
    watched = false;
}

void RealTimeWatch::WatchThisThread() {
    watched = true;
}

uint64_t RealTimeWatch::Allocations() {
    return allocations.load(std::memory_order_relaxed);
}

uint64_t RealTimeWatch::Locks() {
    return locks.load(std::memory_order_relaxed);
}

bool RealTimeWatch::CountsLocks() {
    return MB_COUNT_LOCKS != 0;
}

} // namespace mb::test
