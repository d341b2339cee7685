#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mb {

// Writes samples (floats, -1 to 1, interleaved) as a RIFF/WAVE file.
class WaveWriter {
public:
    enum class Encoding {
        kPcm8,
        kPcm16,
        kPcm24,
        kPcm32,
        kFloat32,
        kFloat64,
    };

    // The bytes of a whole file. With extensible, the format is WAVE_FORMAT_EXTENSIBLE
    // with the matching sub-format.
    static std::vector<uint8_t> Encode(const std::vector<float>& samples,
                                       int channels,
                                       uint32_t rate,
                                       Encoding encoding,
                                       bool extensible = false);
    // Writes bytes to path through a temporary file beside it, so that a failure never
    // leaves a partial file; false when the file cannot be written.
    static bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
};

} // namespace mb
