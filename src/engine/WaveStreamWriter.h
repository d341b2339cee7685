#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/WaveWriter.h"

namespace mb {

// Writes a WAV file block by block, so that a file of any length takes a few blocks of
// memory. A file is written under a temporary name beside it and renamed when finished:
// a failed or abandoned render never leaves a partial file under the wanted name. The
// sizes in the header are written last, once the length is known. Standard output ("-")
// is written in place: its header is patched when it is a file, and when it is a pipe
// it states the length given to Open, or the largest length a RIFF file can state when
// none was given.
//
// One thread at a time.
class WaveStreamWriter {
public:
    static constexpr const char* kStandardOutput = "-";
    static constexpr uint64_t kUnknownLength = UINT64_MAX;

    WaveStreamWriter() = default;
    WaveStreamWriter(const WaveStreamWriter&) = delete;
    WaveStreamWriter& operator=(const WaveStreamWriter&) = delete;
    // Abandons a file that was not finished.
    ~WaveStreamWriter();

    // Starts the file; false when it cannot be created.
    bool Open(const std::string& path,
              int channels,
              uint32_t rate,
              WaveWriter::Encoding encoding,
              uint64_t expectedFrames = kUnknownLength);
    // Appends interleaved frames; false after any write error.
    bool Write(const float* samples, int frames);
    // Completes the header and gives the file its name; false when any of it failed (the
    // temporary file is then gone).
    bool Finish();
    // Removes the temporary file.
    void Abandon();

    uint64_t framesWritten() const { return frames_; }
    // No write has failed so far.
    bool ok() const { return ok_; }

private:
    bool WriteHeader(uint64_t frames);

    std::FILE* file_ = nullptr;
    bool toStandardOutput_ = false;
    bool ok_ = true;
    std::string path_;
    std::string temporary_;
    int channels_ = 2;
    uint32_t rate_ = 44100;
    WaveWriter::Encoding encoding_ = WaveWriter::Encoding::kPcm16;
    uint64_t frames_ = 0;
    // Where the header starts; -1 when it cannot be rewritten (a pipe).
    long headerAt_ = -1;
    std::vector<uint8_t> bytes_;
};

} // namespace mb
