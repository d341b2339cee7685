#pragma once

// Test helpers: WAV files written by the tests, in every supported format and broken in
// the ways real files are, in a temporary folder that is removed afterwards.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/WaveReader.h"
#include "engine/WaveWriter.h"

namespace mb::test {

// The format of 16-bit PCM with `channels` channels at `rate` frames a second.
inline WaveFormat Pcm16Format(uint16_t channels, uint32_t rate) {
    WaveFormat f;
    f.formatTag = WAVE_FORMAT_PCM;
    f.channels = channels;
    f.samplesPerSec = rate;
    f.bitsPerSample = 16;
    f.blockAlign = static_cast<uint16_t>(2 * channels);
    f.avgBytesPerSec = rate * f.blockAlign;
    return f;
}

inline void Put(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void PutId(std::vector<uint8_t>& out, const std::string& id) {
    for (char c : id)
        out.push_back(static_cast<uint8_t>(c));
}

// A chunk: id, size and body (padded to an even size).
inline std::vector<uint8_t> Chunk(const std::string& id, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out;
    PutId(out, id);
    Put(out, body.size(), 4);
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() & 1)
        out.push_back(0);
    return out;
}

// A "fmt " body: the sixteen bytes, then (when given) the extra size and extra bytes.
inline std::vector<uint8_t>
FormatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, int extraSize = -1) {
    std::vector<uint8_t> out;
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    Put(out, tag, 2);
    Put(out, channels, 2);
    Put(out, rate, 4);
    Put(out, static_cast<uint64_t>(rate) * align, 4);
    Put(out, align, 2);
    Put(out, bits, 2);
    if (extraSize >= 0) {
        Put(out, static_cast<uint64_t>(extraSize), 2);
        out.insert(out.end(), static_cast<size_t>(extraSize), 0);
    }
    return out;
}

// RIFF/WAVE around the given chunks.
inline std::vector<uint8_t> Riff(const std::vector<std::vector<uint8_t>>& chunks,
                                 const std::string& form = "WAVE") {
    std::vector<uint8_t> body;
    PutId(body, form);
    for (const auto& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    return Chunk("RIFF", body);
}

// 16-bit mono PCM samples as bytes.
inline std::vector<uint8_t> Pcm16(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> out;
    for (int16_t s : samples)
        Put(out, static_cast<uint16_t>(s), 2);
    return out;
}

// A temporary folder, removed with everything in it when the test ends.
class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "marrowbeat-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        const std::string file = path_ + "/" + name;
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return file;
    }

private:
    std::string path_;
};

// A mono 16-bit file at `rate` holding the samples.
inline std::vector<uint8_t> MonoFile(const std::vector<int16_t>& samples, uint32_t rate = 44100) {
    return Riff({Chunk("fmt ", FormatBody(1, 1, rate, 16)), Chunk("data", Pcm16(samples))});
}

// The bytes of a WAV file's data chunk; nothing when it cannot be read.
inline std::vector<uint8_t> DataBytes(const std::string& path) {
    WaveReader reader;
    if (reader.Open(path) != 0 || reader.StartData() != 0)
        return {};
    std::vector<uint8_t> bytes(reader.dataChunk().size);
    uint64_t got = 0;
    if (reader.Read(bytes.size(), bytes.data(), &got) != 0)
        return {};
    bytes.resize(got);
    return bytes;
}

// The left channel of interleaved stereo floats, as 16-bit samples.
inline std::vector<int16_t> Left(const std::vector<float>& stereo) {
    std::vector<int16_t> left;
    for (size_t i = 0; i < stereo.size(); i += 2)
        left.push_back(static_cast<int16_t>(std::lrint(stereo[i] * 32767.0f)));
    return left;
}

// The first frame of each sound: a sample above `threshold` after at least `quiet`
// frames at (or within two steps of) silence.
inline std::vector<int64_t>
FindOnsets(const std::vector<int16_t>& x, int threshold = 1500, int quiet = 200) {
    std::vector<int64_t> onsets;
    int silent = quiet; // before the recording: silence
    for (size_t i = 0; i < x.size(); ++i) {
        const int a = x[i] < 0 ? -x[i] : x[i];
        if (a > threshold && silent >= quiet)
            onsets.push_back(static_cast<int64_t>(i));
        silent = a <= 2 ? silent + 1 : 0;
    }
    return onsets;
}

} // namespace mb::test
