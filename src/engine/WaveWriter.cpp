#include "engine/WaveWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "platform/WaveFormat.h"

namespace mb {

namespace {

constexpr uint16_t kExtensibleExtraSize = 22;
constexpr uint8_t kGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                   0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

void Put(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutId(std::vector<uint8_t>& out, const char* id) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(id[i]));
}

int64_t Quantise(float x, int bits) {
    const double scale = std::ldexp(1.0, bits - 1);
    const double v = std::nearbyint(static_cast<double>(x) * scale);
    return static_cast<int64_t>(std::clamp(v, -scale, scale - 1.0));
}

} // namespace

std::vector<uint8_t> WaveWriter::Encode(const std::vector<float>& samples,
                                        int channels,
                                        uint32_t rate,
                                        Encoding encoding,
                                        bool extensible) {
    int bits = 16;
    uint16_t tag = WAVE_FORMAT_PCM;
    switch (encoding) {
    case Encoding::kPcm8:
        bits = 8;
        break;
    case Encoding::kPcm16:
        bits = 16;
        break;
    case Encoding::kPcm24:
        bits = 24;
        break;
    case Encoding::kPcm32:
        bits = 32;
        break;
    case Encoding::kFloat32:
        bits = 32;
        tag = WAVE_FORMAT_IEEE_FLOAT;
        break;
    case Encoding::kFloat64:
        bits = 64;
        tag = WAVE_FORMAT_IEEE_FLOAT;
        break;
    }
    const int width = bits / 8;
    const uint64_t dataBytes = samples.size() * static_cast<uint64_t>(width);
    const uint16_t blockAlign = static_cast<uint16_t>(channels * width);

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

    std::vector<uint8_t> out;
    PutId(out, "RIFF");
    Put(out, 4 + 8 + fmt.size() + 8 + dataBytes + (dataBytes & 1), 4);
    PutId(out, "WAVE");
    PutId(out, "fmt ");
    Put(out, fmt.size(), 4);
    out.insert(out.end(), fmt.begin(), fmt.end());
    PutId(out, "data");
    Put(out, dataBytes, 4);
    for (float x : samples) {
        switch (encoding) {
        case Encoding::kPcm8:
            Put(out, static_cast<uint64_t>(Quantise(x, 8) + 128), 1);
            break;
        case Encoding::kPcm16:
        case Encoding::kPcm24:
        case Encoding::kPcm32:
            Put(out, static_cast<uint64_t>(Quantise(x, bits)), width);
            break;
        case Encoding::kFloat32: {
            uint32_t u;
            std::memcpy(&u, &x, sizeof u);
            Put(out, u, 4);
            break;
        }
        case Encoding::kFloat64: {
            const double d = x;
            uint64_t u;
            std::memcpy(&u, &d, sizeof u);
            Put(out, u, 8);
            break;
        }
        }
    }
    if (dataBytes & 1)
        out.push_back(0);
    return out;
}

bool WaveWriter::WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string temporary = path + ".part";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace mb
