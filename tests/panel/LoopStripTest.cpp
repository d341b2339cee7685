// The loop strip's selected and playing looks, and the loop popup's edits of a loop's
// chain link.
#include <QWidget>
#include <gtest/gtest.h>

#include "PanelTestSupport.h"
#include "model/Setup.h"
#include "panel/LoopPopup.h"
#include "panel/MLoopStrip.h"
#include "widgets/WidgetEvent.h"

namespace mb {
namespace {

constexpr int kStripId = 20000;
constexpr Color kInk = MakeColor(10, 10, 10);
constexpr Color kPaper = MakeColor(240, 240, 240);
constexpr Color kPressedInk = MakeColor(20, 20, 20);
constexpr Color kPressedPaper = MakeColor(200, 200, 200);
constexpr Color kPlayInk = MakeColor(255, 0, 0);
constexpr Color kPlayPaper = MakeColor(0, 0, 255);

class LoopStripTest : public ::testing::Test {
protected:
    void SetUp() override {
        strip.Create(kStripId, "LOOPSCTRL", 79, 0, &owner, 8, false);
        strip.SetColors(kInk, kPaper, kPressedInk, kPressedPaper, kPlayInk, kPlayPaper, kPlayInk,
                        kPlayPaper, kPaper);
    }
    // The colours button i shows, read from the top-left pixel and the whole rect.
    bool ShowsPlaying(int i) {
        const Rect r = strip.ButtonRect(i);
        const QImage image = owner.Grab();
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                const Color c = test::PixelAt(image, x, y);
                if (c != kPlayInk && c != kPlayPaper)
                    return false;
            }
        return true;
    }
    void Click(int i) {
        const Rect r = strip.ButtonRect(i);
        owner.reports.clear();
        owner.Mouse(WidgetEvent::kLeftPress, r.left + 1, r.top + 1);
        owner.Mouse(WidgetEvent::kLeftRelease, r.left + 1, r.top + 1);
        ASSERT_EQ(owner.reports.size(), 2u);
        strip.OnChild(owner.reports.back().id);
    }

    test::PanelOwner owner;
    MLoopStrip strip;
};

TEST_F(LoopStripTest, StartsWithLoopOneUpAndNothingPlaying) {
    EXPECT_FALSE(strip.IsVisible());
    EXPECT_EQ(strip.GetSelected(), 0);
    EXPECT_EQ(strip.GetPlaying(), -1);
    for (int i = 0; i < 8; ++i) {
        const MLoopButton& b = *strip.Button(i);
        EXPECT_EQ(b.GetId(), kStripId + 1 + i);
        EXPECT_EQ(b.GetRect(), (Rect{79, 144 - 20 * i, 89, 162 - 20 * i}));
        EXPECT_EQ(b.GetState(), i != 0) << i;
        EXPECT_FALSE(ShowsPlaying(i)) << i;
    }
    EXPECT_EQ(strip.GetRect(), (Rect{79, 4, 89, 162}));
}

TEST_F(LoopStripTest, PlayingColoursFollowSetPlaying) {
    strip.SetPlaying(3);
    EXPECT_TRUE(ShowsPlaying(3));
    EXPECT_FALSE(ShowsPlaying(2));
    strip.SetPlaying(5);
    EXPECT_FALSE(ShowsPlaying(3));
    EXPECT_TRUE(ShowsPlaying(5));
    strip.SetPlaying(-1);
    EXPECT_FALSE(ShowsPlaying(5));
    // The selected loop may play too: its up look in the playing colours.
    strip.SetPlaying(0);
    EXPECT_TRUE(ShowsPlaying(0));
}

TEST_F(LoopStripTest, ClicksSelectAndTheSelectedLoopStaysSelected) {
    Click(4);
    EXPECT_EQ(strip.GetSelected(), 4);
    EXPECT_FALSE(strip.Button(4)->GetState());
    EXPECT_TRUE(strip.Button(0)->GetState());
    Click(4);
    EXPECT_EQ(strip.GetSelected(), 4);
    EXPECT_FALSE(strip.Button(4)->GetState());
}

TEST_F(LoopStripTest, InvalidIndexesTouchNoButtonButAreStored) {
    strip.Select(9);
    EXPECT_EQ(strip.GetSelected(), 9);
    EXPECT_TRUE(strip.Button(0)->GetState());
    strip.Select(2);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(strip.Button(i)->GetState(), i != 2) << i;
    strip.SetPlaying(12);
    strip.SetPlaying(1);
    EXPECT_TRUE(ShowsPlaying(1));
    EXPECT_EQ(strip.ButtonRect(8), Rect{});
}

class LoopPopupTest : public ::testing::Test {
protected:
    void SetUp() override {
        popup.Create(&mainWindow, setup);
        scheme.SetBase(MakeColor(30, 120, 90));
        popup.SetScheme(scheme);
    }
    // A click on a part of a popup dial, as the popup's own mouse handling does it.
    void Click(const MWnd& part) {
        const Rect r = part.GetRect();
        popup.OnWidgetEvent(WidgetEvent::kLeftPress, r.left, r.top, 0);
        popup.OnWidgetEvent(WidgetEvent::kLeftRelease, r.left, r.top, 0);
    }

    test::FakeKeyboard keyboard;
    QWidget mainWindow;
    mb::Setup setup;
    ColorScheme scheme;
    LoopPopup popup;
};

TEST_F(LoopPopupTest, IsAHiddenFramelessWindowOfTheMainWindow) {
    EXPECT_TRUE(popup.isHidden());
    EXPECT_EQ(popup.parentWidget(), &mainWindow);
    EXPECT_TRUE(popup.isWindow());
    EXPECT_TRUE(popup.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(popup.size(), QSize(127, 43));
    EXPECT_EQ(popup.NextDial().Field().GetRect(), (Rect{1, 4, 22, 19}));
    EXPECT_EQ(popup.RepeatDial().UpArrow().GetRect(), (Rect{96, 1, 103, 10}));
}

TEST_F(LoopPopupTest, ShowForPlacesItAndShowsTheLoopsLink) {
    setup.loop(2).nextLoop = 5;
    setup.loop(2).repeatCount = 3;
    popup.ShowFor(300, 200, 2);
    EXPECT_FALSE(popup.isHidden());
    EXPECT_EQ(popup.pos(), QPoint(300, 200));
    EXPECT_EQ(popup.NextDial().Field().GetText(), "6");
    EXPECT_EQ(popup.RepeatDial().Field().GetText(), "3");
    popup.ShowFor(0, 0, 8);
    EXPECT_EQ(popup.GetLoop(), 2);
}

TEST_F(LoopPopupTest, TypingClampsAndStoresTheLinkMarkingTheSetupOnlyOnAChange) {
    popup.ShowFor(0, 0, 1);
    setup.modified = 0;
    popup.NextDial().Field().clear();
    test::Type(popup.NextDial().Field(), "9");
    EXPECT_EQ(popup.NextDial().Field().GetText(), "8");
    EXPECT_EQ(setup.loop(1).nextLoop, 7);
    EXPECT_EQ(setup.modified, 1);

    setup.modified = 0;
    popup.NextDial().Field().clear();
    test::Type(popup.NextDial().Field(), "8");
    EXPECT_EQ(setup.loop(1).nextLoop, 7);
    EXPECT_EQ(setup.modified, 0);
    EXPECT_EQ(setup.loop(0).nextLoop, 0);
}

TEST_F(LoopPopupTest, CtrlArrowStepsTheRepeatCountWithinItsRange) {
    setup.loop(4).repeatCount = 30;
    setup.loop(4).nextLoop = 0;
    popup.ShowFor(0, 0, 4);
    keyboard.ctrl = true;
    Click(popup.RepeatDial().UpArrow());
    EXPECT_EQ(setup.loop(4).repeatCount, 32);
    EXPECT_EQ(popup.RepeatDial().Field().GetText(), "32");
    keyboard.ctrl = false;
    setup.modified = 0;
    Click(popup.NextDial().DownArrow());
    EXPECT_EQ(setup.loop(4).nextLoop, 0);
    EXPECT_EQ(setup.modified, 0);
    EXPECT_EQ(popup.NextDial().Field().GetText(), "1");
}

// The swing row: up to 75, one undo point for the first change while the popup is shown.
TEST_F(LoopPopupTest, SwingStepsWithinItsRangeWithOneUndoPoint) {
    int undoPoints = 0;
    popup.OnSwingEdit([&undoPoints] { ++undoPoints; });
    setup.loop(2).swing = 74;
    popup.ShowFor(0, 0, 2);
    EXPECT_EQ(popup.SwingDial().Field().GetText(), "74");
    for (int i = 0; i < 3; ++i)
        Click(popup.SwingDial().UpArrow());
    EXPECT_EQ(setup.loop(2).swing, 75);
    EXPECT_EQ(undoPoints, 1);
    EXPECT_EQ(setup.modified, 1);
    Click(popup.SwingDial().DownArrow());
    EXPECT_EQ(setup.loop(2).swing, 74);
    EXPECT_EQ(undoPoints, 1);
    popup.ShowFor(0, 0, 2);
    Click(popup.SwingDial().DownArrow());
    EXPECT_EQ(undoPoints, 2) << "a new showing, a new undo point";
}

TEST_F(LoopPopupTest, PaintsItsBackgroundPictureInTheSchemeColours) {
    const QImage image = popup.grab().toImage();
    bool sawInk = false;
    bool sawPaper = false;
    for (int x = 22; x < 96; ++x)
        for (int y = 0; y < 20; ++y) {
            const Color c = test::PixelAt(image, x, y);
            sawInk = sawInk || c == scheme.GetColor(5);
            sawPaper = sawPaper || c == scheme.GetColor(7);
        }
    EXPECT_TRUE(sawInk);
    EXPECT_TRUE(sawPaper);
    // Below the picture's two rows the window's own background shows: colour 1.
    EXPECT_EQ(test::PixelAt(image, 60, 42), scheme.GetColor(1));
}

} // namespace
} // namespace mb
