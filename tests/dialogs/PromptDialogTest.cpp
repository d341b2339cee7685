// The save-changes and OK/Cancel dialogs: their texts, their buttons' results, Escape and
// Enter, their faces, and QtPrompts driving them modally; the MIDI Output and Sound Output
// dialogs.
#include <functional>
#include <memory>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "WidgetTestSupport.h"
#include "dialogs/MidiOutputDialog.h"
#include "dialogs/OkCancelDialog.h"
#include "dialogs/QtPrompts.h"
#include "dialogs/SaveChangesDialog.h"
#include "dialogs/SoundOutputDialog.h"

namespace mb {
namespace {

constexpr const char* kMessage = "Save changes to\n\" Untitled Settings.mbx \"?";
constexpr Color kWhite = 0x00FFFFFF;

enum class Kind { kSaveChanges, kOkCancel };

std::unique_ptr<PromptDialog> Make(Kind kind, const std::string& message = kMessage) {
    if (kind == Kind::kSaveChanges)
        return std::make_unique<SaveChangesDialog>(nullptr, message);
    return std::make_unique<OkCancelDialog>(nullptr, message);
}

struct ButtonCase {
    Kind kind;
    int id;
    int result;
};

class PromptDialogButtonTest : public ::testing::TestWithParam<ButtonCase> {
protected:
    void SetUp() override { test::EnsureApplication(); }
};

TEST_P(PromptDialogButtonTest, EachButtonEndsTheDialogWithItsResult) {
    const ButtonCase c = GetParam();
    std::unique_ptr<PromptDialog> dialog = Make(c.kind);
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    dialog->open();
    ASSERT_TRUE(dialog->isVisible());
    QPushButton* button = dialog->Button(c.id);
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), c.result);
    EXPECT_EQ(dialog->result(), c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Buttons,
    PromptDialogButtonTest,
    ::testing::Values(ButtonCase{Kind::kSaveChanges, PromptDialog::kOkId, 1},
                      ButtonCase{Kind::kSaveChanges, PromptDialog::kCancelId, 0},
                      ButtonCase{Kind::kSaveChanges, PromptDialog::kDontSaveId, 2},
                      ButtonCase{Kind::kOkCancel, PromptDialog::kOkId, 1},
                      ButtonCase{Kind::kOkCancel, PromptDialog::kCancelId, 0}));

struct KeyCase {
    Kind kind;
    Qt::Key key;
    int result;
};

class PromptDialogKeyTest : public ::testing::TestWithParam<KeyCase> {
protected:
    void SetUp() override { test::EnsureApplication(); }
};

TEST_P(PromptDialogKeyTest, EscapeCancelsAndEnterPressesTheDefault) {
    const KeyCase c = GetParam();
    std::unique_ptr<PromptDialog> dialog = Make(c.kind);
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    dialog->open();
    QTest::keyClick(dialog.get(), c.key);
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), c.result);
}

INSTANTIATE_TEST_SUITE_P(Keys,
                         PromptDialogKeyTest,
                         ::testing::Values(KeyCase{Kind::kSaveChanges, Qt::Key_Escape, 0},
                                           KeyCase{Kind::kSaveChanges, Qt::Key_Return, 1},
                                           KeyCase{Kind::kOkCancel, Qt::Key_Escape, 0},
                                           KeyCase{Kind::kOkCancel, Qt::Key_Return, 1}));

struct TextCase {
    Kind kind;
    const char* caption;
    std::vector<std::pair<int, const char*>> buttons;
};

TEST(PromptDialogTest, CaptionMessageAndButtonTextsAreExact) {
    test::EnsureApplication();
    const std::vector<TextCase> cases = {
        {Kind::kSaveChanges, "Marrowbeat", {{1, "&Save"}, {2, "&Cancel"}, {201, "&Don't Save"}}},
        {Kind::kOkCancel, "Marrowbeat", {{1, "OK"}, {2, "Cancel"}}},
    };
    for (const TextCase& c : cases) {
        std::unique_ptr<PromptDialog> dialog = Make(c.kind);
        EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8(c.caption));
        ASSERT_NE(dialog->Message(), nullptr);
        EXPECT_EQ(dialog->Message()->text(), QString::fromUtf8(kMessage));
        // Markup in a message is shown as it is, not interpreted.
        EXPECT_EQ(dialog->Message()->textFormat(), Qt::PlainText);
        EXPECT_EQ(dialog->findChildren<QPushButton*>().size(), c.buttons.size());
        for (const auto& [id, text] : c.buttons) {
            QPushButton* button = dialog->Button(id);
            ASSERT_NE(button, nullptr) << id;
            EXPECT_EQ(button->text(), QString::fromUtf8(text));
            EXPECT_EQ(button->isDefault(), id == PromptDialog::kOkId) << text;
        }
    }
}

// Where the rendered dialogs go for a look, when asked for.
void WriteForViewing(QWidget& dialog, const char* name) {
    const QString folder = qEnvironmentVariable("MARROWBEAT_DIALOG_PICTURES");
    if (!folder.isEmpty())
        dialog.grab().save(QDir(folder).filePath(QString::fromUtf8(name)));
}

bool AnyPixel(const QImage& image, const QRect& rect, const std::function<bool(Color)>& test) {
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (test(test::PixelAt(image, x, y)))
                return true;
    return false;
}

TEST(PromptDialogTest, SaveChangesHasAWhiteFrameAndBandUnderTheButtons) {
    test::EnsureApplication();
    SaveChangesDialog dialog(nullptr, kMessage);
    dialog.open();
    const QImage image = dialog.grab().toImage();
    WriteForViewing(dialog, "SaveChangesDialog.png");
    const DialogUnits units(dialog.font());
    ASSERT_EQ(image.size(), units.Size(SaveChangesDialog::kWidth, SaveChangesDialog::kHeight));
    const int w = image.width();
    const int h = image.height();
    // The frame: every pixel of the outermost ring.
    for (const Rect& edge :
         {Rect{0, 0, w, 1}, Rect{0, h - 1, w, h}, Rect{0, 0, 1, h}, Rect{w - 1, 0, w, h}})
        EXPECT_TRUE(test::AllPixels(image, edge, kWhite));
    // The band behind the buttons, left of the first button.
    const QRect band = units.Rect(0, SaveChangesDialog::kBandY, SaveChangesDialog::kWidth,
                                  SaveChangesDialog::kBandHeight);
    const QRect save = dialog.Button(PromptDialog::kOkId)->geometry();
    EXPECT_TRUE(band.contains(save));
    EXPECT_TRUE(band.contains(dialog.Button(PromptDialog::kDontSaveId)->geometry()));
    EXPECT_TRUE(
        test::AllPixels(image, Rect{1, band.top(), save.left(), band.bottom() + 1}, kWhite));
    // Above the band the dialog keeps its own background.
    EXPECT_NE(test::PixelAt(image, w / 2, band.top() - 2), kWhite);
    // The icon's dark pixels at the top left, the message right of it.
    const QRect icon(units.X(PromptDialog::kIconX), units.Y(PromptDialog::kIconY), 32, 32);
    EXPECT_TRUE(AnyPixel(image, icon, [](Color c) { return c == 0; }));
    EXPECT_GT(dialog.Message()->geometry().left(), icon.left());
    dialog.done(PromptDialog::kCancelResult);
}

TEST(PromptDialogTest, OkCancelButtonsSitLeftAndRightBelowTheMessage) {
    test::EnsureApplication();
    OkCancelDialog dialog(nullptr, "Randomize all steps?");
    dialog.open();
    WriteForViewing(dialog, "OkCancelDialog.png");
    const QRect ok = dialog.Button(PromptDialog::kOkId)->geometry();
    const QRect cancel = dialog.Button(PromptDialog::kCancelId)->geometry();
    const QRect message = dialog.Message()->geometry();
    EXPECT_EQ(ok.height(), cancel.height());
    EXPECT_EQ(ok.top(), cancel.top());
    EXPECT_LT(ok.right(), cancel.left());
    EXPECT_LT(message.bottom(), ok.top());
    EXPECT_TRUE(dialog.rect().contains(cancel));
    EXPECT_TRUE(dialog.rect().contains(message));
    dialog.done(PromptDialog::kCancelResult);
}

// Presses a button of the modal dialog that QtPrompts shows, once it is up.
void PressLater(int id) {
    QTimer::singleShot(0, [id] {
        auto* dialog = dynamic_cast<PromptDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        QTest::mouseClick(dialog->Button(id), Qt::LeftButton);
    });
}

TEST(PromptDialogTest, QtPromptsAnswersWithTheButtonPressed) {
    test::EnsureApplication();
    QtPrompts prompts;
    const std::vector<std::pair<int, int>> saveCases = {
        {PromptDialog::kOkId, Prompts::kSave},
        {PromptDialog::kCancelId, Prompts::kCancel},
        {PromptDialog::kDontSaveId, Prompts::kDontSave},
    };
    for (const auto& [id, answer] : saveCases) {
        PressLater(id);
        EXPECT_EQ(prompts.SaveChanges(kMessage), answer) << id;
    }
    PressLater(PromptDialog::kOkId);
    EXPECT_TRUE(prompts.OkCancel("Randomize all steps?"));
    PressLater(PromptDialog::kCancelId);
    EXPECT_FALSE(prompts.OkCancel("Randomize all steps?"));
}

TEST(PromptDialogTest, ImportSoundsTakesANewNameInAFolderWithoutSounds) {
    test::EnsureApplication();
    QTemporaryDir empty;
    const QString typed = empty.filePath("new.wav");
    QTimer::singleShot(0, [&typed] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Import Sounds");
        EXPECT_EQ(dialog->nameFilters(), QStringList{"Wave files (*.wav)"});
        dialog->selectFile(typed);
        // A dialog that refuses the name says so in a message box: both are closed, and
        // the answer below is wrong.
        QTimer::singleShot(0, [] {
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        dialog->close();
    });
    QtPrompts prompts;
    EXPECT_EQ(prompts.ImportSoundFile(), typed.toStdString());
}

TEST(MidiOutputDialog, OffersThePortsThereAreAndKeepsAChosenPortThatIsGone) {
    MidiChoice current;
    current.output = {MidiPortId::kAlsa, "Gone:out 20:0"};
    current.channel = 4;
    current.clock = false;
    MidiOutputDialog dialog(nullptr, current,
                            {{MidiPortId::kJack, "synth:in"}, {MidiPortId::kAlsa, "Pads:in 24:0"}},
                            {{MidiPortId::kJack, "pedal:out"}});
    ASSERT_EQ(dialog.OutputBox().count(), 4);
    EXPECT_EQ(dialog.OutputBox().itemText(1), "JACK: synth:in");
    EXPECT_EQ(dialog.OutputBox().itemText(3), "ALSA: Gone:out 20:0 (not there now)");
    EXPECT_EQ(dialog.InputBox().currentText(), "None");
    EXPECT_EQ(dialog.Choice(), current);

    dialog.OutputBox().setCurrentIndex(2);
    dialog.InputBox().setCurrentIndex(1);
    dialog.ChannelBox().setValue(16);
    dialog.NotesBox().setChecked(false);
    dialog.FollowBox().setChecked(true);
    MidiChoice chosen = current;
    chosen.output = {MidiPortId::kAlsa, "Pads:in 24:0"};
    chosen.input = {MidiPortId::kJack, "pedal:out"};
    chosen.channel = 16;
    chosen.notes = false;
    chosen.followClock = true;
    EXPECT_EQ(dialog.Choice(), chosen);
    dialog.OutputBox().setCurrentIndex(0);
    EXPECT_TRUE(dialog.Choice().output.empty());
}

// What Sound Output says of the buffer and the latency in use: a JACK server's own buffer
// instead of a choice that would do nothing, the latency of what plays now only beside
// the buffer that gives it.
TEST(SoundOutputDialog, ShowsTheBufferAndLatencyInUse) {
    test::EnsureApplication();
    OutputStatus jack;
    jack.api = "jack";
    jack.rate = 48000;
    jack.bufferFrames = 1024;
    jack.latencyMs = 30.5;
    jack.serverSetsBuffer = true;
    OutputStatus pulse;
    pulse.api = "pulse";
    pulse.rate = 44100;
    pulse.bufferFrames = 256;
    pulse.latencyMs = 16.0;
    OutputStatus lost;
    lost.lost = true;
    struct Case {
        OutputStatus status;
        int chosenFrames;
        const char* buffer;
        const char* latency;
    };
    const Case cases[] = {
        {jack, 256, "1024 frames, set by the JACK server",
         "21.3 ms per buffer at 48000 Hz; sound 30.5 ms after a key"},
        {pulse, 256, "256 frames", "5.8 ms per buffer at 44100 Hz; sound 16.0 ms after a key"},
        {pulse, 512, "512 frames", "11.6 ms per buffer at 44100 Hz"},
        {lost, 256, "256 frames", "5.8 ms per buffer at 44100 Hz"},
    };
    for (const Case& c : cases) {
        OutputChoice current;
        current.bufferFrames = c.chosenFrames;
        SoundOutputDialog dialog(nullptr, current, c.status);
        EXPECT_EQ(dialog.BufferText(), c.buffer) << c.buffer;
        EXPECT_EQ(dialog.LatencyText(), c.latency) << c.buffer;
        EXPECT_EQ(dialog.Choice().bufferFrames, c.chosenFrames) << c.buffer;
    }
}

} // namespace
} // namespace mb
