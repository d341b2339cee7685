#include "files/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/OutputFile.h"
#include "platform/RegularFile.h"

namespace mb {

namespace {

std::string Cause(int err) {
    return std::strerror(err);
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

AtomicFile::ReadResult AtomicFile::ReadAll(const std::string& path, size_t maxBytes) {
    ReadResult result;
    Fd fd(OpenRegularFile(path, result.error));
    if (fd.get() < 0)
        return result;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        result.error = Cause(errno);
        return result;
    }
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        result.error = "the file is too large";
        return result;
    }
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result.error = Cause(errno);
            result.bytes.clear();
            return result;
        }
        if (n == 0)
            break;
        if (result.bytes.size() + static_cast<size_t>(n) > maxBytes) {
            result.error = "the file is too large";
            result.bytes.clear();
            return result;
        }
        result.bytes.insert(result.bytes.end(), buffer, buffer + n);
    }
    return result;
}

std::string AtomicFile::Replace(const std::string& path, std::span<const uint8_t> bytes) {
    return OutputFile::Replace(path, bytes);
}

} // namespace mb
