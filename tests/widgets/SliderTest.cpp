// Slider values from the pointer, clamping at the ends, drags and the painted parts.
#include <gtest/gtest.h>

#include "WidgetTestSupport.h"
#include "widgets/MSlider.h"
#include "widgets/MWnd.h"
#include "widgets/WidgetRegistry.h"

namespace mb {
namespace {

using test::AllPixels;
using test::PixelAt;
using test::Report;
using test::TestOwner;

constexpr Color kInk = MakeColor(200, 0, 0);
constexpr Color kPaper = MakeColor(0, 0, 200);
constexpr Color kThumb = MakeColor(0, 200, 0);
constexpr Color kBehind = MakeColor(250, 250, 0);
constexpr Color kBackground = 0x00808080;
constexpr int kId = 1054;

class SliderTest : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureApplication(); }

    // A slider at (10, 10), 100 x 20 (horizontal) or 20 x 100 (vertical), range 0 to 100.
    void Make(bool horizontal) {
        slider.Create(kId, "bar", 10, 10, horizontal ? 100 : 20, horizontal ? 20 : 100, &owner,
                      horizontal);
        slider.SetRange(0, 100);
        slider.SetColors(kInk, kPaper, kThumb);
    }
    int PressAt(int x, int y) {
        owner.Mouse(WidgetEvent::kLeftPress, x, y);
        const int v = slider.GetValue();
        owner.Mouse(WidgetEvent::kLeftRelease, x, y);
        return v;
    }

    TestOwner owner;
    MSlider slider;
};

TEST_F(SliderTest, PressesGiveTheValueUnderThePointer) {
    struct Case {
        bool horizontal;
        int x, y;
        int value;
    };
    const Case cases[] = {
        {true, 10, 15, 0},    // left edge: minimum
        {true, 60, 15, 50},   // middle
        {true, 109, 15, 99},  // last pixel inside
        {false, 15, 10, 100}, // top edge: maximum
        {false, 15, 60, 50},  {false, 15, 109, 1},
    };
    for (const Case& c : cases) {
        TestOwner freshOwner;
        MSlider s;
        s.Create(kId, "bar", 10, 10, c.horizontal ? 100 : 20, c.horizontal ? 20 : 100, &freshOwner,
                 c.horizontal);
        s.SetRange(0, 100);
        freshOwner.Mouse(WidgetEvent::kLeftPress, c.x, c.y);
        EXPECT_EQ(s.GetValue(), c.value) << c.x << "," << c.y;
        freshOwner.Mouse(WidgetEvent::kLeftRelease, c.x, c.y);
    }
}

TEST_F(SliderTest, DragBeyondTheEndsClampsAndEveryStepIsReported) {
    Make(true);
    owner.Mouse(WidgetEvent::kLeftPress, 60, 15);
    owner.Mouse(WidgetEvent::kMove, -500, 15);
    EXPECT_EQ(slider.GetValue(), 0);
    owner.Mouse(WidgetEvent::kMove, 110, 300);
    EXPECT_EQ(slider.GetValue(), 100);
    owner.Mouse(WidgetEvent::kMove, 5000, 15);
    EXPECT_EQ(slider.GetValue(), 100);
    owner.Mouse(WidgetEvent::kLeftRelease, 35, 900);
    EXPECT_EQ(slider.GetValue(), 25);

    const std::vector<Report> expected = {{WidgetEvent::kLeftPress, kId},
                                          {WidgetEvent::kMove, kId},
                                          {WidgetEvent::kMove, kId},
                                          {WidgetEvent::kMove, kId},
                                          {WidgetEvent::kLeftRelease, kId}};
    EXPECT_EQ(owner.reports, expected);
    EXPECT_GE(owner.captures, 1);
    EXPECT_EQ(owner.releases, 1);
    EXPECT_EQ(WidgetRegistry::Instance().PressedWidget(), nullptr);
    // Moves after the release are nobody's.
    owner.Mouse(WidgetEvent::kMove, 20, 15);
    EXPECT_EQ(slider.GetValue(), 25);
}

TEST_F(SliderTest, SetValueStoresOutOfRangeValuesUnchanged) {
    Make(true);
    slider.SetValue(150);
    EXPECT_EQ(slider.GetValue(), 150);
    slider.SetValue(-7);
    EXPECT_EQ(slider.GetValue(), -7);
    owner.Render(130, 40); // paints without fault
}

TEST_F(SliderTest, EmptyRangeNeitherFaultsNorHangs) {
    slider.Create(kId, "bar", 10, 10, 100, 20, &owner, true);
    slider.SetRange(5, 5);
    slider.SetColors(kInk, kPaper, kThumb);
    owner.Mouse(WidgetEvent::kLeftPress, 60, 15);
    owner.Mouse(WidgetEvent::kMove, 80, 15);
    owner.Mouse(WidgetEvent::kLeftRelease, 90, 15);
    EXPECT_EQ(slider.GetValue(), 5);
    const QImage image = owner.Render(130, 40);
    EXPECT_EQ(PixelAt(image, 100, 15), kPaper);
}

TEST_F(SliderTest, SliderWithoutSizeTakesNoPressAndPaintsNothing) {
    slider.Create(kId, "bar", 10, 10, 0, 0, &owner, false);
    slider.SetColors(kInk, kPaper, kThumb);
    owner.Mouse(WidgetEvent::kLeftPress, 10, 10);
    EXPECT_TRUE(owner.reports.empty());
    EXPECT_TRUE(AllPixels(owner.Render(30, 30, kBackground), {0, 0, 30, 30}, kBackground));
}

TEST_F(SliderTest, HorizontalBarAtMaximumIsAllInkWithTheThumbAcrossTheRightEdge) {
    Make(true);
    slider.SetValue(100);
    const QImage image = owner.Render(130, 40, kBackground);
    EXPECT_TRUE(AllPixels(image, {10, 10, 109, 30}, kInk));
    // Thumb width 2: one pixel inside the bar and one beyond its right edge.
    EXPECT_TRUE(AllPixels(image, {109, 10, 111, 30}, kThumb));
    EXPECT_EQ(PixelAt(image, 111, 15), kBackground);
}

TEST_F(SliderTest, HorizontalBarSplitsInkAndPaperAtTheValue) {
    Make(true);
    slider.SetValue(50);
    slider.SetThumbWidth(0);
    const QImage image = owner.Render(130, 40, kBackground);
    EXPECT_TRUE(AllPixels(image, {10, 10, 60, 30}, kInk));
    EXPECT_TRUE(AllPixels(image, {60, 10, 110, 30}, kPaper));
}

TEST_F(SliderTest, VerticalPartsInNoColorShowWhatLiesBehind) {
    MWnd behind;
    behind.Create(0, "", 0, 0, 40, 120, &owner);
    behind.SetColors(kBehind, kBehind);
    Make(false);
    slider.SetValue(50);
    slider.SetColors(kInk, kNoColor, kThumb);
    const QImage image = owner.Render(40, 120, kBackground);
    EXPECT_TRUE(AllPixels(image, {10, 10, 30, 59}, kBehind));
    EXPECT_TRUE(AllPixels(image, {10, 59, 30, 61}, kThumb));
    EXPECT_TRUE(AllPixels(image, {10, 61, 30, 110}, kInk));

    slider.SetColors(kNoColor, kPaper, kThumb);
    const QImage second = owner.Render(40, 120, kBackground);
    EXPECT_TRUE(AllPixels(second, {10, 10, 30, 59}, kPaper));
    EXPECT_TRUE(AllPixels(second, {10, 61, 30, 110}, kBehind));
}

} // namespace
} // namespace mb
