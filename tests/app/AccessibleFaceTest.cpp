// The face as assistive tools see it: the window's accessible children, and values set
// through them reaching the setup as hand edits do.
#include <functional>
#include <string>

#include <QAccessible>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "model/Setup.h"
#include "panel/FaceAccessible.h"

namespace mb {
namespace {

class AccessibleFaceTest : public ::testing::Test, protected test::AppFixture {
protected:
    void SetUp() override { Start(); }
    mb::Setup& setup() { return Probe(*window).GetSetup(); }
    QAccessibleInterface* Face() { return QAccessible::queryAccessibleInterface(window.get()); }
    // The first child whose name starts with prefix.
    QAccessibleInterface* Control(const QString& prefix) {
        QAccessibleInterface* face = Face();
        for (int i = 0; i < face->childCount(); ++i)
            if (QAccessibleInterface* c = face->child(i);
                c != nullptr && c->text(QAccessible::Name).startsWith(prefix))
                return c;
        return nullptr;
    }
};

TEST_F(AccessibleFaceTest, ListsTheShownControlsOfAWindow) {
    QAccessibleInterface* face = Face();
    EXPECT_EQ(face->role(), QAccessible::Window);
    EXPECT_EQ(face->text(QAccessible::Name), "Marrowbeat");
    // Menus, M, E, play, sound, tempo, eight loops, six per step, the status line.
    EXPECT_EQ(face->childCount(), 16 + 6 * 16 + 1);
    for (int i = 0; i < face->childCount(); ++i) {
        EXPECT_EQ(face->indexOfChild(face->child(i)), i);
        EXPECT_FALSE(face->child(i)->text(QAccessible::Name).isEmpty()) << i;
    }
    // The focus mark on a dial's arrow is on the dial.
    Probe(*window).Access().NotifyFocus(10000 + 2 * 100 + 20 + 1);
    ASSERT_NE(face->focusChild(), nullptr);
    EXPECT_EQ(face->focusChild()->text(QAccessible::Name), "Step 3 pitch");
    EXPECT_TRUE(face->focusChild()->state().focused);
    Probe(*window).Access().NotifyFocus(0);
    EXPECT_FALSE(Control("Step 3 pitch")->state().focused);
    Probe(*window).Document().ResizeToColumns(8);
    EXPECT_EQ(face->childCount(), 16 + 6 * 8 + 1);
    EXPECT_EQ(Control("Step 9"), nullptr);
}

TEST_F(AccessibleFaceTest, AValueSetThroughTheInterfaceIsAnEditWithItsUndoPoint) {
    const Step& step3 = setup().loop(0).steps[2];
    const struct {
        const char* control;
        double value;
        std::function<double()> stored;
    } cases[] = {
        {"Step 3 pitch", 7, [&] { return static_cast<double>(step3.pitch); }},
        // The face numbers the sounds from 1.
        {"Step 3 sound", 4, [&] { return static_cast<double>(step3.sound) + 1; }},
        {"Step 3 volume", 30, [&] { return static_cast<double>(step3.volume); }},
        {"Master volume", 50, [&] { return static_cast<double>(setup().masterVolume); }},
        {"Tempo", 140, [&] { return static_cast<double>(setup().bpm); }},
        {"Step 3, on", 0, [&] { return static_cast<double>(step3.on); }},
    };
    for (const auto& c : cases) {
        QAccessibleInterface* control = Control(c.control);
        ASSERT_NE(control, nullptr) << c.control;
        ASSERT_NE(control->valueInterface(), nullptr) << c.control;
        control->valueInterface()->setCurrentValue(c.value);
        EXPECT_EQ(c.stored(), c.value) << c.control;
        EXPECT_EQ(control->valueInterface()->currentValue().toDouble(), c.value) << c.control;
    }
    EXPECT_EQ(setup().modified, 1);
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(step3.on, 1);
    EXPECT_EQ(step3.volume, 30);
    EXPECT_DOUBLE_EQ(setup().bpm, 140.0);
    Control("Loop 3")->valueInterface()->setCurrentValue(1);
    EXPECT_EQ(setup().selectedLoop, 2);
}

} // namespace
} // namespace mb
