#include "platform/OutputFile.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace mb {

namespace {

namespace fs = std::filesystem;

constexpr mode_t kNewFileMode = 0666; // narrowed by the umask
constexpr mode_t kPermissionBits = 0777;
constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr int kTempNameAttempts = 100;
// As many links as the system itself follows in one path.
constexpr int kMaxLinks = 40;
constexpr const char* kNotRegular = "Not a regular file";
// A short name, so that a target whose name is near the system's length limit still gets
// a temporary file beside it.
constexpr const char* kTempPrefix = ".marrowbeat-";
constexpr const char* kTempSuffix = ".part";
constexpr int kTempRandomChars = 12;
constexpr int kSignalsHeld[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

std::string Cause(int err) {
    return std::strerror(err);
}

// The temporary files not yet committed or abandoned, for RemoveTemporaries. A slot holds
// the path of one, owned by its OutputFile, which clears the slot before the path goes
// away. Far more slots than one render's files (a mix and a stem for each of the 128 steps
// of a setup at most); a file that finds none is still removed, only not by a signal.
constexpr size_t kTemporarySlots = 1024;
std::array<std::atomic<const char*>, kTemporarySlots> gTemporaries{};
static_assert(std::atomic<const char*>::is_always_lock_free);

void Register(const char* path) {
    for (auto& slot : gTemporaries) {
        const char* empty = nullptr;
        if (slot.compare_exchange_strong(empty, path))
            return;
    }
}

void Unregister(const char* path) {
    for (auto& slot : gTemporaries) {
        const char* expected = path;
        if (slot.compare_exchange_strong(expected, nullptr))
            return;
    }
}

// SIGINT, SIGTERM, SIGHUP and SIGPIPE held back on this thread for the object's lifetime.
class HeldSignals {
public:
    HeldSignals() {
        sigset_t held;
        sigemptyset(&held);
        for (int signal : kSignalsHeld)
            sigaddset(&held, signal);
        pthread_sigmask(SIG_BLOCK, &held, &previous_);
    }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;
    ~HeldSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

private:
    sigset_t previous_;
};

std::string RandomName() {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<uint64_t> counter{0};
    std::array<uint8_t, kTempRandomChars> bytes{};
    if (::getrandom(bytes.data(), bytes.size(), GRND_NONBLOCK) !=
        static_cast<ssize_t>(bytes.size())) {
        // Without the system's randomness the name is only hard to guess; the exclusive
        // creation keeps it safe either way.
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t x = static_cast<uint64_t>(now.tv_nsec) ^
                     (static_cast<uint64_t>(::getpid()) << 32) ^ ++counter * 0x9E3779B97F4A7C15u;
        for (uint8_t& b : bytes) {
            x ^= x >> 33;
            x *= 0xFF51AFD7ED558CCDu;
            b = static_cast<uint8_t>(x >> 56);
        }
    }
    std::string name = kTempPrefix;
    for (uint8_t b : bytes)
        name += kAlphabet[b % (sizeof kAlphabet - 1)];
    return name + kTempSuffix;
}

// Follows symbolic links at the end of path until it names something else or nothing.
// The path of what it names, with `st` filled and `exists` set when something is there;
// empty with the cause in `cause` when the links cannot be followed.
std::string FollowLinks(const std::string& path, struct stat& st, bool& exists, int& cause) {
    fs::path current(path);
    for (int hop = 0;; ++hop) {
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                cause = errno;
                return {};
            }
            exists = false;
            return current.string();
        }
        if (!S_ISLNK(st.st_mode)) {
            exists = true;
            return current.string();
        }
        if (hop == kMaxLinks) {
            cause = ELOOP;
            return {};
        }
        std::vector<char> text(PATH_MAX);
        const ssize_t n = ::readlink(current.c_str(), text.data(), text.size());
        if (n < 0 || static_cast<size_t>(n) >= text.size()) {
            cause = n < 0 ? errno : ENAMETOOLONG;
            return {};
        }
        const fs::path link(std::string(text.data(), static_cast<size_t>(n)));
        current = link.is_absolute() ? link : current.parent_path() / link;
    }
}

} // namespace

OutputFile::~OutputFile() {
    Abandon();
}

std::string OutputFile::Fail(int err) {
    Abandon();
    return Cause(err);
}

std::string OutputFile::Prepare(const std::string& path) {
    Abandon();
    state_ = State::kIdle;
    path_ = path;
    keep_ = false;
    error_.clear();
    if (path.empty())
        return Cause(ENOENT);

    struct stat st {};
    bool exists = false;
    int cause = 0;
    target_ = FollowLinks(path, st, exists, cause);
    if (target_.empty())
        return Cause(cause);
    const fs::path target(target_);
    name_ = target.filename().string();
    if (name_.empty() || name_ == "." || name_ == "..")
        return Cause(EISDIR);
    if (exists) {
        if (S_ISDIR(st.st_mode))
            return Cause(EISDIR);
        if (!S_ISREG(st.st_mode))
            return kNotRegular;
        // Checked by the permission bits as well, because the superuser may write to any
        // file, and a file the user made read-only must stay as it is.
        if ((st.st_mode & kAnyWrite) == 0)
            return Cause(EACCES);
        if (::access(target_.c_str(), W_OK) != 0)
            return Cause(errno);
        keep_ = true;
        mode_ = st.st_mode & kPermissionBits;
        owner_ = st.st_uid;
        group_ = st.st_gid;
    }

    folder_ = target.has_parent_path() ? target.parent_path().string() : std::string(".");
    struct stat dir {};
    if (::stat(folder_.c_str(), &dir) != 0)
        return Cause(errno);
    if (!S_ISDIR(dir.st_mode))
        return Cause(ENOTDIR);
    folderDevice_ = dir.st_dev;
    folderInode_ = dir.st_ino;
    state_ = State::kPrepared;
    return {};
}

std::string OutputFile::Create() {
    if (state_ != State::kPrepared)
        return Cause(EINVAL);
    // Held back until the file is listed for RemoveTemporaries, so that no signal finds it
    // made and not listed.
    const HeldSignals held;
    int fd = -1;
    for (int attempt = 0; attempt < kTempNameAttempts && fd < 0; ++attempt) {
        temporary_ = (fs::path(folder_) / RandomName()).string();
        fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    kNewFileMode);
        if (fd < 0 && errno != EEXIST) {
            const int err = errno;
            temporary_.clear();
            return Cause(err);
        }
    }
    if (fd < 0) {
        temporary_.clear();
        return Cause(EEXIST);
    }
    fd_ = fd;
    Register(temporary_.c_str());
    state_ = State::kOpen;
    if (keep_) {
        // The owner first: a change of owner may clear permission bits. Only the
        // superuser may give a file away, so a refusal here is no failure.
        if (owner_ != ::geteuid() || group_ != ::getegid())
            (void)::fchown(fd_, owner_, group_);
        if (::fchmod(fd_, mode_) != 0)
            return Fail(errno);
    }
    return {};
}

std::string OutputFile::WriteFully(int fd, std::span<const uint8_t> bytes, int64_t offset) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = offset < 0
                              ? ::write(fd, bytes.data() + done, bytes.size() - done)
                              : ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                         static_cast<off_t>(offset + static_cast<int64_t>(done)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Cause(errno);
        }
        if (n == 0)
            return Cause(EIO);
        done += static_cast<size_t>(n);
    }
    return {};
}

std::string OutputFile::Write(std::span<const uint8_t> bytes, int64_t offset) {
    if (!error_.empty())
        return error_;
    if (state_ != State::kOpen)
        return Cause(EBADF);
    error_ = WriteFully(fd_, bytes, offset);
    return error_;
}

std::string OutputFile::Finish() {
    if (state_ == State::kFinished)
        return {};
    if (!error_.empty()) {
        const std::string error = error_;
        Abandon();
        return error;
    }
    if (state_ != State::kOpen)
        return Cause(EBADF);
    if (::fsync(fd_) != 0)
        return Fail(errno);
    // A close can be the first to report a failed write.
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0)
        return Fail(errno);
    state_ = State::kFinished;
    return {};
}

std::string OutputFile::Commit() {
    if (state_ != State::kFinished)
        return Cause(EINVAL);
    // Checked again: a pipe or a folder may have taken the name since Prepare.
    struct stat st {};
    if (::lstat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        Abandon();
        return S_ISDIR(st.st_mode) ? Cause(EISDIR) : kNotRegular;
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        return Fail(errno);
    Unregister(temporary_.c_str());
    temporary_.clear();
    state_ = State::kIdle;

    // Make the rename itself durable; a failure here does not undo the file.
    const int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

void OutputFile::Abandon() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        // Removed before its slot is cleared, so that a signal in between finds it still
        // listed rather than never removed.
        ::unlink(temporary_.c_str());
        Unregister(temporary_.c_str());
        temporary_.clear();
    }
    if (state_ != State::kIdle)
        state_ = State::kPrepared;
}

bool OutputFile::SameTarget(const OutputFile& other) const {
    return state_ != State::kIdle && other.state_ != State::kIdle &&
           folderDevice_ == other.folderDevice_ && folderInode_ == other.folderInode_ &&
           name_ == other.name_;
}

std::string OutputFile::Replace(const std::string& path, std::span<const uint8_t> bytes) {
    OutputFile file;
    std::string cause = file.Prepare(path);
    if (cause.empty())
        cause = file.Create();
    if (cause.empty())
        cause = file.Write(bytes);
    if (cause.empty())
        cause = file.Finish();
    if (cause.empty())
        cause = file.Commit();
    return cause;
}

OutputFile::Failure OutputFile::CommitAll(std::span<OutputFile* const> files) {
    const auto abandonAll = [&] {
        for (OutputFile* file : files)
            if (file != nullptr)
                file->Abandon();
    };
    for (OutputFile* file : files) {
        if (file == nullptr)
            continue;
        if (std::string cause = file->Finish(); !cause.empty()) {
            abandonAll();
            return {file->path(), cause};
        }
    }

    const HeldSignals held;
    for (OutputFile* file : files) {
        if (file == nullptr)
            continue;
        if (std::string cause = file->Commit(); !cause.empty()) {
            abandonAll();
            return {file->path(), cause};
        }
    }
    return {};
}

void OutputFile::RemoveTemporaries() {
    for (auto& slot : gTemporaries)
        if (const char* path = slot.load(); path != nullptr)
            ::unlink(path);
}

} // namespace mb
