#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/WaveWriter.h"
#include "platform/OutputFile.h"

namespace mb {

// Writes a WAV file block by block, so that a file of any length takes a few blocks of
// memory. A file goes through an OutputFile: it is written under a temporary name beside
// its target and takes the target's name only when committed, so a failed or abandoned
// render never touches what was there. The sizes in the header are written last, once the
// length is known. Standard output ("-") is written in place: its header is patched when
// it is a file, and when it is a pipe it states the length given to Start, or the largest
// length a RIFF file can state when none was given.
//
// Every failure is told by its cause ("No space left on device").
//
// One thread at a time.
class WaveStreamWriter {
public:
    static constexpr const char* kStandardOutput = "-";
    static constexpr uint64_t kUnknownLength = UINT64_MAX;

    WaveStreamWriter() = default;
    WaveStreamWriter(const WaveStreamWriter&) = delete;
    WaveStreamWriter& operator=(const WaveStreamWriter&) = delete;
    // Abandons a file that was not committed.
    ~WaveStreamWriter();

    // Checks that path may be written (OutputFile::Prepare); makes nothing. The cause of a
    // refusal, or empty.
    std::string Prepare(const std::string& path);
    // Creates the file and writes its header. The cause of a failure, or empty.
    std::string Start(int channels,
                      uint32_t rate,
                      WaveWriter::Encoding encoding,
                      uint64_t expectedFrames = kUnknownLength);
    // Appends interleaved frames. The cause of a failure (repeated by every later call),
    // or empty.
    std::string Write(const float* samples, int frames);
    // Completes the header. Standard output is then done; a file still waits under its
    // temporary name for OutputFile::Commit or CommitAll on file(). The cause of a
    // failure, or empty.
    std::string Finish();
    // Removes the file being written, if any.
    void Abandon();

    // The file written; null for standard output.
    OutputFile* file() { return toStandardOutput_ ? nullptr : &file_; }
    // Both would replace the same file.
    bool SameTarget(const WaveStreamWriter& other) const;

    uint64_t framesWritten() const { return frames_; }

private:
    std::string WriteBytes(const std::vector<uint8_t>& bytes, int64_t offset = -1);
    std::string WriteHeader(uint64_t frames, int64_t offset = -1);

    OutputFile file_;
    bool toStandardOutput_ = false;
    bool started_ = false;
    std::string error_;
    int channels_ = 2;
    uint32_t rate_ = 44100;
    WaveWriter::Encoding encoding_ = WaveWriter::Encoding::kPcm16;
    uint64_t frames_ = 0;
    // Where the header starts; -1 when it cannot be rewritten (a pipe).
    int64_t headerAt_ = -1;
    std::vector<uint8_t> bytes_;
};

} // namespace mb
