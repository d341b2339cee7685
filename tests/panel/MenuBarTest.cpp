// The menu bar: its three buttons, their colours, and where menus and commands go.
#include <vector>

#include <QPoint>
#include <gtest/gtest.h>

#include "PanelTestSupport.h"
#include "panel/MenuBar.h"
#include "panel/MenuCommandHandler.h"
#include "widgets/ColorScheme.h"
#include "widgets/WidgetEvent.h"

namespace mb {
namespace {

class RecordingHandler : public MenuCommandHandler {
public:
    struct Shown {
        int menu;
        QPoint at;
        QWidget* target;
    };
    void ShowMenu(int menuId, const QPoint& screenPos, QWidget& target) override {
        shown.push_back({menuId, screenPos, &target});
    }
    void OnCommand(int command) override { commands.push_back(command); }

    std::vector<Shown> shown;
    std::vector<int> commands;
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
    bar.ApplyColor(MakeColor(90, 30, 140));
    const ColorScheme& s = bar.Scheme();
    struct Case {
        MBmpButton& button;
        int ink;
        int paper;
    };
    for (const Case& c : {Case{bar.FileButton(), 6, 4}, Case{bar.EditButton(), 2, 1},
                          Case{bar.ThirdButton(), 4, 6}}) {
        EXPECT_EQ(c.button.GetInk(), s.GetColor(c.ink)) << c.button.GetId();
        EXPECT_EQ(c.button.GetPaper(), s.GetColor(c.paper)) << c.button.GetId();
        EXPECT_EQ(c.button.GetPressedInk(), s.GetColor(c.ink)) << c.button.GetId();
        EXPECT_EQ(c.button.GetPressedPaper(), s.GetColor(c.paper)) << c.button.GetId();
    }
}

TEST_F(MenuBarTest, ButtonIdsOpenTheirMenusBelowTheButtonAndOtherCommandsRun) {
    owner.Mouse(WidgetEvent::kLeftPress, 42, 8);
    owner.Mouse(WidgetEvent::kLeftRelease, 42, 8);
    ASSERT_EQ(owner.reports.size(), 2u);
    EXPECT_EQ(owner.reports.back().id, MenuBar::kEditButtonId);
    bar.OnCommand(owner.reports.back().id);
    bar.OnCommand(MenuBar::kFileButtonId);
    bar.OnCommand(MenuBar::kThirdButtonId);
    bar.OnCommand(32771);
    ASSERT_EQ(handler.shown.size(), 3u);
    EXPECT_EQ(handler.shown[0].menu, MenuBar::kEditMenuId);
    EXPECT_EQ(handler.shown[0].at, owner.mapToGlobal(QPoint(40, 19)));
    EXPECT_EQ(handler.shown[0].target, &bar);
    EXPECT_EQ(handler.shown[1].menu, MenuBar::kFileMenuId);
    EXPECT_EQ(handler.shown[1].at, owner.mapToGlobal(QPoint(22, 19)));
    EXPECT_EQ(handler.shown[2].menu, MenuBar::kThirdMenuId);
    EXPECT_EQ(handler.commands, std::vector<int>{32771});
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
