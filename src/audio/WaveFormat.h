#pragma once

#include <cstdint>
#include <vector>

namespace mb {

inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
inline constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// The format block of a WAV file: the sixteen bytes of its "fmt " chunk, the size of the
// extra bytes that follow them, and those bytes.
struct WaveFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;
    std::vector<uint8_t> extra;
};

} // namespace mb
