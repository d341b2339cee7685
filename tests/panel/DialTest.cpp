// The dial's value rules: clamping, the display offset, Ctrl steps, typing with and without
// clamp while typing, and parts that stay hidden.
#include <string>

#include <gtest/gtest.h>

#include "PanelTestSupport.h"
#include "panel/MDial.h"
#include "widgets/WidgetEvent.h"

namespace mb {
namespace {

constexpr int kId = 2000;

// Arrows beside a number field, as the step pitch and sound dials have them.
MDial::Layout NumberLayout(int minimum, int maximum, int ctrlStep) {
    MDial::Layout l;
    l.upName = "UPARROW";
    l.downName = "DNARROW";
    l.downDy = 9;
    l.fieldDx = 7;
    l.fieldDy = 2;
    l.fieldWidth = 21;
    l.fieldHeight = 15;
    l.minimum = minimum;
    l.maximum = maximum;
    l.ctrlStep = ctrlStep;
    return l;
}

class DialTest : public ::testing::Test {
protected:
    // Clicks a part of the dial as the owner would: press and release on it, then the
    // owner hands the reported id back to the dial.
    void Click(MDial& dial, const MWnd& part) {
        const Rect r = part.GetRect();
        owner.Mouse(WidgetEvent::kLeftPress, r.left, r.top);
        owner.Mouse(WidgetEvent::kLeftRelease, r.left, r.top);
        ASSERT_FALSE(owner.reports.empty());
        dial.OnChild(owner.reports.back().id);
    }
    std::string Text(MDial& dial) { return dial.Field().GetText(); }

    test::PanelOwner owner;
    test::FakeKeyboard keyboard;
};

TEST_F(DialTest, CreationShowsTheMiddleAndSetValueClamps) {
    MDial dial;
    dial.Create(kId, 10, 10, NumberLayout(-59, 67, 12), &owner);
    EXPECT_EQ(Text(dial), "63");
    struct Case {
        int asked;
        int shown;
    };
    for (const Case c : {Case{100, 67}, Case{-100, -59}, Case{5, 5}, Case{67, 67}}) {
        dial.SetValue(c.asked);
        EXPECT_EQ(dial.GetValue(), c.shown) << c.asked;
        EXPECT_EQ(Text(dial), std::to_string(c.shown)) << c.asked;
        EXPECT_EQ(dial.Slider().GetValue(), c.shown) << c.asked;
    }
}

TEST_F(DialTest, SetValueQuietMovesTheSliderButNotTheText) {
    MDial dial;
    dial.Create(kId, 10, 10, NumberLayout(0, 127, 10), &owner);
    dial.SetValue(10);
    dial.SetValueQuiet(500);
    EXPECT_EQ(dial.GetValue(), 127);
    EXPECT_EQ(dial.Slider().GetValue(), 127);
    EXPECT_EQ(Text(dial), "10");
}

TEST_F(DialTest, DisplayOffsetShiftsShownAndTypedNumbers) {
    MDial dial;
    dial.Create(kId, 10, 10, NumberLayout(0, 127, 10), &owner);
    dial.SetImmediate(true);
    dial.SetDisplayOffset(1);
    dial.SetValue(0);
    EXPECT_EQ(Text(dial), "1");
    EXPECT_EQ(dial.ReadValue(), 0);
    dial.Field().clear();
    test::Type(dial.Field(), "5");
    EXPECT_EQ(dial.GetValue(), 4);
    EXPECT_EQ(Text(dial), "5");
}

TEST_F(DialTest, ArrowsStepByOneOrByTheCtrlStepWithinTheRange) {
    MDial dial;
    dial.Create(kId, 10, 10, NumberLayout(-59, 67, 12), &owner);
    struct Case {
        int from;
        bool ctrl;
        bool up;
        int to;
    };
    const Case cases[] = {
        {60, false, true, 61}, {60, true, true, 67},    {67, false, true, 67},
        {0, true, false, -12}, {-50, true, false, -59}, {-59, false, false, -59},
    };
    for (const Case& c : cases) {
        dial.SetValue(c.from);
        keyboard.ctrl = c.ctrl;
        Click(dial, c.up ? dial.UpArrow() : dial.DownArrow());
        EXPECT_EQ(dial.GetValue(), c.to) << c.from << (c.ctrl ? " ctrl" : "");
        EXPECT_EQ(Text(dial), std::to_string(c.to));
    }
}

TEST_F(DialTest, ClampWhileTypingRewritesAnOutOfRangeNumberAtOnce) {
    MDial dial;
    dial.Create(kId, 10, 10, NumberLayout(0, 127, 10), &owner);
    dial.SetImmediate(true);
    dial.Field().clear();
    test::Type(dial.Field(), "200");
    EXPECT_EQ(Text(dial), "127");
    EXPECT_EQ(dial.GetValue(), 127);
    // Each keystroke is committed to the owner after the dial has seen it.
    ASSERT_FALSE(owner.reports.empty());
    EXPECT_EQ(owner.reports.back(), (test::Report{WidgetEvent::kFieldCommit, kId + 3}));

    // A sign alone is no number yet: the value stays.
    dial.Field().clear();
    test::Type(dial.Field(), "-");
    EXPECT_EQ(dial.GetValue(), 127);
}

TEST_F(DialTest, ClampWhileTypingRaisesATooSmallNumberToTheMinimum) {
    MDial dial;
    dial.Create(kId, 10, 10, NumberLayout(1, 8, 1), &owner);
    dial.SetImmediate(true);
    dial.Field().clear();
    test::Type(dial.Field(), "-5");
    EXPECT_EQ(dial.GetValue(), 1);
    EXPECT_EQ(Text(dial), "1");
}

TEST_F(DialTest, WithoutClampWhileTypingTheValueWaitsForTheFocusToLeave) {
    MDial dial;
    dial.Create(kId, 10, 10, NumberLayout(0, 127, 10), &owner);
    dial.SetImmediate(false);
    dial.SetValue(20);
    dial.Field().clear();
    test::Type(dial.Field(), "200");
    EXPECT_EQ(dial.GetValue(), 20);
    EXPECT_EQ(Text(dial), "200");
    test::Leave(dial.Field());
    EXPECT_EQ(Text(dial), "127");
    EXPECT_EQ(dial.GetValue(), 127);
    // The deferred commit comes after the focus-lost report.
    ASSERT_GE(owner.reports.size(), 2u);
    EXPECT_EQ(owner.reports[owner.reports.size() - 2],
              (test::Report{WidgetEvent::kFieldLeave, kId + 3}));
    EXPECT_EQ(owner.reports.back(), (test::Report{WidgetEvent::kFieldCommit, kId + 3}));
}

TEST_F(DialTest, LeavingTheFieldNormalisesItsText) {
    MDial dial;
    dial.Create(kId, 10, 10, NumberLayout(-59, 67, 12), &owner);
    struct Case {
        const char* typed;
        const char* shown;
    };
    for (const Case c : {Case{"007", "7"}, Case{"12ab", "12"}, Case{"  -3", "-3"},
                         Case{"xyz", "-3"}, Case{"99999999999", "67"}}) {
        dial.Field().setText(c.typed);
        test::Leave(dial.Field());
        EXPECT_EQ(Text(dial), c.shown) << c.typed;
    }
}

TEST_F(DialTest, ReadValueTakesTheTextUnclamped) {
    MDial dial;
    dial.Create(kId, 10, 10, NumberLayout(0, 127, 10), &owner);
    dial.Field().setText("300");
    EXPECT_EQ(dial.ReadValue(), 300);
    EXPECT_EQ(dial.GetValue(), 300);
}

TEST_F(DialTest, PartsLeftOutStayHiddenThroughLaterShows) {
    MDial::Layout bar;
    bar.minimum = 0;
    bar.maximum = 127;
    bar.sliderWidth = 27;
    bar.sliderHeight = 7;
    bar.thumbWidth = 5;
    bar.horizontal = true;
    MDial dial;
    dial.Create(kId, 10, 10, bar, &owner);
    dial.HideField();
    dial.HideArrows();
    dial.Hide();
    dial.Show();
    dial.SetColors(1, 2, 3, 4, 5, 6, 7);
    dial.SetTransparent(false);
    EXPECT_TRUE(dial.IsVisible());
    EXPECT_TRUE(dial.Slider().IsVisible());
    EXPECT_FALSE(dial.UpArrow().IsVisible());
    EXPECT_FALSE(dial.DownArrow().IsVisible());
    EXPECT_TRUE(dial.Field().isHidden());
}

TEST_F(DialTest, RecolouringADetachedOrHiddenDialShowsNoPart) {
    MDial dial;
    dial.Create(kId, 10, 10, NumberLayout(0, 127, 10), &owner);
    dial.Hide();
    dial.SetColors(1, 2, 3, 4, 5, 6, 7);
    EXPECT_FALSE(dial.IsVisible());
    EXPECT_FALSE(dial.UpArrow().IsVisible());
    EXPECT_TRUE(dial.Field().isHidden());
    dial.SetAttached(false);
    dial.SetValue(3);
    EXPECT_FALSE(dial.UpArrow().IsVisible());
    EXPECT_EQ(Text(dial), "3");
}

TEST_F(DialTest, SliderDragSetsTheValueAndTheTextFollows) {
    MDial::Layout l = NumberLayout(0, 100, 10);
    l.sliderDy = 20;
    l.sliderWidth = 100;
    l.sliderHeight = 6;
    l.horizontal = true;
    MDial dial;
    dial.Create(kId, 0, 0, l, &owner);
    const Rect r = dial.Slider().GetRect();
    std::vector<int> seen;
    for (int event : {WidgetEvent::kLeftPress, WidgetEvent::kMove, WidgetEvent::kMove,
                      WidgetEvent::kLeftRelease}) {
        const int x = r.left + 10 * static_cast<int>(seen.size() + 1);
        owner.reports.clear();
        owner.Mouse(event, x, r.top + 2);
        ASSERT_EQ(owner.reports.size(), 1u);
        dial.OnChild(owner.reports.back().id);
        seen.push_back(dial.GetValue());
        EXPECT_EQ(Text(dial), std::to_string(dial.GetValue()));
    }
    EXPECT_EQ(seen, (std::vector<int>{10, 20, 30, 40}));
}

TEST_F(DialTest, OpaqueDialFillsItsRectBehindItsParts) {
    MDial dial;
    dial.Create(kId, 10, 10, NumberLayout(0, 127, 10), &owner);
    constexpr Color kOwn = MakeColor(1, 2, 3);
    dial.SetColors(MakeColor(200, 0, 0), MakeColor(0, 200, 0), 0, kOwn, 0, 0, 0);
    dial.Field().hide();
    const Rect field = dial.Field().GetRect();
    EXPECT_NE(test::PixelAt(owner.Grab(), field.left + 1, field.top + 1), kOwn);
    dial.SetTransparent(false);
    EXPECT_EQ(test::PixelAt(owner.Grab(), field.left + 1, field.top + 1), kOwn);
}

} // namespace
} // namespace mb
