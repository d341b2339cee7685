#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace mb {

// Whole-file reads and writes that never leave a half-written file behind. Window
// thread (or any single thread); no state is kept between calls.
class AtomicFile {
public:
    struct ReadResult {
        // Empty on success; otherwise the cause ("No such file or directory").
        std::string error;
        std::vector<uint8_t> bytes;
    };

    // Reads the whole file; a file larger than maxBytes is an error, so that a wrong
    // file picked by mistake cannot exhaust memory. Anything but a regular file (a pipe,
    // a device) is refused before it is opened, so that reading never waits on it.
    static ReadResult ReadAll(const std::string& path, size_t maxBytes);

    // Replaces the file at path with bytes through an OutputFile: a temporary file in the
    // same folder, flushed to disk and renamed over the old one, so that a failure at any
    // point leaves the old file as it was. A symbolic link is followed and its target
    // replaced; a folder, a pipe, a device and a file without write permission are
    // refused. The new file keeps the old file's permissions. Returns the cause of a
    // failure, or empty.
    static std::string Replace(const std::string& path, std::span<const uint8_t> bytes);
};

} // namespace mb
