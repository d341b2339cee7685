#include "engine/WaveStreamWriter.h"

#include <fcntl.h>
#include <unistd.h>

namespace mb {

WaveStreamWriter::~WaveStreamWriter() {
    Abandon();
}

bool WaveStreamWriter::Open(const std::string& path,
                            int channels,
                            uint32_t rate,
                            WaveWriter::Encoding encoding,
                            uint64_t expectedFrames) {
    Abandon();
    path_ = path;
    channels_ = channels;
    rate_ = rate;
    encoding_ = encoding;
    frames_ = 0;
    ok_ = true;
    toStandardOutput_ = path == kStandardOutput;
    if (toStandardOutput_) {
        file_ = stdout;
        // A file opened for appending cannot have its header patched in place.
        const int flags = ::fcntl(::fileno(file_), F_GETFL);
        headerAt_ = flags == -1 || (flags & O_APPEND) != 0 ? -1 : std::ftell(file_);
    } else {
        headerAt_ = 0;
        temporary_ = path + ".part";
        file_ = std::fopen(temporary_.c_str(), "wb");
        if (file_ == nullptr)
            return false;
    }
    return WriteHeader(expectedFrames);
}

bool WaveStreamWriter::WriteHeader(uint64_t frames) {
    const uint64_t blockBytes = static_cast<uint64_t>(channels_) *
                                static_cast<uint64_t>(WaveWriter::SampleBytes(encoding_));
    const uint64_t dataBytes = frames == kUnknownLength ? kUnknownLength : frames * blockBytes;
    const std::vector<uint8_t> header = WaveWriter::Header(channels_, rate_, encoding_, dataBytes);
    ok_ = ok_ && std::fwrite(header.data(), 1, header.size(), file_) == header.size();
    return ok_;
}

bool WaveStreamWriter::Write(const float* samples, int frames) {
    if (file_ == nullptr || !ok_ || frames <= 0)
        return ok_ && file_ != nullptr;
    const size_t count = static_cast<size_t>(frames) * static_cast<size_t>(channels_);
    bytes_.clear();
    WaveWriter::EncodeSamples(samples, count, encoding_, bytes_);
    ok_ = std::fwrite(bytes_.data(), 1, bytes_.size(), file_) == bytes_.size();
    frames_ += static_cast<uint64_t>(frames);
    return ok_;
}

bool WaveStreamWriter::Finish() {
    if (file_ == nullptr)
        return false;
    const uint64_t dataBytes = frames_ * static_cast<uint64_t>(channels_) *
                               static_cast<uint64_t>(WaveWriter::SampleBytes(encoding_));
    if (ok_ && (dataBytes & 1) != 0)
        ok_ = std::fputc(0, file_) != EOF;
    // A pipe cannot go back: its header stays as it was written.
    if (ok_ && headerAt_ >= 0 && std::fseek(file_, headerAt_, SEEK_SET) == 0)
        WriteHeader(frames_);
    if (toStandardOutput_) {
        ok_ = std::fflush(file_) == 0 && ok_;
        file_ = nullptr;
        return ok_;
    }
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!ok_ || !closed || std::rename(temporary_.c_str(), path_.c_str()) != 0) {
        ::unlink(temporary_.c_str());
        return false;
    }
    return true;
}

void WaveStreamWriter::Abandon() {
    if (file_ == nullptr)
        return;
    if (toStandardOutput_) {
        std::fflush(file_);
    } else {
        std::fclose(file_);
        ::unlink(temporary_.c_str());
    }
    file_ = nullptr;
}

} // namespace mb
