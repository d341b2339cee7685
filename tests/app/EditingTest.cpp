// The real main window driven with the mouse and the keys: step edits, group edits,
// undo, the measure clipboard, randomising and rotating the steps.
#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "model/Setup.h"
#include "model/StepParam.h"
#include "panel/WidgetPanel.h"

namespace mb {
namespace {

class EditingTest : public ::testing::Test, protected test::AppFixture {
protected:
    void SetUp() override { Start(); }
    mb::Setup& setup() { return Probe(*window).GetSetup(); }
    WidgetPanel& panel() { return Probe(*window).Panel(); }
    Step& step(int loop, int k) { return setup().loop(loop).steps[static_cast<size_t>(k)]; }
    void ClickToggle(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        Click(panel().Column(k).Toggle().GetRect(), mods);
    }
    void ClickLoop(int n) { Click(panel().LoopStrip().ButtonRect(n)); }
};

TEST_F(EditingTest, StartsUntitledAndCleanWithTheFixedColour) {
    EXPECT_EQ(setup().modified, 0);
    EXPECT_TRUE(setup().filePath.empty());
    // Until a setup is opened or saved the title is the program's caption mark alone.
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8(" -  +  \u00F7  x"));
    EXPECT_EQ(window->width(), MainWindow::kClientWidth);
    EXPECT_EQ(window->height(), MainWindow::kClientHeight);
    EXPECT_EQ(setup().stepCount, 16);
    // No device here: the one note says so and the window works on.
    ASSERT_EQ(prompts.notes.size(), 1u);
    EXPECT_EQ(prompts.notes[0], SoundEngine::kNoDeviceText);
    EXPECT_EQ(window->focusWidget(), static_cast<QWidget*>(&Probe(*window).FocusSink()));
}

TEST_F(EditingTest, AClickOnAStepToggleTurnsTheStepOffAndRecordsAnUndoPoint) {
    ClickToggle(3);
    EXPECT_EQ(step(0, 3).on, 0);
    EXPECT_EQ(step(0, 2).on, 1);
    EXPECT_EQ(setup().modified, 1);
    EXPECT_EQ(setup().undoLoop, 0);
    EXPECT_EQ(setup().undoBuffer().steps[3].on, 1);
}

TEST_F(EditingTest, GroupEditsActOnThePlayedStepsOnly) {
    Probe(*window).Document().ResizeToColumns(8);
    ASSERT_EQ(setup().stepCount, 8);
    step(0, 5).on = 0;

    // Shift inverts every other played step.
    ClickToggle(3, Qt::ShiftModifier);
    EXPECT_EQ(step(0, 3).on, 0);
    for (int i : {0, 1, 2, 4, 6, 7})
        EXPECT_EQ(step(0, i).on, 0) << i;
    EXPECT_EQ(step(0, 5).on, 1);
    for (int i = 8; i < 16; ++i)
        EXPECT_EQ(step(0, i).on, 1) << i;

    // Shift+Alt sets them all like the clicked one.
    ClickToggle(3, Qt::ShiftModifier | Qt::AltModifier);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(step(0, i).on, 1) << i;
    for (int i = 8; i < 16; ++i)
        EXPECT_EQ(panel().Column(i).GetItem(kParamOn), 1) << i;
}

TEST_F(EditingTest, ShiftDragOfAVolumeSliderMovesEveryPlayedStepEachWithinItsRange) {
    step(0, 1).volume = 125;
    panel().Column(1).SetItem(kParamVolume, 125);
    step(0, 2).volume = 3;
    panel().Column(2).SetItem(kParamVolume, 3);
    MDial* volume = panel().Column(0).Dial(kParamVolume);
    ASSERT_NE(volume, nullptr);
    const Rect slider = volume->Slider().GetRect();
    ASSERT_FALSE(slider.IsEmpty());
    const int before = step(0, 0).volume;
    // Pressed a little above the thumb and dragged upward, so the value only grows.
    const int range = volume->GetMaximum() - volume->GetMinimum();
    const int thumb =
        slider.bottom - 1 - (before - volume->GetMinimum()) * (slider.Height() - 1) / range;
    const QPoint from((slider.left + slider.right) / 2, std::max(slider.top, thumb - 3));
    QTest::mousePress(window.get(), Qt::LeftButton, Qt::ShiftModifier, from);
    for (int dy = 1; dy <= 6; ++dy)
        QTest::mouseEvent(QTest::MouseMove, window.get(), Qt::NoButton, Qt::ShiftModifier,
                          from - QPoint(0, dy));
    QTest::mouseRelease(window.get(), Qt::LeftButton, Qt::ShiftModifier, from - QPoint(0, 6));
    const int delta = step(0, 0).volume - before;
    ASSERT_NE(delta, 0);
    auto expected = [&](int initial) {
        return std::clamp(initial + delta, volume->GetMinimum(), volume->GetMaximum());
    };
    EXPECT_EQ(step(0, 1).volume, expected(125));
    EXPECT_EQ(step(0, 2).volume, expected(3));
    EXPECT_EQ(step(0, 15).volume, expected(110));
    EXPECT_EQ(panel().Column(15).GetItem(kParamVolume), expected(110));
    ASSERT_GT(delta, 2);
    EXPECT_EQ(step(0, 1).volume, volume->GetMaximum());
}

TEST_F(EditingTest, TwoUndosGoBackAndForth) {
    ClickToggle(2);
    ClickToggle(4);
    setup().bpm = 140.0;
    Probe(*window).Controller().SetMasterVolume(50);
    const double bpmAfter = setup().bpm;
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(step(0, 4).on, 1);
    EXPECT_EQ(step(0, 2).on, 0);
    EXPECT_EQ(panel().Column(4).GetItem(kParamOn), 1);
    EXPECT_EQ(setup().masterVolume, 80);
    EXPECT_DOUBLE_EQ(setup().bpm, 126.0);
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(step(0, 4).on, 0);
    EXPECT_EQ(setup().masterVolume, 50);
    EXPECT_DOUBLE_EQ(setup().bpm, bpmAfter);
    EXPECT_EQ(panel().MasterDialM().GetValue(), 50);
}

TEST_F(EditingTest, UndoAfterTheFirstCopyBringsBackTheMeasure) {
    const mb::Setup fresh;
    ClickToggle(3);
    Key(Qt::Key_C, Qt::ControlModifier);
    Key(Qt::Key_Z, Qt::ControlModifier);
    for (int k = 0; k < kStepsPerLoop; ++k) {
        for (int code : {kParamOn, kParamSound, kParamVolume, kParamDValue})
            EXPECT_EQ(step(0, k).GetParam(code),
                      fresh.loop(0).steps[static_cast<size_t>(k)].GetParam(code))
                << k << " " << code;
    }
}

TEST_F(EditingTest, UndoBeforeAnySnapshotChangesNothing) {
    Probe(*window).Controller().UndoEdit();
    EXPECT_EQ(setup().masterVolume, 80);
    EXPECT_DOUBLE_EQ(setup().bpm, 126.0);
    EXPECT_EQ(setup().modified, 0);
}

TEST_F(EditingTest, UndoIsHiddenOnAnotherLoopAndComesBackWithIt) {
    ClickToggle(6);
    auto undoEnabled = [this] {
        auto menu = window->Commands().BuildMenu(MenuBar::kEditMenuId);
        for (QAction* a : menu->actions())
            if (a->data().toInt() == Command::kUndo)
                return a->isEnabled();
        return false;
    };
    EXPECT_TRUE(undoEnabled());
    ClickLoop(3);
    EXPECT_EQ(setup().selectedLoop, 3);
    EXPECT_FALSE(undoEnabled());
    // The accelerator still runs Undo: only the global values change there.
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(step(3, 6).on, 1);
    ClickLoop(0);
    EXPECT_TRUE(undoEnabled());
    Probe(*window).Controller().UndoEdit();
    EXPECT_EQ(step(0, 6).on, 1);
}

TEST_F(EditingTest, CopyInLoopFivePasteInLoopTwoKeepsTheChain) {
    ClickLoop(4);
    for (int k = 0; k < 16; ++k)
        step(4, k).pitch = static_cast<int16_t>(k - 8);
    step(4, 9).on = 0;
    setup().loop(1).nextLoop = 6;
    setup().loop(1).repeatCount = 3;
    Key(Qt::Key_C, Qt::ControlModifier);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    ASSERT_TRUE(data->hasFormat(SetupController::kMeasureMimeType));
    // The 192 bytes of the steps, then their conditions.
    EXPECT_EQ(data->data(SetupController::kMeasureMimeType).size(), 192 + 32);

    ClickLoop(1);
    Key(Qt::Key_V, Qt::ControlModifier);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(step(1, k).pitch, k - 8) << k;
        EXPECT_EQ(panel().Column(k).GetItem(kParamPitch), k - 8) << k;
    }
    EXPECT_EQ(step(1, 9).on, 0);
    EXPECT_EQ(setup().loop(1).nextLoop, 6);
    EXPECT_EQ(setup().loop(1).repeatCount, 3);
    EXPECT_EQ(setup().undoLoop, 1);
}

TEST_F(EditingTest, AShortClipboardBlockIsRefusedBeforeAnythingChanges) {
    auto* data = new QMimeData;
    data->setData(SetupController::kMeasureMimeType, QByteArray(191, '\x01'));
    QGuiApplication::clipboard()->setMimeData(data);
    Probe(*window).Controller().PasteMeasure();
    ASSERT_EQ(prompts.notes.size(), 2u);
    EXPECT_EQ(prompts.notes[1], SetupController::kMeasureTooShort);
    EXPECT_EQ(setup().modified, 0);
    EXPECT_EQ(setup().undoLoop, -1);
    EXPECT_EQ(step(0, 0).volume, 110);
}

TEST_F(EditingTest, CopyWithATextSelectionCopiesTheText) {
    QLineEdit& field = panel().TempoField().Field();
    field.setFocus();
    field.selectAll();
    ASSERT_TRUE(field.hasSelectedText());
    QGuiApplication::clipboard()->clear();
    Probe(*window).Controller().CopyMeasure();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), field.text());
    EXPECT_FALSE(
        QGuiApplication::clipboard()->mimeData()->hasFormat(SetupController::kMeasureMimeType));
}

TEST_F(EditingTest, RandomizeWithNoSoundsKeepsTheOnFlagsAndSoundZero) {
    step(0, 7).on = 0;
    Key(Qt::Key_R, Qt::ControlModifier);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(step(0, k).sound, 0) << k;
        EXPECT_GE(step(0, k).pitch, -60);
        EXPECT_LE(step(0, k).pitch, 67);
        EXPECT_EQ(step(0, k).on, k == 7 ? 0 : 1);
    }
    EXPECT_EQ(setup().modified, 1);
    EXPECT_EQ(setup().undoLoop, 0);
}

TEST_F(EditingTest, ShiftRightWithFourStepsRotatesOnlyThose) {
    Probe(*window).Document().ResizeToColumns(4);
    ASSERT_EQ(setup().stepCount, 4);
    Key(Qt::Key_Right, Qt::ControlModifier);
    const int expected[] = {3, 0, 1, 2, 4, 5};
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(step(0, k).sound, expected[k]) << k;
    EXPECT_EQ(panel().Column(0).GetItem(kParamSound), 3);
    Key(Qt::Key_Left, Qt::ControlModifier);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(step(0, k).sound, k);
}

TEST_F(EditingTest, RightClickOnPanCentresIt) {
    step(0, 2).pan = 10;
    panel().Column(2).SetItem(kParamPan, 10);
    MDial* pan = panel().Column(2).Dial(kParamPan);
    Click(pan->UpArrow().GetRect(), Qt::NoModifier, Qt::RightButton);
    EXPECT_EQ(step(0, 2).pan, 64);
    EXPECT_EQ(setup().undoBuffer().steps[2].pan, 10);
}

} // namespace
} // namespace mb
