#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "files/SetupFileFormat.h"
#include "model/Setup.h"

namespace mb {
namespace {

std::vector<uint8_t> NewSetupFile(const SetupFace& face = {}) {
    mb::Setup setup;
    return SetupFileFormat::Write(SetupRecord::FromSetup(setup, face));
}

int32_t I32At(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                                (static_cast<uint32_t>(b[at + 3]) << 24));
}
int16_t I16At(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<int16_t>(b[at] | (b[at + 1] << 8));
}

TEST(SetupFileFormat, NewSetupIs1619BytesWithTheKnownHeader) {
    const std::vector<uint8_t> bytes = NewSetupFile({0x00C08040, -20, 300});
    ASSERT_EQ(bytes.size(), 1619u);
    const std::vector<uint8_t> head = {0x00, 0xA4, 0x0C, 0x46, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0x00, 0x80, 0x5F, 0x40, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20), head);
    EXPECT_EQ(I16At(bytes, 20), 0);          // selectedLoop
    EXPECT_EQ(I32At(bytes, 22), 0);          // muted
    EXPECT_EQ(I32At(bytes, 26), 0x00C08040); // colour
    EXPECT_EQ(I16At(bytes, 30), 0);          // loop 0 nextLoop
    EXPECT_EQ(I16At(bytes, 32), 1);          // loop 0 repeatCount
    // Loop 1, step 3: pitch, sound, volume, pan, dValue, on.
    const size_t step = 30 + 196 + 4 + 3 * 12;
    EXPECT_EQ(I16At(bytes, 30 + 196), 1);
    EXPECT_EQ(I16At(bytes, step), 0);
    EXPECT_EQ(I16At(bytes, step + 2), 3);
    EXPECT_EQ(I16At(bytes, step + 4), 110);
    EXPECT_EQ(I16At(bytes, step + 6), 64);
    EXPECT_EQ(I16At(bytes, step + 8), 64);
    EXPECT_EQ(I16At(bytes, step + 10), 1);
    EXPECT_EQ(I32At(bytes, 1598), -20);
    EXPECT_EQ(I32At(bytes, 1602), 300);
    EXPECT_EQ(I32At(bytes, 1606), 16); // stepCount
    EXPECT_EQ(I32At(bytes, 1610), 0);  // polyphonic
    EXPECT_EQ(I16At(bytes, 1614), 80); // masterVolume
    EXPECT_EQ(I16At(bytes, 1616), 0);  // eValue
    EXPECT_EQ(bytes[1618], 0);         // empty sound folder
}

TEST(SetupFileFormat, LongSoundFolderUsesTheSixteenBitLength) {
    mb::Setup setup;
    setup.soundFolder = "/" + std::string(299, 's');
    const auto bytes = SetupFileFormat::Write(SetupRecord::FromSetup(setup, {}));
    ASSERT_EQ(bytes.size(), 1618u + 3 + 300);
    EXPECT_EQ(bytes[1618], 0xFF);
    EXPECT_EQ(bytes[1619], 0x2C);
    EXPECT_EQ(bytes[1620], 0x01);
    EXPECT_EQ(bytes[1621], '/');
}

TEST(SetupFileFormat, EveryFieldRoundTrips) {
    mb::Setup setup;
    setup.tempoUnit = 1;
    setup.bpm = 97.125;
    setup.legacyA = -7;
    setup.legacyB = 300;
    setup.selectedLoop = 5;
    setup.muted = 1;
    setup.stepCount = 11;
    setup.polyphonic = 1;
    setup.masterVolume = 33;
    setup.eValue = -12;
    setup.soundFolder = "/home/me/Kits/\u00C9t\u00E9 \u97F3";
    for (int i = 0; i < kLoopCount; ++i) {
        setup.loop(i).nextLoop = static_cast<int16_t>(7 - i);
        setup.loop(i).repeatCount = static_cast<int16_t>(i * 3);
        for (int j = 0; j < kStepsPerLoop; ++j) {
            Step& s = setup.loop(i).steps[static_cast<size_t>(j)];
            s.on = static_cast<int16_t>((i + j) % 2);
            s.pitch = static_cast<int16_t>(j * 7 - 60);
            s.sound = static_cast<int16_t>(i * 16 + j);
            s.volume = static_cast<int16_t>(127 - j);
            s.pan = static_cast<int16_t>(j * 8);
            s.dValue = static_cast<int16_t>(i + j);
        }
    }
    const SetupFace face{0x00ABCDEF, -1200, 45};
    const auto bytes = SetupFileFormat::Write(SetupRecord::FromSetup(setup, face));
    const auto read = SetupFileFormat::Read(bytes);
    ASSERT_EQ(read.status, SetupFileFormat::Status::kOk);
    EXPECT_EQ(read.offset, bytes.size());
    EXPECT_EQ(read.record.version, 9001.0f);
    EXPECT_EQ(read.record.face.color, face.color);
    EXPECT_EQ(read.record.face.windowX, face.windowX);
    EXPECT_EQ(read.record.face.windowY, face.windowY);

    mb::Setup back;
    read.record.ApplyTo(back);
    EXPECT_EQ(back.tempoUnit, 1);
    EXPECT_EQ(back.bpm, 97.125);
    EXPECT_EQ(back.legacyA, -7);
    EXPECT_EQ(back.legacyB, 300);
    EXPECT_EQ(back.selectedLoop, 5);
    EXPECT_EQ(back.muted, 1);
    EXPECT_EQ(back.stepCount, 11);
    EXPECT_EQ(back.polyphonic, 1);
    EXPECT_EQ(back.masterVolume, 33);
    EXPECT_EQ(back.eValue, -12);
    EXPECT_EQ(back.soundFolder, setup.soundFolder);
    for (int i = 0; i < kLoopCount; ++i) {
        EXPECT_EQ(back.loop(i).nextLoop, 7 - i);
        EXPECT_EQ(back.loop(i).repeatCount, i * 3);
        for (int j = 0; j < kStepsPerLoop; ++j) {
            const Step& a = setup.loop(i).steps[static_cast<size_t>(j)];
            const Step& b = back.loop(i).steps[static_cast<size_t>(j)];
            for (int code = kParamOn; code <= kParamDValue; code += 10)
                EXPECT_EQ(a.GetParam(code), b.GetParam(code)) << i << " " << j << " " << code;
        }
    }
}

// Builds a file of any version byte by byte, as the writers of those versions did.
// Every loop i links to (i + 1) % 8 with repeatCount i + 2 where the version stores
// links; step j has pitch j - 4, sound j, volume 100 + j, pan 10 * j, on j % 2, and a
// d value that old versions stored as 1 for odd steps.
std::vector<uint8_t> FileOfVersion(float v, int32_t left, int32_t right, int32_t oldPoly) {
    ByteWriter w;
    w.F32(v);
    w.I16(1);     // tempoUnit
    w.F64(140.5); // bpm
    w.I32(42);    // legacyA
    w.I16(-3);    // legacyB
    w.I16(6);     // selectedLoop
    w.I32(1);     // muted
    w.I32(0x111111);
    if (v < 2.0f) {
        w.I32(0x222222); // replaces the colour
        w.I32(0x333333); // not used
    }
    for (int i = 0; i < 8; ++i) {
        if (v < 2.0f)
            w.I32(-1);
        if (v < 1.003f) {
            w.I16(5);
        } else {
            w.I16(static_cast<int16_t>((i + 1) % 8));
            w.I16(static_cast<int16_t>(i + 2));
        }
        for (int j = 0; j < 16; ++j) {
            w.I16(static_cast<int16_t>(j - 4));
            w.I16(static_cast<int16_t>(j));
            w.I16(static_cast<int16_t>(100 + j));
            w.I16(static_cast<int16_t>(10 * j));
            if (v < 2.0f) {
                w.I32(j % 2 ? 7 : 0); // any non-zero is on
                w.I32(j % 2 ? 1 : 5); // 1 means d = 0, anything else 127
            } else {
                w.I16(static_cast<int16_t>(j + 20));
                w.I16(static_cast<int16_t>(j % 2));
            }
        }
    }
    if (v < 2.0f) {
        w.I32(left);
        w.I32(77);
        w.I32(right);
        w.I32(500);
        if (v >= 1.5f)
            w.I32(oldPoly);
    } else {
        w.I32(left);
        w.I32(77);
        w.I32(9); // stepCount
        w.I32(1); // polyphonic
        if (v != 2.0f) {
            w.I16(55);
            w.I16(66);
        }
        if (v >= 9001.0f) {
            w.U8(4);
            for (char c : std::string("/kit"))
                w.U8(static_cast<uint8_t>(c));
        }
    }
    return w.Take();
}

struct VersionCase {
    float version;
    int32_t right;     // the old window's right edge (left is 10)
    int32_t oldPoly;   // the old inverted polyphonic flag
    bool links;        // nextLoop and repeatCount stored
    bool wideSteps;    // i16 dValue and on
    int32_t stepCount; // as read: old versions' window width brought into 1 to 16
    int32_t polyphonic;
    std::optional<int16_t> masterVolume;
    std::optional<int16_t> eValue;
    bool folder;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << "version " << c.version << ", old right edge " << c.right;
}

class SetupFileVersions : public ::testing::TestWithParam<VersionCase> {};

TEST_P(SetupFileVersions, ReadsTheLayoutOfItsVersion) {
    const VersionCase& c = GetParam();
    const auto bytes = FileOfVersion(c.version, 10, c.right, c.oldPoly);
    const auto read = SetupFileFormat::Read(bytes);
    ASSERT_EQ(read.status, SetupFileFormat::Status::kOk);
    EXPECT_EQ(read.offset, bytes.size());
    const SetupRecord& r = read.record;
    EXPECT_EQ(r.version, c.version);
    EXPECT_EQ(r.tempoUnit, 1);
    EXPECT_EQ(r.bpm, 140.5);
    EXPECT_EQ(r.legacyA, 42);
    EXPECT_EQ(r.legacyB, -3);
    EXPECT_EQ(r.selectedLoop, 6);
    EXPECT_EQ(r.muted, 1);
    EXPECT_EQ(r.face.color, c.wideSteps ? 0x111111u : 0x222222u);
    EXPECT_EQ(r.face.windowX, 10);
    EXPECT_EQ(r.face.windowY, 77);
    EXPECT_EQ(r.stepCount, c.stepCount);
    EXPECT_EQ(r.polyphonic, c.polyphonic);
    EXPECT_EQ(r.masterVolume, c.masterVolume);
    EXPECT_EQ(r.eValue, c.eValue);
    EXPECT_EQ(r.soundFolder.has_value(), c.folder);
    if (c.folder) {
        EXPECT_EQ(*r.soundFolder, "/kit");
    }
    for (int i = 0; i < 8; ++i) {
        const auto& loop = r.loops[static_cast<size_t>(i)];
        EXPECT_EQ(loop.nextLoop, c.links ? (i + 1) % 8 : i);
        EXPECT_EQ(loop.repeatCount, c.links ? i + 2 : 1);
        for (int j = 0; j < 16; ++j) {
            const auto& s = loop.steps[static_cast<size_t>(j)];
            EXPECT_EQ(s.pitch, j - 4);
            EXPECT_EQ(s.sound, j);
            EXPECT_EQ(s.volume, 100 + j);
            EXPECT_EQ(s.pan, 10 * j);
            EXPECT_EQ(s.on, j % 2);
            EXPECT_EQ(s.dValue, c.wideSteps ? j + 20 : (j % 2 ? 0 : 127));
        }
    }
}

// Versions below 1.1 had 35-pixel columns and a 122-pixel frame, later ones 30 and 110;
// the stored width 682 gives 16 columns in the first layout, 19 in the second.
INSTANTIATE_TEST_SUITE_P(
    AllVersions,
    SetupFileVersions,
    ::testing::Values(VersionCase{1.0f, 692, 0, false, false, 16, 0, {}, {}, false},
                      VersionCase{1.002f, 300, 0, false, false, 4, 0, {}, {}, false},
                      VersionCase{1.003f, 692, 0, true, false, 16, 0, {}, {}, false},
                      VersionCase{1.1f, 692, 0, true, false, 16, 0, {}, {}, false},
                      VersionCase{1.5f, 500, 0, true, false, 12, 1, {}, {}, false},
                      VersionCase{1.9f, 500, 3, true, false, 12, 0, {}, {}, false},
                      VersionCase{1.0f, 100, 0, false, false, 1, 0, {}, {}, false},
                      VersionCase{1.1f, 20, 0, true, false, 1, 0, {}, {}, false},
                      VersionCase{2.0f, 0, 0, true, true, 9, 1, int16_t{80}, int16_t{0}, false},
                      VersionCase{2.5f, 0, 0, true, true, 9, 1, int16_t{55}, int16_t{66}, false},
                      VersionCase{9000.99f, 0, 0, true, true, 9, 1, int16_t{55}, int16_t{66},
                                  false},
                      VersionCase{9001.0f, 0, 0, true, true, 9, 1, int16_t{55}, int16_t{66}, true}),
    [](const ::testing::TestParamInfo<VersionCase>& info) {
        std::string name =
            "v" + std::to_string(info.param.version) + "_" + std::to_string(info.index);
        for (char& c : name) {
            if (c == '.')
                c = '_';
        }
        return name;
    });

TEST(SetupFileFormat, FilesOlderThanTwoKeepTheMasterVolumeAndSoundFolder) {
    mb::Setup setup;
    setup.masterVolume = 17;
    setup.eValue = 9;
    setup.soundFolder = "/old/kit";
    const auto read = SetupFileFormat::Read(FileOfVersion(1.5f, 10, 692, 0));
    ASSERT_EQ(read.status, SetupFileFormat::Status::kOk);
    read.record.ApplyTo(setup);
    EXPECT_EQ(setup.masterVolume, 17);
    EXPECT_EQ(setup.eValue, 9);
    EXPECT_EQ(setup.soundFolder, "/old/kit");
    EXPECT_EQ(setup.stepCount, 16); // 19 columns fit in the old window: limited to 16
}

TEST(SetupFileFormat, IndexesAreBroughtIntoRangeAndOtherValuesKeptAsRead) {
    struct Case {
        int16_t selectedLoop;
        int16_t nextLoop;
        int32_t stepCount;
        int16_t wantLoop;
        int16_t wantNext;
        int32_t wantSteps;
    };
    const Case cases[] = {
        {9, 12, 0, 7, 7, 1},
        {-3, -1, 40, 0, 0, 16},
        {4, 2, -100000, 4, 2, 1},
        {7, 7, 16, 7, 7, 16},
    };
    for (const Case& c : cases) {
        SetupRecord r = SetupFileFormat::Read(NewSetupFile()).record;
        r.selectedLoop = c.selectedLoop;
        r.loops[3].nextLoop = c.nextLoop;
        r.stepCount = c.stepCount;
        r.loops[3].steps[2].sound = -5;
        r.loops[3].steps[2].volume = 500;
        r.loops[3].repeatCount = -2;
        mb::Setup setup;
        r.ApplyTo(setup);
        EXPECT_EQ(setup.selectedLoop, c.wantLoop);
        EXPECT_EQ(setup.loop(3).nextLoop, c.wantNext);
        EXPECT_EQ(setup.stepCount, c.wantSteps);
        EXPECT_EQ(setup.loop(3).steps[2].sound, -5);
        EXPECT_EQ(setup.loop(3).steps[2].volume, 500);
        EXPECT_EQ(setup.loop(3).repeatCount, -2);
    }
}

TEST(SetupFileFormat, EveryShorterFileIsTruncated) {
    mb::Setup setup;
    setup.soundFolder = "/kit";
    const auto full = SetupFileFormat::Write(SetupRecord::FromSetup(setup, {}));
    for (size_t n = 0; n < full.size(); ++n) {
        const auto read = SetupFileFormat::Read(std::span(full).first(n));
        ASSERT_EQ(read.status, SetupFileFormat::Status::kTruncated) << n;
        EXPECT_EQ(read.offset, n);
    }
    for (float v : {1.0f, 1.5f, 2.0f}) {
        const auto old = FileOfVersion(v, 10, 692, 0);
        for (size_t n = 0; n < old.size(); ++n)
            ASSERT_EQ(SetupFileFormat::Read(std::span(old).first(n)).status,
                      SetupFileFormat::Status::kTruncated)
                << v << " " << n;
    }
}

// The bytes with a value of `width` bytes written over them at `at`.
std::vector<uint8_t>
Patched(std::vector<uint8_t> bytes, size_t at, const void* value, size_t width) {
    std::memcpy(bytes.data() + at, value, width);
    return bytes;
}
std::vector<uint8_t> WithVersion(float version) {
    return Patched(FileOfVersion(2.5f, 0, 0, 0), 0, &version, 4);
}
std::vector<uint8_t> WithI16(float version, size_t at, int16_t v) {
    return Patched(FileOfVersion(version, 10, 692, 0), at, &v, 2);
}
std::vector<uint8_t> WithTempo(float version, double bpm) {
    return Patched(FileOfVersion(version, 10, 692, 0), 6, &bpm, 8);
}

TEST(SetupFileFormat, ValuesNoSetupCanHoldAreRefusedAndTheTempoIsMended) {
    const float inf = std::numeric_limits<float>::infinity();
    const int32_t steps40 = 40;
    const int32_t steps0 = 0;
    const std::vector<uint8_t> wave = {'R', 'I', 'F', 'F', 0x24, 0, 0, 0, 'W', 'A', 'V', 'E'};
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        SetupFileFormat::Status status;
        std::string problem; // kNotSetup, kBadValue
        double bpm;          // kOk
        bool unusableTempo;
    };
    using S = SetupFileFormat::Status;
    const Case cases[] = {
        {"a wave file", wave, S::kNotSetup, "version 12690.33", 0, false},
        {"NaN version", WithVersion(std::nanf("")), S::kNotSetup, "version nan", 0, false},
        {"infinite version", WithVersion(-inf), S::kNotSetup, "version -inf", 0, false},
        {"before 1.0", WithVersion(0.999f), S::kNotSetup, "version 0.999", 0, false},
        {"after 9001.0", WithVersion(9001.001f), S::kNotSetup, "version 9001.001", 0, false},
        {"huge version", WithVersion(1.2e12f), S::kNotSetup, "version 1.2e+12", 0, false},
        {"step count 40", Patched(FileOfVersion(2.0f, 0, 0, 0), 1606, &steps40, 4), S::kBadValue,
         "step count 40 out of range (1 to 16)", 0, false},
        {"step count 0", Patched(FileOfVersion(9001.0f, 0, 0, 0), 1606, &steps0, 4), S::kBadValue,
         "step count 0 out of range (1 to 16)", 0, false},
        {"selected loop 8", WithI16(9001.0f, 20, 8), S::kBadValue,
         "selected loop 8 out of range (0 to 7)", 0, false},
        {"old selected loop -1", WithI16(1.5f, 20, -1), S::kBadValue,
         "selected loop -1 out of range (0 to 7)", 0, false},
        {"next loop 12", WithI16(2.5f, 30 + 3 * 196, 12), S::kBadValue,
         "loop 3's next loop 12 out of range (0 to 7)", 0, false},
        {"NaN tempo", WithTempo(9001.0f, std::nan("")), S::kOk, "", kDefaultBpm, true},
        {"infinite tempo", WithTempo(1.0f, -HUGE_VAL), S::kOk, "", kDefaultBpm, true},
        {"huge tempo", WithTempo(2.0f, 1e300), S::kOk, "", kMaxBpm, false},
        {"tempo 0", WithTempo(1.5f, 0.0), S::kOk, "", kMinBpm, false},
        {"tempo 0.5", WithTempo(9001.0f, 0.5), S::kOk, "", 0.5, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto read = SetupFileFormat::Read(c.bytes);
        EXPECT_EQ(read.status, c.status);
        EXPECT_EQ(read.problem, c.problem);
        if (c.status == S::kOk) {
            EXPECT_EQ(read.record.bpm, c.bpm);
            EXPECT_EQ(read.unusableTempo.has_value(), c.unusableTempo);
        }
    }
}

// The tags of a trailer's chunks, in file order, from the end of a new setup's fields.
std::vector<std::string> TrailerTags(const std::vector<uint8_t>& bytes) {
    std::vector<std::string> tags;
    for (size_t at = 1619; at + 8 <= bytes.size();
         at += 8 + static_cast<size_t>(I32At(bytes, at + 4)))
        tags.emplace_back(bytes.begin() + static_cast<ptrdiff_t>(at),
                          bytes.begin() + static_cast<ptrdiff_t>(at) + 4);
    return tags;
}

const std::vector<uint8_t> kUnknownChunk = {'X', 'T', 'R', 'A', 3, 0, 0, 0, 7, 8, 9};

TEST(SetupFileFormat, GrooveIsWrittenOnlyWhereItDiffersAndReadBack) {
    struct Case {
        const char* name;
        void (*change)(mb::Setup&);
        std::vector<std::string> tags;
    };
    const Case cases[] = {
        {"no groove", [](mb::Setup&) {}, {}},
        {"swing", [](mb::Setup& s) { s.loop(3).swing = 66; }, {"SWNG"}},
        {"E dial", [](mb::Setup& s) { s.eDial = 1; }, {"DIAL"}},
        {"seed", [](mb::Setup& s) { s.seed = 0xDEADBEEF; }, {"SEED"}},
        {"condition",
         [](mb::Setup& s) { s.loop(7).steps[15].condition = 16 + 6 * 8 + 2; },
         {"COND"}},
        {"kept chunk", [](mb::Setup& s) { s.keptChunks = {kUnknownChunk}; }, {"XTRA"}},
        {"all",
         [](mb::Setup& s) {
             s.keptChunks = {kUnknownChunk, kUnknownChunk};
             s.loop(0).swing = 75;
             s.dDial = 3;
             s.seed = 1;
             s.loop(0).steps[0].condition = StepCondition::kNotPrevious;
         },
         {"SWNG", "DIAL", "SEED", "COND", "XTRA", "XTRA"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mb::Setup setup;
        c.change(setup);
        const auto bytes = SetupFileFormat::Write(SetupRecord::FromSetup(setup, {}));
        EXPECT_EQ(TrailerTags(bytes), c.tags);
        const auto read = SetupFileFormat::Read(bytes);
        ASSERT_EQ(read.status, SetupFileFormat::Status::kOk);
        EXPECT_EQ(read.grooveProblem, "");
        EXPECT_EQ(read.offset, bytes.size());
        // Opening it replaces whatever groove the setup had.
        mb::Setup back;
        back.loop(5).swing = 70;
        back.loop(5).steps[1].condition = StepCondition::kFirst;
        back.dDial = 2;
        read.record.ApplyTo(back);
        EXPECT_EQ(SetupFileFormat::Write(SetupRecord::FromSetup(back, {})), bytes);
    }
}

TEST(SetupFileFormat, AGrooveThatCannotBeReadIsIgnoredAndTheRestLoaded) {
    mb::Setup setup;
    setup.bpm = 99.5;
    setup.loop(3).swing = 60;
    setup.dDial = 1;
    setup.loop(0).steps[0].condition = StepCondition::kFirst;
    const auto good = SetupFileFormat::Write(SetupRecord::FromSetup(setup, {}));
    const size_t swing3 = 1619 + 8 + 6; // SWNG, then DIAL at 1619 + 24, COND at 1619 + 36
    const auto with = [&good](size_t at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> out = good;
        out.resize(std::max(out.size(), at + bytes.size()));
        std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<ptrdiff_t>(at));
        return out;
    };
    const std::vector<uint8_t> plain = NewSetupFile();
    std::vector<uint8_t> old = FileOfVersion(2.5f, 0, 0, 0);
    old.insert(old.end(), good.begin() + 1619, good.end());
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::string problem;
        int16_t swing; // loop 3's, as read
        size_t kept;
    };
    const Case cases[] = {
        {"cut short", std::vector<uint8_t>(good.begin(), good.end() - 1),
         "the COND chunk runs past the end of the file", 50, 0},
        {"header cut short", with(good.size(), {'S', 'E', 'E', 'D', 4}),
         "the SEED chunk runs past the end of the file", 50, 0},
        {"swing 80", with(swing3, {80, 0}), "loop 3's swing 80 out of range (50 to 75)", 50, 0},
        {"swing 49", with(swing3, {49, 0}), "loop 3's swing 49 out of range (50 to 75)", 50, 0},
        {"D function 4", with(1619 + 24 + 8, {4, 0}), "D dial function 4 out of range (0 to 3)", 50,
         0},
        {"E function 2", with(1619 + 24 + 10, {2, 0}), "E dial function 2 out of range (0 to 1)",
         50, 0},
        {"condition 7", with(1619 + 36 + 8, {7, 0}), "loop 0's step 0 condition 7 unknown", 50, 0},
        {"wrong length", with(1619 + 4, {14}), "the SWNG chunk holds 14 bytes, not 16", 50, 0},
        {"twice", with(1619 + 24, {'S', 'W', 'N', 'G'}), "the SWNG chunk is stored twice", 50, 0},
        {"junk after", with(good.size(), {1, 2, 3}), "bytes that are no chunk after the last one",
         50, 0},
        {"unknown chunk", with(good.size(), kUnknownChunk), "", 60, 1},
        // Bytes an earlier version left after its sound folder load as before.
        {"junk", with(plain.size(), {1, 'S', 'W', 'N', 'G'}), "", 50, 0},
        {"junk that starts like a chunk", with(plain.size(), {'X', 'T', 'R', 'A', 9}), "", 50, 0},
        {"before 9001", old, "", 50, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto read = SetupFileFormat::Read(c.bytes);
        ASSERT_EQ(read.status, SetupFileFormat::Status::kOk);
        EXPECT_EQ(read.grooveProblem, c.problem);
        EXPECT_EQ(read.record.loops[3].swing, c.swing);
        EXPECT_EQ(read.record.keptChunks.size(), c.kept);
        if (!c.problem.empty()) {
            EXPECT_EQ(read.record.dDial, 0);
            EXPECT_EQ(read.record.bpm, 99.5);
        }
    }
}

} // namespace
} // namespace mb
