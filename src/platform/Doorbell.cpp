#include "platform/Doorbell.h"

#include <cerrno>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace mb {

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

} // namespace

Doorbell::Doorbell() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

Doorbell::~Doorbell() {
    close(fd_);
}

void Doorbell::Ring() {
    // Only the ring that finds the flag clear writes: the counter never grows beyond a
    // few, so the write never waits.
    if (pending_.exchange(true, std::memory_order_seq_cst))
        return;
    const uint64_t one = 1;
    while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool Doorbell::Answer() {
    uint64_t count = 0;
    ssize_t got = 0;
    while ((got = read(fd_, &count, sizeof count)) < 0 && errno == EINTR) {
    }
    // Cleared after the descriptor is read: a ring that finds the flag still set is
    // answered by the caller's look that follows; one that comes after writes again.
    pending_.store(false, std::memory_order_seq_cst);
    return got == static_cast<ssize_t>(sizeof count);
}

bool Doorbell::Wait(int64_t timeoutNs) {
    pollfd watched{fd_, POLLIN, 0};
    timespec limit{};
    limit.tv_sec = static_cast<time_t>(timeoutNs / kNsPerSecond);
    limit.tv_nsec = static_cast<long>(timeoutNs % kNsPerSecond);
    const int ready = ppoll(&watched, 1, timeoutNs < 0 ? nullptr : &limit, nullptr);
    return ready > 0 && Answer();
}

} // namespace mb
