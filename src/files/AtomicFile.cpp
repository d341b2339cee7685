#include "files/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/RegularFile.h"

namespace mb {

namespace {

namespace fs = std::filesystem;

constexpr mode_t kNewFileMode = 0666; // narrowed by the umask
constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr int kTempNameAttempts = 100;

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
    // Closes now and reports the result: a close can be the first to report a failed
    // write.
    int Close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

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
    std::error_code ec;
    fs::path target(path);
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);
        if (ec)
            return ec.message();
        target = resolved;
    }

    mode_t mode = kNewFileMode;
    bool keepMode = false;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return Cause(EISDIR);
        // Checked by the permission bits as well, because the superuser may write to
        // any file, and a file the user made read-only must stay as it is.
        if ((st.st_mode & kAnyWrite) == 0 || ::access(target.c_str(), W_OK) != 0)
            return Cause(EACCES);
        mode = st.st_mode & 07777;
        keepMode = true;
    } else if (errno != ENOENT) {
        return Cause(errno);
    }

    // A short name of its own, so that a file name near the system's length limit
    // still gets a temporary file.
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string tempPath;
    int fdNum = -1;
    for (int attempt = 0; attempt < kTempNameAttempts && fdNum < 0; ++attempt) {
        tempPath = (folder / (".marrowbeat-" + std::to_string(::getpid()) + "-" +
                              std::to_string(attempt) + ".tmp"))
                       .string();
        fdNum = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fdNum < 0 && errno != EEXIST)
            return Cause(errno);
    }
    if (fdNum < 0)
        return Cause(EEXIST);
    Fd fd(fdNum);

    const auto fail = [&](int err) {
        ::unlink(tempPath.c_str());
        return Cause(err);
    };
    if (keepMode && ::fchmod(fd.get(), mode) != 0)
        return fail(errno);
    if (!WriteAll(fd.get(), bytes))
        return fail(errno);
    if (::fsync(fd.get()) != 0)
        return fail(errno);
    if (fd.Close() != 0)
        return fail(errno);
    if (::rename(tempPath.c_str(), target.c_str()) != 0)
        return fail(errno);

    // Make the rename itself durable; a failure here does not undo the save.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return {};
}

} // namespace mb
