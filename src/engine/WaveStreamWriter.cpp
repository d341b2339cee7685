#include "engine/WaveStreamWriter.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace mb {

WaveStreamWriter::~WaveStreamWriter() {
    Abandon();
}

std::string WaveStreamWriter::Prepare(const std::string& path) {
    Abandon();
    started_ = false;
    error_.clear();
    toStandardOutput_ = path == kStandardOutput;
    return toStandardOutput_ ? std::string() : file_.Prepare(path);
}

std::string WaveStreamWriter::Start(int channels,
                                    uint32_t rate,
                                    WaveWriter::Encoding encoding,
                                    uint64_t expectedFrames) {
    channels_ = channels;
    rate_ = rate;
    encoding_ = encoding;
    frames_ = 0;
    if (toStandardOutput_) {
        // Whatever the program printed before goes first.
        std::fflush(stdout);
        // A file opened for appending cannot have its header patched in place.
        const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
        const off_t at = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
        headerAt_ = flags == -1 || (flags & O_APPEND) != 0 || at < 0 ? -1 : at;
    } else {
        headerAt_ = 0;
        error_ = file_.Create();
        if (!error_.empty())
            return error_;
    }
    started_ = true;
    return WriteHeader(expectedFrames);
}

std::string WaveStreamWriter::WriteBytes(const std::vector<uint8_t>& bytes, int64_t offset) {
    if (error_.empty())
        error_ = toStandardOutput_ ? OutputFile::WriteFully(STDOUT_FILENO, bytes, offset)
                                   : file_.Write(bytes, offset);
    return error_;
}

std::string WaveStreamWriter::WriteHeader(uint64_t frames, int64_t offset) {
    const uint64_t blockBytes = static_cast<uint64_t>(channels_) *
                                static_cast<uint64_t>(WaveWriter::SampleBytes(encoding_));
    const uint64_t dataBytes = frames == kUnknownLength ? kUnknownLength : frames * blockBytes;
    return WriteBytes(WaveWriter::Header(channels_, rate_, encoding_, dataBytes), offset);
}

std::string WaveStreamWriter::Write(const float* samples, int frames) {
    if (!started_ && error_.empty())
        error_ = "the file is not started";
    if (!error_.empty() || frames <= 0)
        return error_;
    const size_t count = static_cast<size_t>(frames) * static_cast<size_t>(channels_);
    bytes_.clear();
    WaveWriter::EncodeSamples(samples, count, encoding_, bytes_);
    frames_ += static_cast<uint64_t>(frames);
    return WriteBytes(bytes_);
}

std::string WaveStreamWriter::Finish() {
    if (!started_ && error_.empty())
        error_ = "the file is not started";
    if (!error_.empty())
        return error_;
    const uint64_t dataBytes = frames_ * static_cast<uint64_t>(channels_) *
                               static_cast<uint64_t>(WaveWriter::SampleBytes(encoding_));
    if ((dataBytes & 1) != 0)
        WriteBytes({0});
    // A pipe cannot go back: its header stays as it was written.
    if (headerAt_ >= 0)
        WriteHeader(frames_, headerAt_);
    started_ = false;
    return error_;
}

void WaveStreamWriter::Abandon() {
    started_ = false;
    if (!toStandardOutput_)
        file_.Abandon();
}

bool WaveStreamWriter::SameTarget(const WaveStreamWriter& other) const {
    return !toStandardOutput_ && !other.toStandardOutput_ && file_.SameTarget(other.file_);
}

} // namespace mb
