// The seven scheme colours derived from a base colour, and the colour picker step.
#include <array>

#include <gtest/gtest.h>

#include "WidgetTestSupport.h"
#include "widgets/ColorScheme.h"

namespace mb {
namespace {

struct Rgb {
    int r, g, b;
};

struct SchemeCase {
    const char* what;
    Rgb base;
    ColorScheme::Hsv hsv;
    std::array<Rgb, ColorScheme::kColorCount> colors;
};

const SchemeCase kSchemeCases[] = {
    {"black: hue 0, dark column",
     {0, 0, 0},
     {0, 0, 0},
     {{{229, 160, 172},
       {178, 107, 166},
       {38, 7, 7},
       {153, 76, 61},
       {102, 56, 56},
       {0, 0, 0},
       {118, 89, 178}}}},
    {"value exactly 70 %: dark column",
     {179, 0, 0},
     {0, 100, 70},
     {{{229, 160, 172},
       {178, 107, 166},
       {38, 7, 7},
       {153, 76, 61},
       {102, 56, 56},
       {0, 0, 0},
       {118, 89, 178}}}},
    {"value 71 %: light column",
     {182, 0, 0},
     {0, 100, 71},
     {{{76, 102, 51},
       {178, 71, 89},
       {255, 229, 229},
       {127, 95, 191},
       {255, 178, 178},
       {84, 68, 114},
       {153, 132, 91}}}},
    {"hue 30: colour 4 wraps to hue 290",
     {255, 128, 0},
     {30, 100, 100},
     {{{51, 102, 51},
       {178, 107, 71},
       {255, 242, 229},
       {175, 95, 191},
       {255, 216, 178},
       {107, 68, 114},
       {142, 153, 91}}}},
    {"a dark blue",
     {40, 60, 120},
     {225, 66, 47},
     {{{160, 189, 229},
       {107, 178, 172},
       {7, 15, 38},
       {61, 68, 153},
       {56, 67, 102},
       {0, 0, 0},
       {89, 178, 96}}}},
};

class ColorSchemeTest : public ::testing::TestWithParam<SchemeCase> {
protected:
    void SetUp() override { test::EnsureApplication(); }
};

TEST_P(ColorSchemeTest, DerivesTheSevenColours) {
    const SchemeCase& c = GetParam();
    const Color base = MakeColor(c.base.r, c.base.g, c.base.b);
    const ColorScheme::Hsv hsv = ColorScheme::ToHsv(base);
    EXPECT_EQ(hsv.hue, c.hsv.hue);
    EXPECT_EQ(hsv.saturation, c.hsv.saturation);
    EXPECT_EQ(hsv.value, c.hsv.value);

    ColorScheme scheme;
    scheme.SetBase(base);
    for (int n = 1; n <= ColorScheme::kColorCount; ++n) {
        const Rgb& want = c.colors[static_cast<size_t>(n - 1)];
        EXPECT_EQ(scheme.GetColor(n), MakeColor(want.r, want.g, want.b)) << "colour " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Bases,
                         ColorSchemeTest,
                         ::testing::ValuesIn(kSchemeCases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(ColorSchemeHsv, HueArgumentsWrapOnceAndLimitsHold) {
    struct Case {
        int hue, saturation, value;
        Rgb rgb;
    };
    const Case cases[] = {
        {-70, 100, 100, {212, 0, 255}}, // -70 is 290
        {-400, 100, 100, {255, 0, 0}},  // still negative after one wrap: hue 0
        {360, 100, 100, {255, 0, 0}},   // exactly 360 counts as 0
        {450, 100, 100, {127, 255, 0}}, // 450 is 90
        {120, 0, 50, {127, 127, 127}},  // no saturation: grey
        {0, 150, 120, {255, 0, 0}},     // saturation and value limited to 100 %
    };
    for (const Case& c : cases)
        EXPECT_EQ(ColorScheme::FromHsv(c.hue, c.saturation, c.value),
                  MakeColor(c.rgb.r, c.rgb.g, c.rgb.b))
            << c.hue << " " << c.saturation << " " << c.value;
}

} // namespace
} // namespace mb
