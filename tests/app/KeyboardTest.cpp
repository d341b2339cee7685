// The face from the keyboard alone: real keys through the window's key path move the
// mark, change values as the mouse would (undo included), and the mark goes before Escape
// closes the window.
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "model/Setup.h"
#include "model/StepParam.h"
#include "panel/FaceAccessible.h"
#include "panel/WidgetPanel.h"

namespace mb {
namespace {

class KeyboardTest : public ::testing::Test, protected test::AppFixture {
protected:
    mb::Setup& setup() { return Probe(*window).GetSetup(); }
    WidgetPanel& panel() { return Probe(*window).Panel(); }
    const Step& step(int k) { return setup().loop(0).steps[static_cast<size_t>(k)]; }
    static int Control(int k, int code) {
        return WidgetPanel::kFirstColumnId + WidgetPanel::kColumnIdStep * k + code;
    }
    QImage Picture() {
        QImage image(window->size(), QImage::Format_RGB32);
        window->render(&image);
        return image;
    }
};

TEST_F(KeyboardTest, KeysMoveTheMarkAndEditTheStepsAsTheMouseWould) {
    Start();
    const QImage unmarked = Picture();
    const int pitch = step(0).pitch;
    const std::vector<int> order = panel().MarkOrder();
    ASSERT_EQ(order.size(), 16u + 6u * static_cast<size_t>(setup().stepCount));

    Key(Qt::Key_Tab);
    EXPECT_EQ(panel().Mark(), order.front());
    EXPECT_NE(Picture(), unmarked) << "the mark shows";
    // Escape takes the mark away, and the face is as before.
    Key(Qt::Key_Escape);
    EXPECT_EQ(panel().Mark(), WidgetPanel::kNoMark);
    EXPECT_EQ(Picture(), unmarked);
    Key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(panel().Mark(), order.back());
    Key(Qt::Key_Tab);
    EXPECT_EQ(panel().Mark(), order.front()) << "Tab runs round";
    for (int i = 0; i < 16; ++i)
        Key(Qt::Key_Tab);
    ASSERT_EQ(panel().Mark(), Control(0, kParamOn)) << "the steps come after the loops";

    Key(Qt::Key_Return);
    EXPECT_EQ(step(0).on, 0);
    Key(Qt::Key_Up);
    EXPECT_EQ(step(0).on, 1);
    Key(Qt::Key_Tab);
    Key(Qt::Key_Up);
    Key(Qt::Key_PageUp);
    EXPECT_EQ(step(0).pitch, pitch + 1 + 12);
    Key(Qt::Key_Right);
    EXPECT_EQ(panel().Mark(), Control(1, kParamPitch));
    Key(Qt::Key_Down);
    EXPECT_EQ(step(1).pitch, pitch - 1);
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(step(1).pitch, pitch) << "each change is an edit undo takes back";
    // Shift: every played step, as with the mouse.
    Key(Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(step(1).pitch, pitch + 1);
    EXPECT_EQ(step(5).pitch, pitch + 1);
    Key(Qt::Key_Z, Qt::ControlModifier);

    // Enter opens the field for typing; what is no number keeps the value.
    Key(Qt::Key_Return);
    auto* field = dynamic_cast<QLineEdit*>(window->focusWidget());
    ASSERT_NE(field, nullptr);
    QTest::keyClicks(field, "x");
    Key(Qt::Key_Return);
    EXPECT_EQ(step(1).pitch, pitch);
    Key(Qt::Key_Return);
    QTest::keyClicks(window->focusWidget(), "7");
    Key(Qt::Key_Up);
    Key(Qt::Key_Return);
    EXPECT_EQ(step(1).pitch, 8);
    EXPECT_EQ(panel().Mark(), Control(1, kParamPitch));

    // Escape closes the window once the mark is gone.
    Key(Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
    prompts.saveChangesAnswers.push_back(Prompts::kDontSave);
    Key(Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(KeyboardTest, TheMenuKeyOpensTheLoopPopupWhichTheKeysEditAndClose) {
    Start();
    panel().SetMark(WidgetPanel::kLoopStripId + 2);
    // Where the screen reader is told the keyboard is.
    std::vector<int> told;
    panel().onFocusMoved = [&told](int id) { told.push_back(id); };
    Key(Qt::Key_Menu);
    LoopPopup& popup = panel().GetLoopPopup();
    ASSERT_TRUE(popup.HasKeyboard());
    const int next = setup().loop(1).nextLoop;
    Key(Qt::Key_Up);
    EXPECT_EQ(setup().loop(1).nextLoop, next + 1);
    Key(Qt::Key_Tab);
    Key(Qt::Key_PageUp);
    EXPECT_EQ(setup().loop(1).repeatCount, 1 + 4);
    Key(Qt::Key_Escape);
    EXPECT_FALSE(popup.isVisible());
    EXPECT_EQ(panel().Mark(), WidgetPanel::kLoopStripId + 2);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(told, (std::vector<int>{FaceAccessible::kChainNextId, FaceAccessible::kChainRepeatsId,
                                      WidgetPanel::kLoopStripId + 2}));
}

} // namespace
} // namespace mb
