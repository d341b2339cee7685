#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <sys/types.h>

namespace mb {

// A file that takes the place of the file of a name only once it is complete: every file
// the program writes (setups, settings, renders, stems, exports) goes through it.
//
// Where it writes: the name given, with symbolic links followed to the file they name, so
// a link goes on naming the new file. What is there must be a regular file or nothing: a
// folder, a named pipe, a device or a socket is refused before anything is made, and so
// is a file without write permission (even for the superuser: a file made read-only stays
// as it is). The new file keeps the old file's permission bits, and its owner and group
// where the system allows.
//
// How: the data goes into a new file with a random name in the same folder, created
// exclusively (never opened through a name or a link that is already there), flushed to
// disk and then renamed over the old file. Until that rename the old file is untouched;
// every failure, Abandon and the destructor remove the temporary file, and
// RemoveTemporaries does it from a signal handler.
//
// Threads: one object is used by one thread at a time.
class OutputFile {
public:
    // A failed step of writing several files: which file and why.
    struct Failure {
        // The name as given to Prepare; empty when nothing failed.
        std::string path;
        // "No space left on device", "Permission denied".
        std::string cause;
    };

    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Abandons a file that was not committed.
    ~OutputFile();

    // Finds the file `path` names and checks that it may be replaced; makes nothing. The
    // cause of a refusal ("Is a directory", "Not a regular file", "Permission denied"), or
    // empty.
    std::string Prepare(const std::string& path);
    // Creates the temporary file, after Prepare. The cause of a failure, or empty.
    std::string Create();
    // Appends bytes; at `offset` from the start instead when it is not negative. The cause
    // of a failure (the first one is repeated by every later call), or empty.
    std::string Write(std::span<const uint8_t> bytes, int64_t offset = -1);
    // Flushes the data to disk and closes the temporary file: a full disk or a failing
    // device is reported here at the latest. The cause of a failure, or empty; a failed
    // file is abandoned.
    std::string Finish();
    // Renames a finished file over its target. The cause of a failure, or empty; a failed
    // file is abandoned.
    std::string Commit();
    // Removes the temporary file, if any; the target stays as it was.
    void Abandon();

    // The name given to Prepare.
    const std::string& path() const { return path_; }
    // Both name one entry of one folder, however they were written: they would replace
    // the same file.
    bool SameTarget(const OutputFile& other) const;

    // Prepare, Create, Write, Finish and Commit of a whole file at once. The cause of a
    // failure, or empty.
    static std::string Replace(const std::string& path, std::span<const uint8_t> bytes);
    // Finishes every file and, only when all are finished, renames them all, with
    // SIGINT, SIGTERM, SIGHUP and SIGPIPE held back on this thread meanwhile so that a
    // signal finds either none or all of them in place. On a failure every file not yet
    // renamed is abandoned. Files that are null are skipped.
    static Failure CommitAll(std::span<OutputFile* const> files);
    // Writes all of bytes to a descriptor, at `offset` when it is not negative. The cause
    // of a failure, or empty.
    static std::string WriteFully(int fd, std::span<const uint8_t> bytes, int64_t offset = -1);
    // Removes the temporary file of every output file of the process that is neither
    // committed nor abandoned. Async-signal-safe: for the handler of a signal that ends a
    // process whose output files all belong to the thread that takes the signal.
    static void RemoveTemporaries();

private:
    enum class State {
        kIdle,
        kPrepared,
        kOpen,
        kFinished,
    };

    std::string Fail(int err);

    State state_ = State::kIdle;
    std::string path_;
    // The file replaced (links followed), its folder, and the temporary file there.
    std::string target_;
    std::string folder_;
    std::string temporary_;
    // The folder's identity and the target's name in it, for SameTarget.
    dev_t folderDevice_ = 0;
    ino_t folderInode_ = 0;
    std::string name_;
    // The old file's permissions and owner, when there is one.
    bool keep_ = false;
    mode_t mode_ = 0;
    uid_t owner_ = 0;
    gid_t group_ = 0;
    int fd_ = -1;
    std::string error_;
};

} // namespace mb
