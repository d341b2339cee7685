#include "engine/WaveReader.h"

#include <climits>
#include <cstdint>
#include <new>
#include <unistd.h>

#include "platform/RegularFile.h"

namespace mb {

namespace {

constexpr uint32_t kRiff = WaveReader::FourCC('R', 'I', 'F', 'F');
constexpr uint32_t kList = WaveReader::FourCC('L', 'I', 'S', 'T');
constexpr uint32_t kWave = WaveReader::FourCC('W', 'A', 'V', 'E');
constexpr uint32_t kFmt = WaveReader::FourCC('f', 'm', 't', ' ');
constexpr uint32_t kData = WaveReader::FourCC('d', 'a', 't', 'a');
constexpr uint32_t kFormatBytes = 16;
constexpr uint32_t kFormatWithExtraSize = 18;
constexpr uint32_t kChunkHeaderBytes = 8;
constexpr uint32_t kFormTypeBytes = 4;

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

bool WaveReader::ReadBytes(void* to, size_t n) {
    return std::fread(to, 1, n, file_) == n;
}

uint64_t WaveReader::BytesLeftInFile() {
    if (file_ == nullptr)
        return 0;
    const long at = std::ftell(file_);
    if (at < 0 || std::fseek(file_, 0, SEEK_END) != 0)
        return 0;
    const long end = std::ftell(file_);
    std::fseek(file_, at, SEEK_SET);
    return end > at ? static_cast<uint64_t>(end - at) : 0;
}

// Reads the chunk header at the reading position, or with findId searches from there
// for a chunk with that id inside parent, skipping the others. Leaves the reading
// position at the chunk's data (behind the form type of a RIFF or LIST chunk).
uint32_t WaveReader::Descend(ChunkInfo& chunk, const ChunkInfo* parent, uint32_t findId) {
    const uint64_t parentEnd = parent != nullptr ? parent->dataOffset + parent->size : UINT64_MAX;
    for (;;) {
        const long at = std::ftell(file_);
        if (at < 0)
            return MMIOERR_CANNOTSEEK;
        if (static_cast<uint64_t>(at) + kChunkHeaderBytes > parentEnd)
            return MMIOERR_CHUNKNOTFOUND;
        uint8_t header[kChunkHeaderBytes];
        if (!ReadBytes(header, sizeof header))
            return MMIOERR_CHUNKNOTFOUND;
        chunk.id = Le32(header);
        chunk.size = Le32(header + 4);
        chunk.dataOffset = static_cast<uint64_t>(at) + kChunkHeaderBytes;
        chunk.formType = 0;
        if (findId == 0 || chunk.id == findId) {
            if (chunk.id == kRiff || chunk.id == kList) {
                uint8_t form[kFormTypeBytes];
                if (!ReadBytes(form, sizeof form))
                    return MMIOERR_CANNOTREAD;
                chunk.formType = Le32(form);
            }
            return 0;
        }
        // Chunks are padded to an even size.
        const uint64_t next = chunk.dataOffset + chunk.size + (chunk.size & 1u);
        if (next > static_cast<uint64_t>(LONG_MAX) ||
            std::fseek(file_, static_cast<long>(next), SEEK_SET) != 0)
            return MMIOERR_CHUNKNOTFOUND;
    }
}

uint32_t WaveReader::Ascend(const ChunkInfo& chunk) {
    const uint64_t end = chunk.dataOffset + chunk.size + (chunk.size & 1u);
    if (end > static_cast<uint64_t>(LONG_MAX) ||
        std::fseek(file_, static_cast<long>(end), SEEK_SET) != 0)
        return MMIOERR_CANNOTSEEK;
    return 0;
}

uint32_t WaveReader::Fail(uint32_t error) {
    Close();
    return error;
}

uint32_t WaveReader::Open(const std::string& path) {
    Close();
    std::string cause;
    const int fd = OpenRegularFile(path, cause);
    if (fd < 0)
        return kErrCannotOpen;
    file_ = ::fdopen(fd, "rb");
    if (file_ == nullptr) {
        ::close(fd);
        return kErrCannotOpen;
    }
    if (const uint32_t r = Descend(riff_, nullptr, 0); r != 0)
        return Fail(r);
    if (riff_.id != kRiff || riff_.formType != kWave)
        return Fail(kErrNotWave);
    ChunkInfo fmt;
    if (const uint32_t r = Descend(fmt, &riff_, kFmt); r != 0)
        return Fail(r);
    if (fmt.size < kFormatBytes)
        return Fail(kErrNotWave);
    uint8_t bytes[kFormatBytes];
    if (!ReadBytes(bytes, sizeof bytes))
        return Fail(kErrFormatRead);
    const uint16_t tag = Le16(bytes);
    uint16_t extraSize = 0;
    // A non-PCM format carries its extra size only when its chunk is long enough to
    // hold it; a 16-byte chunk has none (reading on would take the next chunk's bytes).
    if (tag != WAVE_FORMAT_PCM && fmt.size >= kFormatWithExtraSize) {
        uint8_t size[2];
        if (!ReadBytes(size, sizeof size))
            return Fail(kErrFormatRead);
        extraSize = Le16(size);
    }
    auto format = std::unique_ptr<WaveFormat>(new (std::nothrow) WaveFormat());
    if (!format)
        return Fail(kErrFormatAlloc);
    format->formatTag = tag;
    format->channels = Le16(bytes + 2);
    format->samplesPerSec = Le32(bytes + 4);
    format->avgBytesPerSec = Le32(bytes + 8);
    format->blockAlign = Le16(bytes + 12);
    format->bitsPerSample = Le16(bytes + 14);
    format->extraSize = extraSize;
    if (extraSize != 0) {
        format->extra.resize(extraSize);
        if (!ReadBytes(format->extra.data(), extraSize))
            return Fail(kErrNotWave);
    }
    if (const uint32_t r = Ascend(fmt); r != 0)
        return Fail(r);
    format_ = std::move(format);
    return 0;
}

uint32_t WaveReader::StartData() {
    if (file_ == nullptr)
        return MMIOERR_CANNOTSEEK;
    const uint64_t behindFormType = riff_.dataOffset + kFormTypeBytes;
    if (std::fseek(file_, static_cast<long>(behindFormType), SEEK_SET) != 0)
        return MMIOERR_CANNOTSEEK;
    return Descend(data_, &riff_, kData);
}

uint32_t WaveReader::Read(uint64_t size, uint8_t* destination, uint64_t* bytesRead) {
    *bytesRead = 0;
    if (file_ == nullptr)
        return kErrNoBuffer;
    const uint64_t n = size < data_.size ? size : data_.size;
    data_.size -= static_cast<uint32_t>(n);
    if (n > 0 && !ReadBytes(destination, static_cast<size_t>(n)))
        return kErrCorrupt;
    *bytesRead = n;
    return 0;
}

uint32_t WaveReader::Close() {
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr;
    format_.reset();
    return 0;
}

} // namespace mb
