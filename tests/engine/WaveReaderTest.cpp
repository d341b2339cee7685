#include <gtest/gtest.h>

#include <cmath>

#include "WaveFiles.h"
#include "audio/SoundData.h"
#include "engine/WaveReader.h"

namespace mb {
namespace {

using test::Chunk;
using test::FormatBody;
using test::Riff;
using test::TempFolder;

struct ReadResult {
    uint32_t open = 0;
    uint32_t start = 0;
    uint32_t read = 0;
    std::vector<uint8_t> data;
    WaveFormat format;
};

// Open, Start data and Read of the whole data chunk, stopping at the first failure.
ReadResult ReadAll(const std::string& path) {
    ReadResult r;
    WaveReader reader;
    r.open = reader.Open(path);
    if (r.open != 0)
        return r;
    r.format = *reader.format();
    r.start = reader.StartData();
    if (r.start != 0)
        return r;
    r.data.resize(reader.dataChunk().size);
    uint64_t got = 0;
    r.read = reader.Read(r.data.size(), r.data.data(), &got);
    r.data.resize(got);
    return r;
}

struct FormatCase {
    const char* name;
    WaveWriter::Encoding encoding;
    int channels;
    bool extensible;
    // How close a decoded sample must come to what was written.
    double tolerance;
};

class WaveFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(WaveFormats, LoadAndDecodeToTheSamplesWritten) {
    const FormatCase& c = GetParam();
    std::vector<float> samples;
    for (int i = 0; i < 64; ++i)
        samples.push_back(static_cast<float>(std::round(std::sin(i * 0.37) * 100.0) / 128.0));
    samples.push_back(-1.0f);
    samples.push_back(0.0f);
    TempFolder folder;
    const std::string path = folder.Write(
        "s.wav", WaveWriter::Encode(samples, c.channels, 22050, c.encoding, c.extensible));

    const ReadResult r = ReadAll(path);
    ASSERT_EQ(r.open, 0u);
    ASSERT_EQ(r.start, 0u);
    ASSERT_EQ(r.read, 0u);
    EXPECT_EQ(r.format.channels, c.channels);
    EXPECT_EQ(r.format.samplesPerSec, 22050u);
    ASSERT_EQ(SoundData::CheckFormat(r.format), 0);
    const auto data = SoundData::Decode(r.format, r.data.data(), r.data.size());
    ASSERT_EQ(data->frames() * c.channels, static_cast<int64_t>(samples.size()));
    for (size_t i = 0; i < samples.size(); ++i)
        ASSERT_NEAR(data->Frame(0)[i], samples[i], c.tolerance) << i;
    // Outside the sound, interpolation reads silence.
    for (int ch = 0; ch < c.channels; ++ch) {
        EXPECT_EQ(data->Frame(-1)[ch], 0.0f);
        EXPECT_EQ(data->Frame(data->frames() + 2)[ch], 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat,
    WaveFormats,
    ::testing::Values(FormatCase{"pcm8", WaveWriter::Encoding::kPcm8, 1, false, 1.0 / 127},
                      FormatCase{"pcm16", WaveWriter::Encoding::kPcm16, 2, false, 0.0},
                      FormatCase{"pcm24", WaveWriter::Encoding::kPcm24, 1, false, 0.0},
                      FormatCase{"pcm32", WaveWriter::Encoding::kPcm32, 2, false, 1e-7},
                      FormatCase{"float32", WaveWriter::Encoding::kFloat32, 1, false, 0.0},
                      FormatCase{"float64", WaveWriter::Encoding::kFloat64, 2, false, 0.0},
                      FormatCase{"extensible_pcm16", WaveWriter::Encoding::kPcm16, 2, true, 0.0},
                      FormatCase{"extensible_pcm24", WaveWriter::Encoding::kPcm24, 1, true, 0.0},
                      FormatCase{"extensible_float32", WaveWriter::Encoding::kFloat32, 2, true,
                                 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

struct BrokenCase {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t open;
    uint32_t start;
    uint32_t read;
};

std::vector<uint8_t> Truncated(std::vector<uint8_t> bytes, size_t keep) {
    bytes.resize(keep);
    return bytes;
}

TEST(WaveReader, BrokenFilesGiveTheirErrorCodes) {
    const auto fmt = Chunk("fmt ", FormatBody(1, 1, 44100, 16));
    const auto data = Chunk("data", std::vector<uint8_t>(100, 7));
    std::vector<uint8_t> shortData;
    test::PutId(shortData, "data");
    test::Put(shortData, 1000, 4);
    shortData.insert(shortData.end(), 500, 1);
    std::vector<uint8_t> fmt14(fmt.begin(), fmt.end());
    fmt14[4] = 14;
    fmt14.resize(8 + 14);
    std::vector<uint8_t> fmtCut;
    test::PutId(fmtCut, "fmt ");
    test::Put(fmtCut, 16, 4);
    fmtCut.insert(fmtCut.end(), 10, 0);
    std::vector<uint8_t> extraMissing;
    test::PutId(extraMissing, "fmt ");
    test::Put(extraMissing, 40, 4);
    const auto ext = FormatBody(WAVE_FORMAT_EXTENSIBLE, 1, 44100, 16);
    extraMissing.insert(extraMissing.end(), ext.begin(), ext.end());
    test::Put(extraMissing, 22, 2);
    extraMissing.insert(extraMissing.end(), 5, 0);

    const BrokenCase cases[] = {
        {"empty file", {}, WaveReader::MMIOERR_CHUNKNOTFOUND, 0, 0},
        {"not RIFF", Chunk("RIFX", std::vector<uint8_t>(20, 0)), WaveReader::kErrNotWave, 0, 0},
        {"RIFF but not WAVE", Riff({fmt, data}, "AVI "), WaveReader::kErrNotWave, 0, 0},
        {"no fmt chunk", Riff({data}), WaveReader::MMIOERR_CHUNKNOTFOUND, 0, 0},
        {"14-byte fmt", Riff({fmt14, data}), WaveReader::kErrNotWave, 0, 0},
        {"fmt cut short", Riff({fmtCut}), WaveReader::kErrFormatRead, 0, 0},
        {"extra bytes missing", Riff({extraMissing}), WaveReader::kErrNotWave, 0, 0},
        {"no data chunk", Riff({fmt, Chunk("LIST", {'I', 'N', 'F', 'O'})}), 0,
         WaveReader::MMIOERR_CHUNKNOTFOUND, 0},
        {"truncated data", Riff({fmt, shortData}), 0, 0, WaveReader::kErrCorrupt},
        {"riff cut inside fmt", Truncated(Riff({fmt, data}), 20), WaveReader::kErrFormatRead, 0, 0},
    };
    TempFolder folder;
    for (const BrokenCase& c : cases) {
        const ReadResult r = ReadAll(folder.Write("x.wav", c.bytes));
        EXPECT_EQ(r.open, c.open) << c.name;
        EXPECT_EQ(r.start, c.start) << c.name;
        EXPECT_EQ(r.read, c.read) << c.name;
        if (c.read == WaveReader::kErrCorrupt) {
            EXPECT_TRUE(r.data.empty()) << c.name;
        }
    }
    EXPECT_EQ(ReadAll(folder.path() + "/missing.wav").open, WaveReader::kErrCannotOpen);
}

TEST(WaveReader, ChunksBetweenFormatAndDataAreSkipped) {
    const auto samples = test::Pcm16({1, -2, 3, -4, 5});
    const auto file =
        Riff({Chunk("fmt ", FormatBody(1, 1, 44100, 16)),
              Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 1, 0, 0, 0, 'x'}),
              Chunk("fact", {1, 2, 3}), Chunk("data", samples)});
    TempFolder folder;
    const ReadResult r = ReadAll(folder.Write("x.wav", file));
    ASSERT_EQ(r.open, 0u);
    ASSERT_EQ(r.start, 0u);
    ASSERT_EQ(r.read, 0u);
    EXPECT_EQ(r.data, samples);
}

TEST(WaveReader, TheExtraSizeIsReadOnlyWhereTheFormatChunkHoldsIt) {
    TempFolder folder;
    const auto data = Chunk("data", std::vector<uint8_t>(8, 0));
    // PCM with a 16-byte chunk: no extra size.
    ReadResult r =
        ReadAll(folder.Write("a.wav", Riff({Chunk("fmt ", FormatBody(1, 1, 44100, 16)), data})));
    EXPECT_EQ(r.open, 0u);
    EXPECT_EQ(r.format.extraSize, 0);
    // Float with an 18-byte chunk: the extra size (0) is read.
    r = ReadAll(folder.Write("b.wav", Riff({Chunk("fmt ", FormatBody(3, 1, 44100, 32, 0)), data})));
    EXPECT_EQ(r.open, 0u);
    EXPECT_EQ(r.format.formatTag, 3);
    EXPECT_EQ(r.format.extraSize, 0);
    EXPECT_EQ(r.data.size(), 8u);
    // Float with a 16-byte chunk: the bytes behind it belong to the next chunk.
    r = ReadAll(folder.Write("c.wav", Riff({Chunk("fmt ", FormatBody(3, 1, 44100, 32)), data})));
    EXPECT_EQ(r.open, 0u);
    EXPECT_EQ(r.format.extraSize, 0);
    EXPECT_EQ(r.start, 0u);
}

TEST(WaveReader, FormatsTheDeviceCannotPlayOpenButAreRefused) {
    struct Case {
        const char* name;
        WaveFormat format;
    };
    auto f = [](uint16_t tag, uint16_t channels, uint16_t bits, uint32_t rate = 44100) {
        WaveFormat w;
        w.formatTag = tag;
        w.channels = channels;
        w.samplesPerSec = rate;
        w.bitsPerSample = bits;
        w.blockAlign = static_cast<uint16_t>(channels * bits / 8);
        w.avgBytesPerSec = rate * w.blockAlign;
        return w;
    };
    WaveFormat extensibleUnknown = f(WAVE_FORMAT_EXTENSIBLE, 1, 16);
    extensibleUnknown.extraSize = 22;
    extensibleUnknown.extra.assign(22, 0);
    WaveFormat badAlign = f(1, 2, 16);
    badAlign.blockAlign = 3;
    const Case cases[] = {
        {"ADPCM", f(2, 1, 4)},           {"mu-law", f(7, 1, 8)},
        {"PCM 12-bit", f(1, 1, 12)},     {"float 16-bit", f(3, 1, 16)},
        {"six channels", f(1, 6, 16)},   {"no channels", f(1, 0, 16)},
        {"bad block align", badAlign},   {"extensible, unknown sub-format", extensibleUnknown},
        {"rate 50 Hz", f(1, 1, 16, 50)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SoundData::CheckFormat(c.format), SoundData::kBadFormat) << c.name;
    EXPECT_EQ(SoundData::kBadFormat, -2005401500);
}

TEST(SoundData, FloatSamplesThatAreNotNumbersBecomeSilence) {
    WaveFormat w;
    w.formatTag = WAVE_FORMAT_IEEE_FLOAT;
    w.channels = 1;
    w.samplesPerSec = 44100;
    w.bitsPerSample = 32;
    w.blockAlign = 4;
    const float values[] = {NAN, INFINITY, 0.5f, 1e30f};
    const auto data = SoundData::Decode(w, reinterpret_cast<const uint8_t*>(values), sizeof values);
    ASSERT_EQ(data->frames(), 4);
    EXPECT_EQ(data->Frame(0)[0], 0.0f);
    EXPECT_EQ(data->Frame(1)[0], 0.0f);
    EXPECT_EQ(data->Frame(2)[0], 0.5f);
    EXPECT_TRUE(std::isfinite(data->Frame(3)[0]));
}

} // namespace
} // namespace mb
