// The tempo in beats per minute and samples per measure, its arrows and typed tempos.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "PanelTestSupport.h"
#include "panel/MTempoField.h"

namespace mb {
namespace {

constexpr int kId = 1005;

class TempoFieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        field.Create(kId, 18, 146, &owner);
        field.SetTransparent(false);
        field.SetImmediate(false);
    }
    std::string Text() { return field.Field().GetText(); }
    void Arrow(int delta, bool ctrl = false) {
        keyboard.ctrl = ctrl;
        field.OnChild(kId + (delta > 0 ? MDial::kUpPart : MDial::kDownPart));
    }

    test::PanelOwner owner;
    test::FakeKeyboard keyboard;
    MTempoField field;
};

TEST_F(TempoFieldTest, ShowsTheTempoInEitherUnit) {
    EXPECT_EQ(Text(), "126");
    EXPECT_EQ(field.GetTempo(), 126.0);
    field.SetUnit(kTempoUnitSamples);
    EXPECT_EQ(Text(), "42000");
    field.SetUnit(kTempoUnitBpm);
    EXPECT_EQ(Text(), "126");
    struct Case {
        double bpm;
        int unit;
        const char* shown;
    };
    for (const Case c : {Case{120.0, 1, "44100"}, Case{100.5, 0, "100.500"},
                         Case{11.0, 1, "481090.906"}, Case{0.5, 1, "10584000"}}) {
        field.SetUnit(c.unit);
        field.SetTempo(c.bpm);
        EXPECT_EQ(Text(), c.shown) << c.bpm;
    }
}

TEST_F(TempoFieldTest, ArrowsMoveBySemitonesOrWithCtrlByOctaves) {
    struct Case {
        int delta;
        bool ctrl;
        const char* shown;
    };
    for (const Case c : {Case{+1, false, "133.492"}, Case{-1, false, "118.928"},
                         Case{+1, true, "252"}, Case{-1, true, "63"}}) {
        field.SetTempo(126.0);
        Arrow(c.delta, c.ctrl);
        EXPECT_EQ(Text(), c.shown) << c.delta << (c.ctrl ? " ctrl" : "");
    }
    // The dial's own integer is never stepped.
    EXPECT_EQ(field.GetValue(), 500000);
}

TEST_F(TempoFieldTest, ArrowsKeepTheTempoBetweenTheLimits) {
    field.SetTempo(0.7);
    Arrow(-1, true);
    EXPECT_EQ(field.GetTempo(), MTempoField::kMinimum);
    Arrow(-1);
    EXPECT_EQ(field.GetTempo(), MTempoField::kMinimum);
    field.SetTempo(6000000.0);
    Arrow(+1, true);
    EXPECT_EQ(field.GetTempo(), MTempoField::kMaximum);
    EXPECT_EQ(Text(), "10000000");
}

TEST_F(TempoFieldTest, UpArrowLowersTheSamplesPerMeasure) {
    field.SetUnit(kTempoUnitSamples);
    field.SetTempo(120.0);
    Arrow(+1, true);
    EXPECT_EQ(field.GetTempo(), 240.0);
    EXPECT_EQ(Text(), "22050");
}

TEST_F(TempoFieldTest, TypedSamplesPerMeasureBecomeBeatsPerMinuteWhenTheFieldIsLeft) {
    field.SetUnit(kTempoUnitSamples);
    field.SetTempo(120.0);
    EXPECT_EQ(Text(), "44100");
    field.Field().clear();
    test::Type(field.Field(), "88200");
    EXPECT_EQ(field.GetTempo(), 120.0);
    test::Leave(field.Field());
    EXPECT_EQ(field.GetTempo(), 60.0);
    EXPECT_EQ(Text(), "88200");
}

TEST_F(TempoFieldTest, LeavingAnUntouchedFieldChangesNothing) {
    // 5292000 / 127 is not whole, so the text is not the exact conversion.
    field.SetTempo(127.0);
    field.SetUnit(kTempoUnitSamples);
    const std::string before = Text();
    test::Leave(field.Field());
    EXPECT_EQ(field.GetTempo(), 127.0);
    EXPECT_EQ(Text(), before);
    field.SetUnit(kTempoUnitBpm);
    field.SetTempo(133.4921875);
    test::Leave(field.Field());
    EXPECT_EQ(field.GetTempo(), 133.4921875);
}

TEST_F(TempoFieldTest, TypedTemposOutsideTheArrowRangeAreLimited) {
    struct Case {
        int unit;
        const char* typed;
        double tempo;
    };
    const Case cases[] = {
        {0, "0", MTempoField::kMinimum},    {0, "-20", MTempoField::kMinimum},
        {0, "abc", MTempoField::kMinimum},  {0, "99999999", MTempoField::kMaximum},
        {1, "0", MTempoField::kMaximum},    {0, "97.5", 97.5},
        {0, "1e39", MTempoField::kMaximum}, {0, "-inf", MTempoField::kMinimum},
    };
    for (const Case& c : cases) {
        field.SetUnit(c.unit);
        field.SetTempo(126.0);
        field.Field().setText(c.typed);
        test::Leave(field.Field());
        EXPECT_EQ(field.GetTempo(), c.tempo) << c.typed;
    }
}

TEST_F(TempoFieldTest, TextThatIsNoNumberAtAllKeepsTheTempo) {
    field.Field().setText("nan");
    test::Leave(field.Field());
    EXPECT_EQ(field.GetTempo(), 126.0);
    EXPECT_EQ(Text(), "126");
}

TEST_F(TempoFieldTest, ATempoSetFromOutsideIsMendedAndTheArrowsWorkOnIt) {
    field.SetTempo(97.0);
    field.SetTempo(std::nan(""));
    EXPECT_EQ(Text(), "126");
    Arrow(+1);
    EXPECT_EQ(Text(), "133.492");
    field.SetTempo(1e300);
    EXPECT_EQ(Text(), "10000000");
}

} // namespace
} // namespace mb
