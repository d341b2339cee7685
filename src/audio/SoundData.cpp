#include "audio/SoundData.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace mb {

namespace {

enum class Encoding {
    kNone,
    kUnsigned8,
    kSigned16,
    kSigned24,
    kSigned32,
    kFloat32,
    kFloat64,
};

// The tail of the sub-format GUID that WAVE_FORMAT_EXTENSIBLE shares with the plain
// format tags: {tag-0000-0010-8000-00AA00389B71}, little-endian as stored.
constexpr uint8_t kGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                   0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint16_t kExtensibleExtraSize = 22;
constexpr size_t kSubFormatOffset = 6;
constexpr double kFloatLimit = 16.0;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The tag that the samples are really stored with: the format tag, or the sub-format
// of an extensible format.
uint16_t SampleTag(const WaveFormat& f) {
    if (f.formatTag != WAVE_FORMAT_EXTENSIBLE)
        return f.formatTag;
    if (f.extraSize < kExtensibleExtraSize || f.extra.size() < kExtensibleExtraSize)
        return 0;
    const uint8_t* guid = f.extra.data() + kSubFormatOffset;
    if (std::memcmp(guid + 4, kGuidTail, sizeof kGuidTail) != 0)
        return 0;
    const uint32_t tag = Le32(guid);
    return tag <= 0xFFFF ? static_cast<uint16_t>(tag) : 0;
}

Encoding EncodingOf(const WaveFormat& f) {
    const uint16_t tag = SampleTag(f);
    if (tag == WAVE_FORMAT_PCM) {
        switch (f.bitsPerSample) {
        case 8:
            return Encoding::kUnsigned8;
        case 16:
            return Encoding::kSigned16;
        case 24:
            return Encoding::kSigned24;
        case 32:
            return Encoding::kSigned32;
        default:
            return Encoding::kNone;
        }
    }
    if (tag == WAVE_FORMAT_IEEE_FLOAT) {
        if (f.bitsPerSample == 32)
            return Encoding::kFloat32;
        if (f.bitsPerSample == 64)
            return Encoding::kFloat64;
    }
    return Encoding::kNone;
}

// Float files may hold anything: NaN and infinities become silence, and values are
// limited well beyond full scale so that a mix of them stays finite.
float Tame(double v) {
    if (!std::isfinite(v))
        return 0.0f;
    return static_cast<float>(std::clamp(v, -kFloatLimit, kFloatLimit));
}

float DecodeSample(Encoding e, const uint8_t* p) {
    switch (e) {
    case Encoding::kUnsigned8:
        return (static_cast<float>(p[0]) - 128.0f) / 128.0f;
    case Encoding::kSigned16: {
        const auto v = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
        return static_cast<float>(v) / 32768.0f;
    }
    case Encoding::kSigned24: {
        const uint32_t u = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                           (static_cast<uint32_t>(p[2]) << 16);
        const int32_t v = static_cast<int32_t>(u << 8) >> 8;
        return static_cast<float>(v) / 8388608.0f;
    }
    case Encoding::kSigned32:
        return static_cast<float>(static_cast<double>(static_cast<int32_t>(Le32(p))) /
                                  2147483648.0);
    case Encoding::kFloat32: {
        float v;
        std::memcpy(&v, p, sizeof v);
        return Tame(v);
    }
    case Encoding::kFloat64: {
        double v;
        std::memcpy(&v, p, sizeof v);
        return Tame(v);
    }
    case Encoding::kNone:
        break;
    }
    return 0.0f;
}

} // namespace

int32_t SoundData::CheckFormat(const WaveFormat& f) {
    if (EncodingOf(f) == Encoding::kNone)
        return kBadFormat;
    if (f.channels != 1 && f.channels != 2)
        return kBadFormat;
    if (f.blockAlign != f.channels * (f.bitsPerSample / 8))
        return kBadFormat;
    if (f.samplesPerSec < kMinRate || f.samplesPerSec > kMaxRate)
        return kBadFormat;
    return 0;
}

std::unique_ptr<SoundData>
SoundData::Decode(const WaveFormat& f, const uint8_t* bytes, size_t size) {
    auto data = std::make_unique<SoundData>();
    const Encoding e = EncodingOf(f);
    const size_t width = f.bitsPerSample / 8;
    data->channels_ = f.channels == 2 ? 2 : 1;
    data->sampleRate_ = f.samplesPerSec;
    if (e == Encoding::kNone || f.blockAlign == 0)
        return data;
    data->frames_ = static_cast<int64_t>(size / f.blockAlign);
    const auto channels = static_cast<size_t>(data->channels_);
    data->samples_.assign(static_cast<size_t>(data->frames_ + kPadBefore + kPadAfter) * channels,
                          0.0f);
    float* out = data->samples_.data() + kPadBefore * static_cast<int64_t>(channels);
    const size_t count = static_cast<size_t>(data->frames_) * channels;
    for (size_t i = 0; i < count; ++i)
        out[i] = DecodeSample(e, bytes + i * width);
    return data;
}

} // namespace mb
