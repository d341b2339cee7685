// A step column: its children's ranges and first values, SetItem and GetItem, hidden
// columns that stay hidden while a loop is loaded, the id routing and the step light.
#include <gtest/gtest.h>

#include "PanelTestSupport.h"
#include "model/StepParam.h"
#include "panel/MStepColumn.h"
#include "widgets/ColorScheme.h"
#include "widgets/WidgetEvent.h"

namespace mb {
namespace {

constexpr int kId = 10000 + 100 * 3;
constexpr Color kBase = MakeColor(200, 120, 40);

class StepColumnTest : public ::testing::Test {
protected:
    void SetUp() override { column.Create(kId, "4", 94 + 38 * 3, 2, &owner); }

    // A part that shows on screen: a slider of size 0 x 0 is visible but paints nothing.
    static bool Shows(const MWnd& w) { return w.IsVisible() && !w.GetRect().IsEmpty(); }

    // Every child, and every part of every dial, that can show.
    bool AnythingVisible() {
        if (column.IsVisible() || column.Label().IsVisible() || column.Toggle().IsVisible())
            return true;
        for (int code : {kParamPitch, kParamSound, kParamVolume, kParamPan, kParamDValue}) {
            MDial& dial = *column.Dial(code);
            if (Shows(dial) || Shows(dial.UpArrow()) || Shows(dial.DownArrow()) ||
                Shows(dial.Slider()) || !dial.Field().isHidden())
                return true;
        }
        return false;
    }

    test::PanelOwner owner;
    test::FakeKeyboard keyboard;
    MStepColumn column;
};

TEST_F(StepColumnTest, ChildrenStartWithTheirFirstValuesAndRanges) {
    EXPECT_EQ(column.GetRect(), (Rect{208, 2, 245, 164}));
    EXPECT_EQ(column.GetItem(kParamOn), 1);
    struct Case {
        int code;
        int first;
        int minimum;
        int maximum;
    };
    const Case cases[] = {
        {kParamPitch, 63, -59, 67}, {kParamSound, 63, 0, 127},  {kParamVolume, 100, 0, 127},
        {kParamPan, 64, 0, 127},    {kParamDValue, 64, 0, 127},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(column.GetItem(c.code), c.first) << c.code;
        EXPECT_EQ(column.Dial(c.code)->GetMinimum(), c.minimum) << c.code;
        EXPECT_EQ(column.Dial(c.code)->GetMaximum(), c.maximum) << c.code;
    }
    EXPECT_EQ(column.Dial(kParamSound)->Field().GetText(), "64");
    // Only the pitch and sound dials show a number field; pan and D have no arrows.
    EXPECT_FALSE(column.Dial(kParamPitch)->Field().isHidden());
    EXPECT_TRUE(column.Dial(kParamVolume)->Field().isHidden());
    EXPECT_FALSE(column.Dial(kParamPan)->UpArrow().IsVisible());
    EXPECT_TRUE(column.Dial(kParamVolume)->UpArrow().IsVisible());
    EXPECT_EQ(column.Child(kParamOn), &column.Toggle());
    EXPECT_EQ(column.Child(70), nullptr);
}

TEST_F(StepColumnTest, SetItemClampsAndGetItemReadsBack) {
    struct Case {
        int code;
        int set;
        const char* shown;
        int read;
    };
    const Case cases[] = {
        {kParamPitch, 100, "67", 67},   {kParamPitch, -60, "-59", -59}, {kParamSound, 0, "1", 0},
        {kParamSound, 127, "128", 127}, {kParamSound, 200, "128", 127},
    };
    for (const Case& c : cases) {
        column.SetItem(c.code, c.set);
        EXPECT_EQ(column.Dial(c.code)->Field().GetText(), c.shown) << c.code << " " << c.set;
        EXPECT_EQ(column.GetItem(c.code), c.read) << c.code << " " << c.set;
    }
    column.SetItem(kParamVolume, -5);
    EXPECT_EQ(column.GetItem(kParamVolume), 0);
    column.SetItem(kParamOn, 5);
    EXPECT_EQ(column.GetItem(kParamOn), 1);
    column.SetItem(kParamOn, 0);
    EXPECT_EQ(column.GetItem(kParamOn), 0);
}

TEST_F(StepColumnTest, LoadingIntoAHiddenDetachedColumnShowsNothing) {
    column.Hide();
    ASSERT_FALSE(AnythingVisible());
    column.SetAttached(false);
    for (int code : {kParamOn, kParamPitch, kParamSound, kParamVolume, kParamPan, kParamDValue})
        column.SetItem(code, 1);
    column.SetAttached(true);
    EXPECT_FALSE(AnythingVisible());
    EXPECT_EQ(column.GetItem(kParamPitch), 1);
    column.Show();
    EXPECT_TRUE(column.Dial(kParamPitch)->UpArrow().IsVisible());
    EXPECT_FALSE(column.Dial(kParamPan)->UpArrow().IsVisible());
}

TEST_F(StepColumnTest, ChildEventsReachTheDialThatSentThem) {
    column.SetItem(kParamPitch, 10);
    column.SetItem(kParamSound, 10);
    column.OnChildEvent(kId + kParamPitch + MDial::kUpPart);
    column.OnChildEvent(kId + kParamSound + MDial::kDownPart);
    EXPECT_EQ(column.GetItem(kParamPitch), 11);
    EXPECT_EQ(column.GetItem(kParamSound), 9);
    // The pan slider reports its value through the dial.
    const Rect pan = column.Dial(kParamPan)->Slider().GetRect();
    owner.Mouse(WidgetEvent::kLeftPress, pan.left, pan.top + 1);
    ASSERT_FALSE(owner.reports.empty());
    EXPECT_EQ(owner.reports.back().id, kId + kParamPan + MDial::kSliderPart);
    column.OnChildEvent(owner.reports.back().id);
    EXPECT_EQ(column.GetItem(kParamPan), 0);
    // Ids beyond a dial's parts change nothing.
    column.OnChildEvent(kId + kParamPitch + 7);
    EXPECT_EQ(column.GetItem(kParamPitch), 11);
}

TEST_F(StepColumnTest, StepLightUsesTheColumnsSchemeAndGoesOutOnRecolouring) {
    column.ApplyColor(kBase);
    const ColorScheme& s = column.Scheme();
    column.SetLit(true);
    EXPECT_EQ(column.Label().GetInk(), s.GetColor(2));
    EXPECT_EQ(column.Label().GetPaper(), s.GetColor(7));
    const Rect label = column.Label().GetRect();
    EXPECT_EQ(test::PixelAt(owner.Grab(), label.left, label.top), s.GetColor(7));
    column.ApplyColor(kBase);
    EXPECT_FALSE(column.IsLit());
    EXPECT_EQ(column.Label().GetInk(), s.GetColor(6));
    EXPECT_EQ(test::PixelAt(owner.Grab(), label.left, label.top), s.GetColor(5));
}

TEST_F(StepColumnTest, RecolouringShowsAHiddenColumnButNotItsUnusedParts) {
    column.Hide();
    column.ApplyColor(kBase);
    EXPECT_TRUE(column.IsVisible());
    EXPECT_TRUE(column.Dial(kParamVolume)->Slider().IsVisible());
    EXPECT_TRUE(column.Dial(kParamVolume)->Field().isHidden());
    EXPECT_FALSE(column.Dial(kParamDValue)->DownArrow().IsVisible());
    EXPECT_EQ(column.GetInk(), column.Scheme().GetColor(5));
    EXPECT_EQ(column.GetPaper(), column.Scheme().GetColor(2));
}

} // namespace
} // namespace mb
