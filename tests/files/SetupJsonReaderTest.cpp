#include <gtest/gtest.h>

#include "files/SetupFileFormat.h"
#include "files/SetupJson.h"
#include "files/SetupJsonReader.h"
#include "model/Setup.h"

namespace mb {
namespace {

std::vector<uint8_t> FileOf(const mb::Setup& setup, const SetupFace& face = {}) {
    return SetupFileFormat::Write(SetupRecord::FromSetup(setup, face));
}

TEST(SetupJsonReader, ReadsWhatSetupJsonWritesAndNewSetupValuesForMissingKeys) {
    mb::Setup setup;
    setup.bpm = 97.125;
    setup.legacyA = -7;
    setup.muted = 1;
    setup.stepCount = 11;
    setup.eValue = -12;
    setup.soundFolder = "C:\\Kits\\\"Q\" \u00E9";
    setup.loop(6).nextLoop = 2;
    setup.loop(6).swing = 75;
    setup.loop(6).steps[9].volume = 500; // kept as stored
    setup.loop(6).steps[9].condition = StepCondition::Ratio(3, 7).Code();
    setup.loop(1).steps[0].condition = StepCondition::kNotLast;
    setup.dDial = 3;
    setup.eDial = 1;
    setup.seed = 4294967295u;
    setup.keptChunks = {{'X', 'T', 'R', 'A', 2, 0, 0, 0, 0xFF, 0}};
    const SetupFace face{0xFFFFFFFFu, -1200, 45};
    const auto read = SetupJsonReader::Read(SetupJson::Write(setup, face));
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(SetupFileFormat::Write(read.record), FileOf(setup, face));

    mb::Setup fresh;
    EXPECT_EQ(SetupFileFormat::Write(SetupJsonReader::Read("{}").record), FileOf(fresh));
    fresh.bpm = 90.0;
    fresh.loop(1).swing = 66;
    fresh.loop(1).steps[2].condition = StepCondition::kFirst;
    const auto partial = SetupJsonReader::Read(
        R"({"bpm": 90, "loops": [{}, {"swing": 66, "steps": [{}, {}, {"condition": "first"}]}]})");
    ASSERT_EQ(partial.error, "");
    EXPECT_EQ(SetupFileFormat::Write(partial.record), FileOf(fresh));
}

TEST(SetupJsonReader, RefusesUnknownKeysAndBadValuesByTheirPath) {
    struct Case {
        const char* json;
        const char* error;
    };
    const Case cases[] = {
        {R"({"tempo": 1})", "tempo: unknown key"},
        {R"({"loops": [{"steps": [{"pitch": 1, "fx": 2}]}]})", "loops[0].steps[0].fx: unknown key"},
        {R"({"loops": [{}, {}, {"steps": [{}, {}, {}, {}, {}, {"condition": "9:4"}]}]})",
         R"(loops[2].steps[5].condition: "9:4" is not a condition)"},
        {R"({"loops": [{"swing": 80}]})", "loops[0].swing: 80 out of range (50 to 75)"},
        {R"({"loops": [{"nextLoop": 8}]})", "loops[0].nextLoop: 8 out of range (0 to 7)"},
        {R"({"stepCount": 17})", "stepCount: 17 out of range (1 to 16)"},
        {R"({"legacyB": 40000})", "legacyB: 40000 out of range (-32768 to 32767)"},
        {R"({"color": -1})", "color: -1 out of range (0 to 4294967295)"},
        {R"({"seed": 4294967296})", "seed: 4294967296 out of range (0 to 4294967295)"},
        {R"({"muted": 1.5})", "muted: 1.5 is not a whole number"},
        {R"({"bpm": 0.25})", "bpm: 0.25 out of range (0.5 to 1e+07)"},
        {R"({"bpm": "fast"})", R"(bpm: "fast" is not a number)"},
        {R"({"version": null})", "version: null is not a number"},
        {R"({"soundFolder": 3})", "soundFolder: 3 is not a text"},
        {R"({"dDial": "loud"})", R"(dDial: "loud" is not a D dial function)"},
        {R"({"eDial": "chance"})", R"(eDial: "chance" is not an E dial function)"},
        {R"({"loops": [1]})", "loops[0]: 1 is not an object"},
        {R"({"loops": [{}, {}, {}, {}, {}, {}, {}, {}, {}]})", "loops: 9 elements, at most 8"},
        {R"({"keptChunks": ["5357"]})",
         "keptChunks[0]: a chunk begins with four printable ASCII characters and a 32-bit length"},
        {R"({"keptChunks": ["53574e4700000000"]})",
         "keptChunks[0]: the SWNG chunk is not one to keep"},
        {R"({"keptChunks": ["585452410100000000ff"]})",
         "keptChunks[0]: the XTRA chunk's length is not that of its content"},
        {R"({"keptChunks": ["5x"]})", R"(keptChunks[0]: "5x" is not hexadecimal bytes)"},
        {"[1]", "not a setup: [1] is not an object"},
        {R"({"bpm": })", "not JSON: parse error at line 1, column 9: syntax error while parsing "
                         "value - unexpected '}'; expected '[', '{', or a literal"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SetupJsonReader::Read(c.json).error, c.error) << c.json;
}

} // namespace
} // namespace mb
