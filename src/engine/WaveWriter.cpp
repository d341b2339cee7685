#include "engine/WaveWriter.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "audio/WaveFormat.h"
#include "platform/OutputFile.h"

namespace mb {

namespace {

constexpr uint16_t kExtensibleExtraSize = 22;
constexpr uint8_t kGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                   0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// The RIFF chunk's header and the "WAVE" tag, and a chunk header.
constexpr uint64_t kRiffOverhead = 4;
constexpr uint64_t kChunkHeader = 8;
constexpr uint64_t kMaxChunkSize = std::numeric_limits<uint32_t>::max();
// Adding and subtracting 1.5 x 2^52 rounds a double below 2^51 to the nearest integer,
// ties to even, as nearbyint does in the default rounding mode, without a library call.
constexpr double kRoundingBias = 6755399441055744.0;

void Put(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutId(std::vector<uint8_t>& out, const char* id) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(id[i]));
}

int Bits(WaveWriter::Encoding encoding) {
    return 8 * WaveWriter::SampleBytes(encoding);
}

uint16_t FormatTag(WaveWriter::Encoding encoding) {
    return encoding == WaveWriter::Encoding::kFloat32 || encoding == WaveWriter::Encoding::kFloat64
               ? WAVE_FORMAT_IEEE_FLOAT
               : WAVE_FORMAT_PCM;
}

// x on a signed `bits`-bit scale, rounded and clipped; NaN counts as silence.
template <int kBits> int64_t Quantise(float x) {
    constexpr double kScale = static_cast<double>(int64_t{1} << (kBits - 1));
    double v = static_cast<double>(x) * kScale;
    v = v == v ? std::clamp(v, -kScale, kScale - 1.0) : 0.0;
    v = (v + kRoundingBias) - kRoundingBias;
    return static_cast<int64_t>(v);
}

template <int kBits> void PutPcm(const float* samples, size_t count, uint8_t* out) {
    constexpr int kBytes = kBits / 8;
    for (size_t i = 0; i < count; ++i) {
        auto v = static_cast<uint64_t>(Quantise<kBits>(samples[i]));
        if constexpr (kBits == 8)
            v += 128; // 8-bit PCM is unsigned
        for (int b = 0; b < kBytes; ++b)
            out[i * kBytes + static_cast<size_t>(b)] = static_cast<uint8_t>(v >> (8 * b));
    }
}

// 16-bit PCM, the usual case, four samples at a time where the processor has SSE2: scaling
// by a power of two is exact, the conversion rounds ties to even as the scalar path does,
// and NaN counts as silence there too.
void PutPcm16(const float* samples, size_t count, uint8_t* out) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128 scale = _mm_set1_ps(32768.0f);
    const __m128 low = _mm_set1_ps(-32768.0f);
    const __m128 high = _mm_set1_ps(32767.0f);
    for (; i + 8 <= count; i += 8) {
        __m128 a = _mm_mul_ps(_mm_loadu_ps(samples + i), scale);
        __m128 b = _mm_mul_ps(_mm_loadu_ps(samples + i + 4), scale);
        a = _mm_min_ps(_mm_max_ps(_mm_and_ps(a, _mm_cmpord_ps(a, a)), low), high);
        b = _mm_min_ps(_mm_max_ps(_mm_and_ps(b, _mm_cmpord_ps(b, b)), low), high);
        const __m128i packed = _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), packed);
    }
#endif
    PutPcm<16>(samples + i, count - i, out + 2 * i);
}

} // namespace

int WaveWriter::SampleBytes(Encoding encoding) {
    switch (encoding) {
    case Encoding::kPcm8:
        return 1;
    case Encoding::kPcm16:
        return 2;
    case Encoding::kPcm24:
        return 3;
    case Encoding::kPcm32:
    case Encoding::kFloat32:
        return 4;
    case Encoding::kFloat64:
        return 8;
    }
    return 2;
}

std::vector<uint8_t> WaveWriter::Header(
    int channels, uint32_t rate, Encoding encoding, uint64_t dataBytes, bool extensible) {
    const int bits = Bits(encoding);
    const uint16_t tag = FormatTag(encoding);
    const auto blockAlign = static_cast<uint16_t>(channels * bits / 8);

    std::vector<uint8_t> fmt;
    Put(fmt, extensible ? WAVE_FORMAT_EXTENSIBLE : tag, 2);
    Put(fmt, static_cast<uint64_t>(channels), 2);
    Put(fmt, rate, 4);
    Put(fmt, static_cast<uint64_t>(rate) * blockAlign, 4);
    Put(fmt, blockAlign, 2);
    Put(fmt, static_cast<uint64_t>(bits), 2);
    if (extensible) {
        Put(fmt, kExtensibleExtraSize, 2);
        Put(fmt, static_cast<uint64_t>(bits), 2);
        Put(fmt, channels == 2 ? 3u : 4u, 4); // front left and right, or front centre
        Put(fmt, tag, 4);
        fmt.insert(fmt.end(), kGuidTail, kGuidTail + sizeof kGuidTail);
    } else if (tag != WAVE_FORMAT_PCM) {
        Put(fmt, 0, 2);
    }

    const uint64_t data = std::min(dataBytes, kMaxChunkSize);
    const uint64_t riff =
        kRiffOverhead + kChunkHeader + fmt.size() + kChunkHeader + data + (data & 1);
    std::vector<uint8_t> out;
    PutId(out, "RIFF");
    Put(out, std::min(riff, kMaxChunkSize), 4);
    PutId(out, "WAVE");
    PutId(out, "fmt ");
    Put(out, fmt.size(), 4);
    out.insert(out.end(), fmt.begin(), fmt.end());
    PutId(out, "data");
    Put(out, data, 4);
    return out;
}

void WaveWriter::EncodeSamples(const float* samples,
                               size_t count,
                               Encoding encoding,
                               std::vector<uint8_t>& out) {
    const size_t start = out.size();
    out.resize(start + count * static_cast<size_t>(SampleBytes(encoding)));
    uint8_t* at = out.data() + start;
    switch (encoding) {
    case Encoding::kPcm8:
        PutPcm<8>(samples, count, at);
        break;
    case Encoding::kPcm16:
        PutPcm16(samples, count, at);
        break;
    case Encoding::kPcm24:
        PutPcm<24>(samples, count, at);
        break;
    case Encoding::kPcm32:
        PutPcm<32>(samples, count, at);
        break;
    case Encoding::kFloat32:
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(at, samples, count * sizeof(float));
        } else {
            for (size_t i = 0; i < count; ++i) {
                const auto u = std::bit_cast<uint32_t>(samples[i]);
                for (int b = 0; b < 4; ++b)
                    at[4 * i + static_cast<size_t>(b)] = static_cast<uint8_t>(u >> (8 * b));
            }
        }
        break;
    case Encoding::kFloat64:
        for (size_t i = 0; i < count; ++i) {
            const auto u = std::bit_cast<uint64_t>(static_cast<double>(samples[i]));
            for (int b = 0; b < 8; ++b)
                at[8 * i + static_cast<size_t>(b)] = static_cast<uint8_t>(u >> (8 * b));
        }
        break;
    }
}

std::vector<uint8_t> WaveWriter::Encode(const std::vector<float>& samples,
                                        int channels,
                                        uint32_t rate,
                                        Encoding encoding,
                                        bool extensible) {
    const uint64_t dataBytes = samples.size() * static_cast<uint64_t>(SampleBytes(encoding));
    std::vector<uint8_t> out = Header(channels, rate, encoding, dataBytes, extensible);
    EncodeSamples(samples.data(), samples.size(), encoding, out);
    if (dataBytes & 1)
        out.push_back(0);
    return out;
}

bool WaveWriter::WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    return OutputFile::Replace(path, bytes).empty();
}

} // namespace mb
