// The real main window: playback keys, the menus as they are prepared, the commands,
// drops, the close path and the picture of the window.
#include <filesystem>
#include <fstream>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/AboutBox.h"
#include "files/SetupDocument.h"
#include "model/Setup.h"
#include "model/StepParam.h"
#include "panel/WidgetPanel.h"

namespace mb {
namespace {

namespace fs = std::filesystem;

// One menu item as shown.
struct Item {
    int id;
    QString text;
    bool enabled;
    bool checkable;
    bool checked;
};

std::vector<Item> Items(const QMenu& menu) {
    std::vector<Item> items;
    for (const QAction* a : menu.actions()) {
        if (!a->isSeparator())
            items.push_back(
                {a->data().toInt(), a->text(), a->isEnabled(), a->isCheckable(), a->isChecked()});
    }
    return items;
}

const Item* Find(const std::vector<Item>& items, int id) {
    for (const Item& item : items)
        if (item.id == id)
            return &item;
    return nullptr;
}

class WindowTest : public ::testing::Test, protected test::AppFixture {
protected:
    mb::Setup& setup() { return window->GetSetup(); }
    WidgetPanel& panel() { return window->Panel(); }
    std::vector<Item> Menu(int id) { return Items(*window->Commands().BuildMenu(id)); }
    void Drop(const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(300, 80), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &enter);
        QDropEvent drop(QPointF(300, 80), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &drop);
        QCoreApplication::processEvents();
    }
};

TEST_F(WindowTest, SpaceStartsAndStopsAndDigitsJumpOnlyWhilePlaying) {
    Start();
    Key(Qt::Key_3);
    EXPECT_EQ(setup().currentLoop, 0);

    Key(Qt::Key_Space);
    ASSERT_TRUE(window->GetSequencer().running());
    EXPECT_TRUE(panel().PlayButton().GetState());
    setup().passCount = 2;
    Key(Qt::Key_3);
    EXPECT_EQ(setup().currentLoop, 2);
    EXPECT_EQ(setup().passCount, 0);
    EXPECT_EQ(setup().selectedLoop, 0);
    EXPECT_EQ(panel().LoopStrip().GetPlaying(), 2);

    // A text field with the focus keeps its digits.
    panel().TempoField().Field().setFocus();
    Key(Qt::Key_5);
    EXPECT_EQ(setup().currentLoop, 2);

    window->ResetFocus();
    Key(Qt::Key_Space);
    EXPECT_FALSE(window->GetSequencer().running());
    EXPECT_FALSE(panel().PlayButton().GetState());
}

TEST_F(WindowTest, TheMenusShowTheSetupAsItIsNow) {
    Start();
    QGuiApplication::clipboard()->clear();
    auto file = Menu(CommandTable::kFileMenu);
    ASSERT_EQ(file.size(), 7u);
    EXPECT_EQ(file[0].text, "&Open Setup...\tCtrl+O");
    EXPECT_FALSE(Find(file, CommandTable::kSaveSetup)->enabled);
    setup().modified = 1;
    EXPECT_TRUE(Find(Menu(CommandTable::kFileMenu), CommandTable::kSaveSetup)->enabled);

    auto edit = Menu(CommandTable::kEditMenu);
    EXPECT_FALSE(Find(edit, CommandTable::kUndo)->enabled);
    EXPECT_FALSE(Find(edit, CommandTable::kPasteMeasure)->enabled);
    window->Controller().CopyMeasure();
    EXPECT_TRUE(Find(Menu(CommandTable::kEditMenu), CommandTable::kPasteMeasure)->enabled);

    setup().polyphonic = 1;
    setup().tempoUnit = 1;
    auto third = Menu(CommandTable::kThirdMenu);
    EXPECT_TRUE(Find(third, CommandTable::kPolyphonic)->checked);
    EXPECT_FALSE(Find(third, CommandTable::kMute)->checked);
    EXPECT_TRUE(Find(third, CommandTable::kSamplesPerMeasure)->checked);
    EXPECT_FALSE(Find(third, CommandTable::kBeatsPerMinute)->checked);
    const Item* fade = Find(third, CommandTable::kQuickFade);
    EXPECT_FALSE(fade->enabled);
    EXPECT_FALSE(fade->checked);
    EXPECT_TRUE(Find(third, CommandTable::kHighResTimer)->checked);
    // Link, off, after a separator below Kill All Sound.
    const std::unique_ptr<QMenu> menu = window->Commands().BuildMenu(CommandTable::kThirdMenu);
    const QList<QAction*> actions = menu->actions();
    ASSERT_GE(actions.size(), 3);
    EXPECT_EQ(actions[actions.size() - 3]->data().toInt(), CommandTable::kKillAllSound);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    const QAction* link = actions.back();
    EXPECT_EQ(link->data().toInt(), CommandTable::kLink);
    EXPECT_EQ(link->text(), "Link");
    EXPECT_TRUE(link->isCheckable());
    EXPECT_FALSE(link->isChecked());
}

TEST_F(WindowTest, TheSoundListNumbersItsItemsAndChecksTheTargetStepsSound) {
    Start();
    auto none = Menu(CommandTable::kSoundMenu);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].text, CommandTable::kNoSounds);
    for (int i = 0; i < 12; ++i)
        setup().soundNames.push_back("s" + std::to_string(i) + ".wav");
    panel().GetMenuBar().SetSoundStep(4);
    setup().loop(0).steps[4].sound = 10;
    auto list = Menu(CommandTable::kSoundMenu);
    ASSERT_EQ(list.size(), 12u);
    EXPECT_EQ(list[0].text, "01: s0.wav");
    EXPECT_EQ(list[8].text, "09: s8.wav");
    EXPECT_EQ(list[9].text, "10: s9.wav");
    EXPECT_EQ(list[11].text, "12: s11.wav");
    for (const Item& item : list)
        EXPECT_EQ(item.checked, item.id == CommandTable::kFirstSound + 10);

    // Choosing a sound changes the step but does not mark the setup modified.
    window->Commands().OnCommand(CommandTable::kFirstSound + 2);
    EXPECT_EQ(setup().loop(0).steps[4].sound, 2);
    EXPECT_EQ(panel().Column(4).GetItem(kParamSound), 2);
    EXPECT_EQ(setup().modified, 0);
}

TEST_F(WindowTest, CommandsChangeTheSetupOnlyWhenTheyChangeSomething) {
    Start();
    struct Case {
        int command;
        bool modifies;
    };
    const Case cases[] = {
        {CommandTable::kBeatsPerMinute, false},
        {CommandTable::kSamplesPerMeasure, true},
        {CommandTable::kSamplesPerMeasure, false},
        {CommandTable::kPolyphonic, true},
        {CommandTable::kHighResTimer, false},
        {CommandTable::kKillAllSound, false},
        {CommandTable::kMute, true},
    };
    for (const Case& c : cases) {
        setup().modified = 0;
        window->Commands().OnCommand(c.command);
        EXPECT_EQ(setup().modified != 0, c.modifies) << c.command;
    }
    EXPECT_EQ(setup().tempoUnit, 1);
    EXPECT_EQ(panel().TempoField().GetUnit(), 1);
    EXPECT_EQ(setup().polyphonic, 1);
    EXPECT_EQ(setup().highResTimer, 0);
    EXPECT_EQ(setup().muted, 1);
    EXPECT_FALSE(panel().MuteButton().GetState());
    std::ifstream settings(Scratch("settings.ini"));
    const std::string text((std::istreambuf_iterator<char>(settings)), {});
    EXPECT_NE(text.find("off"), std::string::npos);
}

TEST_F(WindowTest, CtrlSSavesEvenWhenTheMenuWouldShowItDisabled) {
    Start();
    prompts.savePaths.push_back(Scratch("saved.mbx"));
    Key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(setup().filePath, Scratch("saved.mbx"));
    EXPECT_EQ(fs::file_size(Scratch("saved.mbx")), 1619u);
    EXPECT_TRUE(window->windowTitle().contains("saved"));
}

TEST_F(WindowTest, F12AndEnterAskForAColourAndTheCurrentOneChangesNothing) {
    Start();
    prompts.colors.push_back(window->Background());
    Key(Qt::Key_Return);
    EXPECT_EQ(prompts.asked.back().rfind("PickColor", 0), 0u);
    EXPECT_EQ(setup().modified, 0);

    const Color before = window->Background();
    prompts.colors.push_back(0x00203040);
    Key(Qt::Key_F12);
    EXPECT_NE(window->Background(), before);
    EXPECT_EQ(setup().modified, 1);
}

TEST_F(WindowTest, DroppingThreeFilesOpensOnlyTheFirst) {
    Start();
    const std::string first = WriteDemo("first.mbx", Scratch("nowhere"));
    const std::string second = WriteDemo("second.mbx", Scratch("nowhere"));
    ASSERT_FALSE(first.empty());
    prompts.okCancelAnswers.push_back(false);
    Drop({QUrl::fromLocalFile(QString::fromStdString(first)),
          QUrl::fromLocalFile(QString::fromStdString(second)),
          QUrl::fromLocalFile(QString::fromStdString(second))});
    EXPECT_EQ(fs::path(setup().filePath).filename(), "first.mbx");
    EXPECT_TRUE(window->windowTitle().contains("first"));
    EXPECT_EQ(setup().modified, 0);
}

TEST_F(WindowTest, AnUnquotedCommandLineWithSpacesOpensAsOnePath) {
    const std::string path = WriteDemo("my demo setup.mbx", Scratch("nowhere"));
    prompts.okCancelAnswers.push_back(false);
    Start(path);
    EXPECT_EQ(setup().filePath, path);
    EXPECT_EQ(setup().modified, 0);
}

TEST_F(WindowTest, ClosingAsksOnlyWithChangesAndCancelKeepsTheWindow) {
    Start();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(prompts.asked.empty());

    window->show();
    setup().modified = 1;
    prompts.saveChangesAnswers.push_back(Prompts::kCancel);
    Key(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(prompts.asked.size(), 1u);
    EXPECT_EQ(prompts.asked[0], "SaveChanges: Save changes to\n\" Untitled Settings.mbx \"?");

    // Escape goes through the same check.
    prompts.saveChangesAnswers.push_back(Prompts::kCancel);
    Key(Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
    prompts.saveChangesAnswers.push_back(Prompts::kDontSave);
    Key(Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowTest, SaveInTheCloseCheckSavesFirstAndACancelledSaveAsKeepsTheWindow) {
    Start();
    setup().modified = 1;
    prompts.saveChangesAnswers.push_back(Prompts::kSave);
    window->close();
    EXPECT_TRUE(window->isVisible());

    prompts.saveChangesAnswers.push_back(Prompts::kSave);
    prompts.savePaths.push_back(Scratch("closing.mbx"));
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(fs::exists(Scratch("closing.mbx")));
    EXPECT_EQ(setup().modified, 0);
}

TEST_F(WindowTest, OnlyTheWidthResizesAndAResizeMarksTheSetupModified) {
    Start();
    EXPECT_EQ(window->minimumSize(), QSize(MainWindow::kMinClientWidth, MainWindow::kClientHeight));
    EXPECT_EQ(window->maximumSize(), QSize(MainWindow::kClientWidth, MainWindow::kClientHeight));
    window->resize(300, MainWindow::kClientHeight);
    EXPECT_EQ(setup().stepCount, (300 - WidgetPanel::kColumnsLeft) / WidgetPanel::kColumnPitch);
    EXPECT_EQ(setup().modified, 1);
}

TEST_F(WindowTest, APositionOffEveryScreenComesBackOntoTheNearest) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize size(707, 190);
    const QPoint inside = area.topLeft() + QPoint(10, 10);
    EXPECT_EQ(MainWindow::VisiblePosition(inside, size), inside);
    const QPoint away = MainWindow::VisiblePosition(QPoint(-5000, 100000), size);
    EXPECT_TRUE(area.contains(QRect(away, size).topLeft()));
    EXPECT_GE(away.x(), area.left());
    EXPECT_LE(away.y() + size.height() - 1,
              std::max(area.bottom(), area.top() + size.height() - 1));
}

TEST_F(WindowTest, AnyKeyOrClickClosesTheLoopPopup) {
    Start();
    const Rect loop3 = panel().LoopStrip().ButtonRect(2);
    QTest::mouseClick(window.get(), Qt::RightButton, Qt::NoModifier, Centre(loop3));
    LoopPopup& popup = panel().GetLoopPopup();
    ASSERT_TRUE(popup.isVisible());
    EXPECT_EQ(popup.GetLoop(), 2);
    Key(Qt::Key_A);
    EXPECT_FALSE(popup.isVisible());

    QTest::mouseClick(window.get(), Qt::RightButton, Qt::NoModifier, Centre(loop3));
    ASSERT_TRUE(popup.isVisible());
    Click(panel().Column(8).Label().GetRect());
    EXPECT_FALSE(popup.isVisible());
}

TEST_F(WindowTest, TheSoundToggleMutesAndTheManualIsAFileAddress) {
    Start();
    Click(panel().MuteButton().GetRect());
    EXPECT_EQ(setup().muted, 1);
    EXPECT_EQ(setup().modified, 1);
    EXPECT_TRUE(Find(Menu(CommandTable::kThirdMenu), CommandTable::kMute)->checked);
    const QUrl manual(QString::fromStdString(AboutBox::ManualAddress()));
    EXPECT_TRUE(manual.isLocalFile());
    EXPECT_TRUE(fs::exists(manual.toLocalFile().toStdString()));
}

TEST_F(WindowTest, LooksLikeTheReferencePicture) {
    const std::string kit = MARROWBEAT_KIT_FOLDER;
    const std::string demo = WriteDemo("demo.mbx", kit);
    Start(demo);
    window->ApplyColor(kColor);
    QImage image(window->size(), QImage::Format_RGB32);
    window->render(&image);
    const QString reference = QStringLiteral(MARROWBEAT_WINDOW_REFERENCE);
    if (qEnvironmentVariableIsSet("MARROWBEAT_WRITE_REFERENCE")) {
        ASSERT_TRUE(image.save(reference));
    }
    const QImage expected = QImage(reference).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(expected.isNull()) << "no reference picture";
    ASSERT_EQ(expected.size(), image.size());
    int differing = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            differing += image.pixel(x, y) != expected.pixel(x, y);
    // Font rendering may differ by a few pixels between machines; the face may not.
    EXPECT_LT(differing, image.width() * image.height() / 100);
}

} // namespace
} // namespace mb
