#include "platform/RegularFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mb {

namespace {

constexpr const char* kNotRegular = "Not a regular file";

// Why st is not a regular file: a folder says so in the system's words.
std::string NotRegular(const struct stat& st) {
    return S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : kNotRegular;
}

} // namespace

int OpenRegularFile(const std::string& path, std::string& cause) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        cause = std::strerror(errno);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        cause = NotRegular(st);
        return -1;
    }
    // Without blocking, in case a pipe took the file's place since the check; the type is
    // checked again on what was opened, then reads block as usual.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        cause = std::strerror(errno);
        return -1;
    }
    const int checked = ::fstat(fd, &st);
    const int err = errno;
    if (checked != 0 || !S_ISREG(st.st_mode)) {
        cause = checked != 0 ? std::strerror(err) : NotRegular(st);
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

} // namespace mb
