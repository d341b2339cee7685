#include <gtest/gtest.h>

#include <cmath>

#include "TempFolder.h"
#include "files/SetupDocument.h"
#include "files/SetupJson.h"
#include "model/Setup.h"

namespace mb {
namespace {

TEST(SetupJson, FieldsInFileOrderWithExactValues) {
    mb::Setup setup;
    setup.fileVersion = 1.1f;
    setup.bpm = 0.1;
    setup.loop(7).steps[15].pan = 3;
    setup.loop(7).steps[15].condition = StepCondition::Ratio(2, 4).Code();
    setup.loop(7).swing = 66;
    setup.dDial = static_cast<int16_t>(DDial::kDelay);
    setup.keptChunks = {{'X', 'T', 'R', 'A', 1, 0, 0, 0, 0xAB}};
    const std::string json = SetupJson::Write(setup, {0x00FF0000, -5, 12});
    const char* order[] = {"\"version\": 1.1,",
                           "\"tempoUnit\": 0,",
                           "\"bpm\": 0.1,",
                           "\"legacyA\": 0,",
                           "\"legacyB\": 1,",
                           "\"selectedLoop\": 0,",
                           "\"muted\": 0,",
                           "\"color\": 16711680,",
                           "\"loops\": [",
                           "\"repeatCount\": 1, \"swing\": 66, \"steps\": [",
                           "\"pan\": 3, \"dValue\": 64, \"condition\": \"2:4\"}\n    ]}\n  ],",
                           "\"windowX\": -5,",
                           "\"windowY\": 12,",
                           "\"stepCount\": 16,",
                           "\"polyphonic\": 0,",
                           "\"masterVolume\": 80,",
                           "\"eValue\": 0,",
                           "\"soundFolder\": \"\",",
                           "\"dDial\": \"delay\",",
                           "\"eDial\": \"nothing\",",
                           "\"seed\": 0,",
                           "\"keptChunks\": [\"58545241010000"
                           "00ab\"]\n}"};
    size_t at = 0;
    for (const char* piece : order) {
        const size_t found = json.find(piece, at);
        ASSERT_NE(found, std::string::npos) << piece << "\n" << json;
        at = found;
    }
    // Eight loops of sixteen steps.
    size_t steps = 0;
    for (size_t p = json.find("\"on\""); p != std::string::npos; p = json.find("\"on\"", p + 1))
        ++steps;
    EXPECT_EQ(steps, 128u);
}

TEST(SetupJson, TextsAreEscapedAndNonFiniteTemposAreNull) {
    mb::Setup setup;
    setup.bpm = std::nan("");
    setup.soundFolder = "C:\\Kits\\\"Q\"\n\x01\xFF\u00E9";
    const std::string json = SetupJson::Write(setup, {});
    EXPECT_NE(json.find("\"bpm\": null,"), std::string::npos);
    EXPECT_NE(json.find("\"soundFolder\": \"C:\\\\Kits\\\\\\\"Q\\\"\\u000a\\u0001\uFFFD\u00E9\""),
              std::string::npos)
        << json;
}

TEST(SetupJson, FromFileShowsTheSetupAsOpenedOrTheError) {
    TempFolder dir;
    mb::Setup setup;
    setup.selectedLoop = 5;
    setup.bpm = std::nan(""); // mended to the default tempo, with a notice
    ASSERT_EQ(SetupDocument::WriteFile(dir / "a.mbx", setup, {7, 8, 9}), "");
    const auto result = SetupJson::FromFile(dir / "a.mbx");
    EXPECT_EQ(result.error, "");
    EXPECT_NE(result.notice.find("(nan) is not a finite number: it is 126 BPM"), std::string::npos)
        << result.notice;
    EXPECT_NE(result.json.find("\"bpm\": 126,"), std::string::npos);
    EXPECT_NE(result.json.find("\"selectedLoop\": 5,"), std::string::npos);
    EXPECT_NE(result.json.find("\"windowY\": 9,"), std::string::npos);

    setup.selectedLoop = 12; // no setup holds it: refused
    ASSERT_EQ(SetupDocument::WriteFile(dir / "c.mbx", setup, {}), "");
    const auto refused = SetupJson::FromFile(dir / "c.mbx");
    EXPECT_EQ(refused.json, "");
    EXPECT_NE(refused.error.find("selected loop 12 out of range"), std::string::npos);

    const auto missing = SetupJson::FromFile(dir / "b.mbx");
    EXPECT_EQ(missing.json, "");
    EXPECT_NE(missing.error.find("b.mbx"), std::string::npos);
}

} // namespace
} // namespace mb
