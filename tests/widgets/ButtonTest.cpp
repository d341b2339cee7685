// Press, drag out and back, release: the events the owner hears and the looks on screen.
#include <memory>

#include <gtest/gtest.h>

#include "WidgetTestSupport.h"
#include "widgets/Canvas.h"
#include "widgets/MBmpButton.h"
#include "widgets/MButton.h"
#include "widgets/MToggleButton.h"
#include "widgets/MonoPicture.h"
#include "widgets/WidgetRegistry.h"

namespace mb {
namespace {

using test::AllPixels;
using test::PixelAt;
using test::Report;
using test::TestOwner;

constexpr Color kInk = MakeColor(10, 20, 30);
constexpr Color kPaper = MakeColor(220, 210, 200);
constexpr Color kPressedInk = MakeColor(200, 0, 0);
constexpr Color kPressedPaper = MakeColor(0, 0, 200);
constexpr int kId = 1000;

class ButtonTest : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureApplication(); }

    // True when rect of image shows the named skin in the two colours.
    static bool ShowsSkin(
        const QImage& image, const Rect& rect, const std::string& name, Color ink, Color paper) {
        const QImage expected = Canvas::Colorize(*MonoPicture::LoadSkin(name), ink, paper);
        if (expected.width() != rect.Width() || expected.height() != rect.Height())
            return false;
        for (int y = 0; y < expected.height(); ++y)
            for (int x = 0; x < expected.width(); ++x)
                if (PixelAt(image, rect.left + x, rect.top + y) !=
                    FromQColor(expected.pixelColor(x, y)))
                    return false;
        return true;
    }

    TestOwner owner;
};

TEST_F(ButtonTest, DragOutAndBackInGivesOnePressAndOneReleaseAndTheLookFollows) {
    MButton button;
    button.Create(kId, "", 10, 10, 20, 20, &owner);
    button.SetColors(kInk, kPaper);
    const Rect r = button.GetRect();

    // Pressed: a two-pixel ink band along the top and left edges.
    owner.Mouse(WidgetEvent::kLeftPress, 15, 15);
    QImage image = owner.Render(40, 40);
    EXPECT_TRUE(AllPixels(image, {r.left, r.top, r.right, r.top + 2}, kInk));
    EXPECT_TRUE(AllPixels(image, {r.left, r.top, r.left + 2, r.bottom}, kInk));
    EXPECT_TRUE(AllPixels(image, {r.left + 2, r.top + 2, r.right, r.bottom}, kPaper));
    EXPECT_FALSE(owner.repainted.empty());

    owner.Mouse(WidgetEvent::kMove, 35, 35);
    EXPECT_FALSE(button.IsPressed());
    EXPECT_TRUE(AllPixels(owner.Render(40, 40), r, kPaper));

    owner.Mouse(WidgetEvent::kMove, 29, 29);
    EXPECT_TRUE(button.IsPressed());
    EXPECT_EQ(PixelAt(owner.Render(40, 40), r.left, r.top), kInk);

    owner.Mouse(WidgetEvent::kLeftRelease, 29, 29);
    EXPECT_TRUE(AllPixels(owner.Render(40, 40), r, kPaper));
    const std::vector<Report> expected = {{WidgetEvent::kLeftPress, kId},
                                          {WidgetEvent::kLeftRelease, kId}};
    EXPECT_EQ(owner.reports, expected);
    EXPECT_EQ(WidgetRegistry::Instance().PressedWidget(), nullptr);
}

TEST_F(ButtonTest, ReleaseOutsideIsUnseenAndLeavesNoPressedWidget) {
    MButton button;
    button.Create(kId, "", 10, 10, 20, 20, &owner);
    button.SetColors(kInk, kPaper);
    owner.Mouse(WidgetEvent::kLeftPress, 15, 15);
    owner.Mouse(WidgetEvent::kMove, 50, 50);
    owner.Mouse(WidgetEvent::kLeftRelease, 50, 50);

    EXPECT_EQ(owner.reports, (std::vector<Report>{{WidgetEvent::kLeftPress, kId}}));
    EXPECT_FALSE(button.IsPressed());
    EXPECT_EQ(WidgetRegistry::Instance().PressedWidget(), nullptr);
    EXPECT_TRUE(AllPixels(owner.Render(40, 40), button.GetRect(), kPaper));
    // The next click works as usual.
    owner.Mouse(WidgetEvent::kLeftPress, 15, 15);
    owner.Mouse(WidgetEvent::kLeftRelease, 15, 15);
    EXPECT_EQ(owner.reports.size(), 3u);
}

TEST_F(ButtonTest, RightPressIsReportedWithoutPressingTheButton) {
    MButton button;
    button.Create(kId, "", 0, 0, 20, 20, &owner);
    owner.Mouse(WidgetEvent::kRightPress, 5, 5);
    EXPECT_EQ(owner.reports, (std::vector<Report>{{WidgetEvent::kRightPress, kId}}));
    EXPECT_FALSE(button.IsPressed());
    EXPECT_EQ(WidgetRegistry::Instance().PressedWidget(), nullptr);
}

TEST_F(ButtonTest, BitmapButtonIsAsLargeAsItsUpBitmapAndDrawsTheDownBitmapWhenPressed) {
    MBmpButton button;
    button.Create(kId, "PLAYBTN", 36, 60, &owner, "PLAYUP", "PLAYDN");
    button.SetColors(kInk, kPaper, kPressedInk, kPressedPaper);
    const Rect r = button.GetRect();
    EXPECT_EQ(r, (Rect{36, 60, 60, 84}));
    EXPECT_TRUE(ShowsSkin(owner.Render(100, 100), r, "PLAYUP", kInk, kPaper));
    owner.Mouse(WidgetEvent::kLeftPress, 40, 70);
    EXPECT_TRUE(ShowsSkin(owner.Render(100, 100), r, "PLAYDN", kPressedInk, kPressedPaper));
}

TEST_F(ButtonTest, BitmapButtonWithoutBitmapIsOnePixel) {
    MBmpButton button;
    button.Create(kId, "", 5, 5, &owner, "UP", "DN");
    EXPECT_EQ(button.GetRect(), (Rect{5, 5, 6, 6}));
}

TEST_F(ButtonTest, ToggleThatIsOnLooksPressedAtRestAndPopsUpWhileHeld) {
    MToggleButton toggle;
    toggle.Create(kId, "MUTEBTN", 40, 92, &owner, "ONOFFUP", "ONOFFDN");
    toggle.SetCursorName("PUSHCUR");
    toggle.SetColors(kInk, kPaper, kPressedInk, kPressedPaper);
    toggle.SetState(true);
    const Rect r = toggle.GetRect();
    ASSERT_EQ(r, (Rect{40, 92, 57, 109}));

    EXPECT_TRUE(ShowsSkin(owner.Render(100, 120), r, "ONOFFDN", kPressedInk, kPressedPaper));
    owner.Mouse(WidgetEvent::kLeftPress, 45, 100);
    EXPECT_TRUE(ShowsSkin(owner.Render(100, 120), r, "ONOFFUP", kInk, kPaper));
    owner.Mouse(WidgetEvent::kLeftRelease, 45, 100);
    EXPECT_FALSE(toggle.GetState());
    EXPECT_TRUE(ShowsSkin(owner.Render(100, 120), r, "ONOFFUP", kInk, kPaper));
    owner.Mouse(WidgetEvent::kLeftPress, 45, 100);
    owner.Mouse(WidgetEvent::kLeftRelease, 45, 100);
    EXPECT_TRUE(toggle.GetState());
    EXPECT_EQ(owner.reports.size(), 4u);
}

TEST_F(ButtonTest, ToggleReleasedOutsideKeepsItsState) {
    MToggleButton toggle;
    toggle.Create(kId, "", 0, 0, &owner, "ONOFFUP", "ONOFFDN");
    owner.Mouse(WidgetEvent::kLeftPress, 5, 5);
    owner.Mouse(WidgetEvent::kMove, 50, 50);
    owner.Mouse(WidgetEvent::kLeftRelease, 50, 50);
    EXPECT_FALSE(toggle.GetState());
    EXPECT_EQ(owner.reports, (std::vector<Report>{{WidgetEvent::kLeftPress, kId}}));
}

TEST_F(ButtonTest, HiddenToggleIsShownAgainBySetState) {
    MToggleButton toggle;
    toggle.Create(kId, "", 0, 0, &owner, "ONOFFUP", "ONOFFDN");
    toggle.Hide();
    EXPECT_EQ(WidgetRegistry::Instance().DispatchMouse(WidgetEvent::kLeftPress, 5, 5, &owner), 0);
    toggle.SetState(true);
    EXPECT_TRUE(toggle.IsVisible());
}

TEST_F(ButtonTest, ButtonWithoutCursorLeavesThePointerToTheOwner) {
    MButton button;
    button.Create(kId, "", 0, 0, 20, 20, &owner);
    button.SetCursorName("NOSUCHCUR");
    EXPECT_FALSE(button.GetCursor().has_value());
    EXPECT_EQ(WidgetRegistry::Instance().CursorAt(WidgetEvent::kMove, 5, 5, &owner), 0);
}

} // namespace
} // namespace mb
