#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "audio/WaveFormat.h"

namespace mb {

// Where a RIFF chunk lies in its file.
struct ChunkInfo {
    uint32_t id = 0;
    // Bytes of data; for the data chunk, counts down as the data is read.
    uint32_t size = 0;
    // For "RIFF" and "LIST" chunks: the form type behind the size.
    uint32_t formType = 0;
    // File offset of the chunk's data (for "RIFF", of its form type).
    uint64_t dataOffset = 0;
};

// Reads a RIFF/WAVE file: its format block, then its sample data. One file at a time,
// opened and closed by the caller; every function returns 0 or one of the error codes
// below. Window thread.
class WaveReader {
public:
    // The format block could not be allocated.
    static constexpr uint32_t kErrFormatAlloc = 0xE000;
    // The file could not be opened, or is not a regular file (a pipe or a device).
    static constexpr uint32_t kErrCannotOpen = 0xE100;
    // Not RIFF/WAVE, a "fmt " chunk shorter than 16 bytes, or its extra bytes missing.
    static constexpr uint32_t kErrNotWave = 0xE101;
    // The 16 format bytes or the 2-byte extra size could not be read.
    static constexpr uint32_t kErrFormatRead = 0xE102;
    // The data ended before the bytes asked for (a corrupt file).
    static constexpr uint32_t kErrCorrupt = 0xE103;
    // Read was called without an open file.
    static constexpr uint32_t kErrNoBuffer = 1;
    // The chunk walker's own results.
    static constexpr uint32_t MMIOERR_CANNOTREAD = 261;
    static constexpr uint32_t MMIOERR_CANNOTSEEK = 263;
    static constexpr uint32_t MMIOERR_CHUNKNOTFOUND = 265;

    static constexpr uint32_t FourCC(char a, char b, char c, char d) {
        return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
               (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
               (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
               (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
    }

    WaveReader() = default;
    WaveReader(const WaveReader&) = delete;
    WaveReader& operator=(const WaveReader&) = delete;
    ~WaveReader() { Close(); }

    // Opens the file, checks RIFF/WAVE and reads the format block. On failure the file
    // is closed again.
    uint32_t Open(const std::string& path);
    // Finds the "data" chunk anywhere in the RIFF chunk (other chunks are skipped).
    uint32_t StartData();
    // Reads min(size, what is left of the data chunk) bytes into destination.
    uint32_t Read(uint64_t size, uint8_t* destination, uint64_t* bytesRead);
    // Closes the file and frees the format block; 0.
    uint32_t Close();

    // The format block; null unless open.
    const WaveFormat* format() const { return format_.get(); }
    const ChunkInfo& riffChunk() const { return riff_; }
    const ChunkInfo& dataChunk() const { return data_; }
    // Bytes of the file from the reading position to its end.
    uint64_t BytesLeftInFile();

private:
    uint32_t Descend(ChunkInfo& chunk, const ChunkInfo* parent, uint32_t findId);
    uint32_t Ascend(const ChunkInfo& chunk);
    bool ReadBytes(void* to, size_t n);
    uint32_t Fail(uint32_t error);

    std::FILE* file_ = nullptr;
    std::unique_ptr<WaveFormat> format_;
    ChunkInfo riff_;
    ChunkInfo data_;
};

} // namespace mb
