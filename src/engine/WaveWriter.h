#pragma once

#include <cstddef>
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
    // Writes bytes to path through an OutputFile, so that a failure never leaves a
    // partial file; false when the file cannot be written.
    static bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

    // The RIFF, fmt and data chunk headers of a file whose data chunk holds `dataBytes`
    // bytes (sizes above 4 GiB are cut to the largest a RIFF file can state).
    static std::vector<uint8_t> Header(int channels,
                                       uint32_t rate,
                                       Encoding encoding,
                                       uint64_t dataBytes,
                                       bool extensible = false);
    // Bytes per sample of an encoding.
    static int SampleBytes(Encoding encoding);
    // Appends `count` samples in the encoding (little-endian) to out; PCM is rounded to
    // the nearest step and clipped to full scale.
    static void
    EncodeSamples(const float* samples, size_t count, Encoding encoding, std::vector<uint8_t>& out);
};

} // namespace mb
