// Stacking order, passive widgets, visibility and owners, for painting, the pointer and
// input alike.
#include <memory>

#include <QMouseEvent>
#include <gtest/gtest.h>

#include "WidgetTestSupport.h"
#include "widgets/MButton.h"
#include "widgets/MWnd.h"
#include "widgets/WidgetRegistry.h"

namespace mb {
namespace {

using test::AllPixels;
using test::PixelAt;
using test::Report;
using test::TestOwner;

constexpr Color kRed = MakeColor(200, 0, 0);
constexpr Color kBlue = MakeColor(0, 0, 200);
constexpr Color kGreen = MakeColor(0, 160, 0);
constexpr Color kBlack = MakeColor(0, 0, 0);
constexpr Color kBackground = 0x00808080;

class WidgetRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureApplication(); }

    // A button with a cursor, so that it also takes part in the pointer walk.
    std::unique_ptr<MButton> Button(int id, int x, int y, int w, int h, TestOwner& on) {
        auto b = std::make_unique<MButton>();
        b->Create(id, "", x, y, w, h, &on);
        b->SetCursorName("PUSHCUR");
        b->SetColors(kBlack, kRed);
        return b;
    }
    std::unique_ptr<MWnd> Passive(int x, int y, int w, int h, Color paper, TestOwner& on) {
        auto p = std::make_unique<MWnd>();
        p->Create(0, "", x, y, w, h, &on);
        p->SetColors(kBlack, paper);
        return p;
    }

    TestOwner owner;
};

TEST_F(WidgetRegistryTest, NewerWidgetPaintsOverOlderWhereTheyOverlap) {
    auto older = Passive(0, 0, 20, 20, kRed, owner);
    auto newer = Passive(10, 10, 20, 20, kBlue, owner);
    const QImage image = owner.Render(40, 40, kBackground);
    EXPECT_TRUE(AllPixels(image, {0, 0, 10, 10}, kRed));
    EXPECT_TRUE(AllPixels(image, {10, 10, 30, 30}, kBlue));
    EXPECT_TRUE(AllPixels(image, {0, 10, 10, 20}, kRed));
    EXPECT_EQ(PixelAt(image, 35, 35), kBackground);
}

TEST_F(WidgetRegistryTest, NewerButtonTakesInputInTheOverlapAndOlderElsewhere) {
    auto older = Button(1, 0, 0, 20, 20, owner);
    auto newer = Button(2, 10, 10, 20, 20, owner);

    owner.Mouse(WidgetEvent::kLeftPress, 15, 15);
    owner.Mouse(WidgetEvent::kLeftRelease, 15, 15);
    owner.Mouse(WidgetEvent::kLeftPress, 5, 5);
    owner.Mouse(WidgetEvent::kLeftRelease, 5, 5);
    // A move with no button pressed is taken by nobody.
    owner.Mouse(WidgetEvent::kMove, 15, 15);

    const std::vector<Report> expected = {{WidgetEvent::kLeftPress, 2},
                                          {WidgetEvent::kLeftRelease, 2},
                                          {WidgetEvent::kLeftPress, 1},
                                          {WidgetEvent::kLeftRelease, 1}};
    EXPECT_EQ(owner.reports, expected);
    auto& registry = WidgetRegistry::Instance();
    EXPECT_EQ(registry.CursorAt(WidgetEvent::kMove, 15, 15, &owner), 2);
    EXPECT_EQ(registry.CursorAt(WidgetEvent::kMove, 5, 5, &owner), 1);
}

TEST_F(WidgetRegistryTest, PassiveWidgetOverAButtonHidesItsLookButNotItsInput) {
    auto button = Button(7, 0, 0, 20, 20, owner);
    auto cover = Passive(0, 0, 20, 20, kGreen, owner);

    owner.Mouse(WidgetEvent::kLeftPress, 5, 5);
    EXPECT_EQ(owner.reports, (std::vector<Report>{{WidgetEvent::kLeftPress, 7}}));
    EXPECT_EQ(WidgetRegistry::Instance().CursorAt(WidgetEvent::kMove, 5, 5, &owner), 7);
    EXPECT_TRUE(AllPixels(owner.Render(20, 20), {0, 0, 20, 20}, kGreen));
}

TEST_F(WidgetRegistryTest, HiddenButtonIsNotPaintedHitOrGivenThePointer) {
    auto under = Button(1, 0, 0, 20, 20, owner);
    auto hidden = Button(2, 0, 0, 20, 20, owner);
    hidden->SetColors(kBlack, kBlue);
    hidden->Hide();

    owner.Mouse(WidgetEvent::kRightPress, 5, 5);
    EXPECT_EQ(owner.reports, (std::vector<Report>{{WidgetEvent::kRightPress, 1}}));
    EXPECT_EQ(WidgetRegistry::Instance().CursorAt(WidgetEvent::kMove, 5, 5, &owner), 1);
    EXPECT_TRUE(AllPixels(owner.Render(20, 20), {0, 0, 20, 20}, kRed));

    under->Hide();
    EXPECT_EQ(WidgetRegistry::Instance().CursorAt(WidgetEvent::kMove, 5, 5, &owner), 0);
    EXPECT_EQ(WidgetRegistry::Instance().DispatchMouse(WidgetEvent::kLeftPress, 5, 5, &owner), 0);
}

TEST_F(WidgetRegistryTest, WidgetsOfAnotherOwnerAreNeverPaintedOrHit) {
    TestOwner other;
    auto foreign = Button(9, 0, 0, 20, 20, other);
    foreign->SetColors(kBlack, kBlue);
    auto& registry = WidgetRegistry::Instance();
    EXPECT_EQ(registry.DispatchMouse(WidgetEvent::kRightPress, 5, 5, &owner), 0);
    EXPECT_EQ(registry.CursorAt(WidgetEvent::kMove, 5, 5, &owner), 0);
    EXPECT_TRUE(AllPixels(owner.Render(20, 20, kBackground), {0, 0, 20, 20}, kBackground));
    EXPECT_EQ(registry.DispatchMouse(WidgetEvent::kRightPress, 5, 5, &other), 9);
}

TEST_F(WidgetRegistryTest, RightAndBottomEdgesLieOutside) {
    auto button = Button(3, 10, 10, 10, 10, owner); // covers 10..19
    struct Case {
        int x, y;
        bool inside;
    };
    const Case cases[] = {{10, 10, true},  {19, 19, true}, {20, 15, false},
                          {15, 20, false}, {9, 15, false}, {15, 9, false}};
    auto& registry = WidgetRegistry::Instance();
    for (const Case& c : cases) {
        EXPECT_EQ(registry.DispatchMouse(WidgetEvent::kRightPress, c.x, c.y, &owner),
                  c.inside ? 3 : 0)
            << c.x << "," << c.y;
        EXPECT_EQ(registry.CursorAt(WidgetEvent::kMove, c.x, c.y, &owner), c.inside ? 3 : 0)
            << c.x << "," << c.y;
    }
}

TEST_F(WidgetRegistryTest, ColoursOfAHiddenWidgetAppearWhenItIsShown) {
    auto w = Passive(0, 0, 10, 10, kRed, owner);
    w->Hide();
    const size_t before = owner.invalidated.size();
    w->SetColors(kBlack, kBlue);
    EXPECT_EQ(owner.invalidated.size(), before);
    EXPECT_TRUE(AllPixels(owner.Render(10, 10, kBackground), {0, 0, 10, 10}, kBackground));
    w->Show();
    EXPECT_EQ(owner.invalidated.size(), before + 1);
    EXPECT_TRUE(AllPixels(owner.Render(10, 10), {0, 0, 10, 10}, kBlue));
}

TEST_F(WidgetRegistryTest, ShowAndHideBeforeCreateChangeNothing) {
    MWnd w;
    w.Show();
    EXPECT_FALSE(w.IsVisible());
    w.SetAttached(false);
    w.Hide();
    EXPECT_FALSE(w.IsVisible());
    EXPECT_TRUE(owner.invalidated.empty());
}

TEST_F(WidgetRegistryTest, DestroyedWidgetLeavesTheRegistryAndThePressedWidget) {
    auto& registry = WidgetRegistry::Instance();
    const size_t before = registry.Size();
    {
        auto button = Button(4, 0, 0, 10, 10, owner);
        owner.Mouse(WidgetEvent::kLeftPress, 5, 5);
        EXPECT_EQ(registry.PressedWidget(), button.get());
        EXPECT_EQ(registry.Size(), before + 1);
    }
    EXPECT_EQ(registry.Size(), before);
    EXPECT_EQ(registry.PressedWidget(), nullptr);
    EXPECT_EQ(registry.DispatchMouse(WidgetEvent::kLeftRelease, 5, 5, &owner), 0);
}

TEST_F(WidgetRegistryTest, CaptionIsDrawnInInkInsideTheWidget) {
    auto w = std::make_unique<MWnd>();
    w->Create(0, "MMMM", 0, 0, 60, 20, &owner);
    w->SetColors(kBlack, kRed);
    const QImage image = owner.Render(80, 30, kBackground);
    int inked = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 60; ++x)
            inked += PixelAt(image, x, y) != kRed;
    EXPECT_GT(inked, 10);
    EXPECT_TRUE(AllPixels(image, {60, 0, 80, 30}, kBackground));
}

TEST_F(WidgetRegistryTest, OwnerTurnsQtMouseEventsIntoEventCodes) {
    struct Case {
        QEvent::Type type;
        Qt::MouseButton button;
        bool forwardRight;
        int code; // -1: not forwarded
    };
    const Case cases[] = {
        {QEvent::MouseButtonPress, Qt::LeftButton, true, WidgetEvent::kLeftPress},
        {QEvent::MouseButtonDblClick, Qt::LeftButton, true, WidgetEvent::kLeftPress},
        {QEvent::MouseButtonRelease, Qt::LeftButton, true, WidgetEvent::kLeftRelease},
        {QEvent::MouseButtonPress, Qt::RightButton, true, WidgetEvent::kRightPress},
        {QEvent::MouseButtonPress, Qt::RightButton, false, -1},
        {QEvent::MouseButtonDblClick, Qt::RightButton, true, -1},
        {QEvent::MouseButtonRelease, Qt::RightButton, true, -1},
        {QEvent::MouseButtonPress, Qt::MiddleButton, true, -1},
        {QEvent::MouseMove, Qt::NoButton, true, WidgetEvent::kMove},
    };
    for (const Case& c : cases) {
        owner.heard.clear();
        QMouseEvent event(c.type, QPointF(3, 4), QPointF(3, 4), c.button, c.button, Qt::NoModifier);
        EXPECT_EQ(owner.ForwardMouse(&event, c.forwardRight), c.code >= 0);
        EXPECT_EQ(owner.heard, c.code >= 0 ? std::vector<int>{c.code} : std::vector<int>{});
    }
}

TEST_F(WidgetRegistryTest, OwnerShowsItsDefaultPointerWhereNoWidgetSetsOne) {
    auto button = Button(5, 0, 0, 10, 10, owner);
    owner.Mouse(WidgetEvent::kMove, 5, 5);
    EXPECT_EQ(owner.cursor().shape(), Qt::BitmapCursor);
    owner.Mouse(WidgetEvent::kMove, 50, 50);
    EXPECT_EQ(owner.cursor().shape(), Qt::ForbiddenCursor);
}

} // namespace
} // namespace mb
