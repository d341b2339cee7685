// The menu bar: its three buttons, their colours, and where their menus open.
#include <vector>

#include <QPoint>
#include <gtest/gtest.h>

#include "PanelTestSupport.h"
#include "panel/MenuBar.h"
#include "panel/MenuCommandHandler.h"
#include "widgets/Color.h"
#include "widgets/WidgetEvent.h"

namespace mb {
namespace {

class RecordingHandler : public MenuCommandHandler {
public:
    struct Shown {
        int menu;
        QPoint at;
    };
    void ShowMenu(int menuId, const QPoint& screenPos) override {
        shown.push_back({menuId, screenPos});
    }

    std::vector<Shown> shown;
};

class MenuBarTest : public ::testing::Test {
protected:
    void SetUp() override { bar.SetCommandHandler(&handler); }

    test::PanelOwner owner;
    MenuBar bar{"menu", 22, 4, &owner};
    RecordingHandler handler;
};

TEST_F(MenuBarTest, ButtonsSitSideBySideWithTheirCursors) {
    struct Case {
        MBmpButton& button;
        int id;
        Rect rect;
    };
    const Case cases[] = {
        {bar.FileButton(), 1002, {22, 4, 38, 19}},
        {bar.EditButton(), 1003, {40, 4, 56, 19}},
        {bar.ThirdButton(), 1004, {58, 4, 74, 19}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.button.GetId(), c.id);
        EXPECT_EQ(c.button.GetRect(), c.rect) << c.id;
        EXPECT_TRUE(c.button.GetCursor().has_value()) << c.id;
        EXPECT_EQ(c.button.GetOwner(), &owner);
    }
    // The command window covers the buttons but lets the mouse through to them.
    EXPECT_EQ(bar.GetBarRect(), (Rect{22, 4, 74, 19}));
    EXPECT_EQ(bar.geometry(), QRect(22, 4, 52, 15));
    EXPECT_EQ(bar.parentWidget(), &owner);
    EXPECT_TRUE(bar.testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST_F(MenuBarTest, ColourChangeGivesEachButtonItsOwnPair) {
    // The colours each button shows for one base colour, up and pressed alike: File ink
    // on paper, Edit its own pair, the third menu File's pair the other way round.
    bar.ApplyColor(MakeColor(90, 30, 140));
    struct Case {
        MBmpButton& button;
        Color ink;
        Color paper;
    };
    const Case cases[] = {
        {bar.FileButton(), 0x000000, 0x993D7D},
        {bar.EditButton(), 0xB2806B, 0xE5A0B9},
        {bar.ThirdButton(), 0x993D7D, 0x000000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.button.GetInk(), c.ink) << c.button.GetId();
        EXPECT_EQ(c.button.GetPaper(), c.paper) << c.button.GetId();
        EXPECT_EQ(c.button.GetPressedInk(), c.ink) << c.button.GetId();
        EXPECT_EQ(c.button.GetPressedPaper(), c.paper) << c.button.GetId();
    }
}

TEST_F(MenuBarTest, ButtonIdsOpenTheirMenusBelowTheButton) {
    owner.Mouse(WidgetEvent::kLeftPress, 42, 8);
    owner.Mouse(WidgetEvent::kLeftRelease, 42, 8);
    ASSERT_EQ(owner.reports.size(), 2u);
    EXPECT_EQ(owner.reports.back().id, MenuBar::kEditButtonId);
    bar.OpenMenu(owner.reports.back().id);
    bar.OpenMenu(MenuBar::kFileButtonId);
    bar.OpenMenu(MenuBar::kThirdButtonId);
    bar.OpenMenu(32771);
    ASSERT_EQ(handler.shown.size(), 3u);
    EXPECT_EQ(handler.shown[0].menu, MenuBar::kEditMenuId);
    EXPECT_EQ(handler.shown[0].at, owner.mapToGlobal(QPoint(40, 19)));
    EXPECT_EQ(handler.shown[1].menu, MenuBar::kFileMenuId);
    EXPECT_EQ(handler.shown[1].at, owner.mapToGlobal(QPoint(22, 19)));
    EXPECT_EQ(handler.shown[2].menu, MenuBar::kThirdMenuId);
    EXPECT_EQ(handler.shown[2].at, owner.mapToGlobal(QPoint(58, 19)));
}

TEST_F(MenuBarTest, ReleaseOutsideTheButtonOpensNothing) {
    owner.Mouse(WidgetEvent::kLeftPress, 24, 8);
    owner.Mouse(WidgetEvent::kMove, 300, 100);
    owner.Mouse(WidgetEvent::kLeftRelease, 300, 100);
    ASSERT_EQ(owner.reports.size(), 1u);
    EXPECT_EQ(owner.reports[0], (test::Report{WidgetEvent::kLeftPress, MenuBar::kFileButtonId}));
}

} // namespace
} // namespace mb
