// The real main window: playback keys, the menus as they are prepared, the commands,
// drops, the close path and the picture of the window.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "dialogs/AboutBox.h"
#include "files/PersistedSettings.h"
#include "files/SetupDocument.h"
#include "model/Setup.h"
#include "model/StepParam.h"
#include "panel/WidgetPanel.h"
#include "widgets/WidgetRegistry.h"

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
    mb::Setup& setup() { return Probe(*window).GetSetup(); }
    WidgetPanel& panel() { return Probe(*window).Panel(); }
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

// A setup keeps the window's place (WindowX/WindowY are what a save stores, MoveTo what an
// open does): saved and opened again and again it stays put, also at a scale factor of 2
// (the test runs a second time with QT_SCALE_FACTOR=2).
TEST_F(WindowTest, TheWindowKeepsItsPlaceThroughSaveAndOpen) {
    Start();
    DocumentWindow& document = *window;
    int32_t x = 100;
    int32_t y = 80;
    for (int round = 0; round < 3; ++round) {
        document.MoveTo(x, y);
        QCoreApplication::processEvents();
        x = document.WindowX();
        y = document.WindowY();
        EXPECT_EQ(x, 100) << "round " << round;
        EXPECT_EQ(y, 80) << "round " << round;
    }
}

TEST_F(WindowTest, SpaceStartsAndStopsAndDigitsJumpOnlyWhilePlaying) {
    Start();
    Key(Qt::Key_3);
    EXPECT_EQ(setup().currentLoop, 0);

    Key(Qt::Key_Space);
    ASSERT_TRUE(Probe(*window).GetSequencer().running());
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

    Probe(*window).ResetFocus();
    Key(Qt::Key_Space);
    EXPECT_FALSE(Probe(*window).GetSequencer().running());
    EXPECT_FALSE(panel().PlayButton().GetState());
}

TEST_F(WindowTest, TheMenusShowTheSetupAsItIsNow) {
    Start();
    QGuiApplication::clipboard()->clear();
    auto file = Menu(MenuBar::kFileMenuId);
    ASSERT_EQ(file.size(), 9u);
    EXPECT_EQ(file[3].id, Command::kSaveSetupAs);
    EXPECT_EQ(file[5].id, Command::kExportMidi) << "right after Export Audio";
    const auto fileMenu = window->Commands().BuildMenu(MenuBar::kFileMenuId);
    EXPECT_TRUE(fileMenu->actions()[7]->isSeparator()) << "the separator follows the exports";
    EXPECT_FALSE(Find(file, Command::kSaveSetup)->enabled);
    setup().modified = 1;
    EXPECT_TRUE(Find(Menu(MenuBar::kFileMenuId), Command::kSaveSetup)->enabled);

    auto edit = Menu(MenuBar::kEditMenuId);
    EXPECT_FALSE(Find(edit, Command::kUndo)->enabled);
    EXPECT_FALSE(Find(edit, Command::kPasteMeasure)->enabled);
    Probe(*window).Controller().CopyMeasure();
    EXPECT_TRUE(Find(Menu(MenuBar::kEditMenuId), Command::kPasteMeasure)->enabled);

    setup().polyphonic = 1;
    setup().tempoUnit = 1;
    auto third = Menu(MenuBar::kThirdMenuId);
    EXPECT_TRUE(Find(third, Command::kPolyphonic)->checked);
    EXPECT_FALSE(Find(third, Command::kMute)->checked);
    EXPECT_TRUE(Find(third, Command::kSamplesPerMeasure)->checked);
    EXPECT_FALSE(Find(third, Command::kBeatsPerMinute)->checked);
    const Item* fade = Find(third, Command::kQuickFade);
    EXPECT_FALSE(fade->enabled);
    EXPECT_FALSE(fade->checked);
    EXPECT_TRUE(Find(third, Command::kHighResTimer)->checked);
    // The additions, after a separator below Kill All Sound: Sound Output..., MIDI
    // Output..., then Link and JACK Transport, off; after another separator the D Dial and
    // E Dial submenus, each with its function checked.
    setup().eDial = 1;
    const std::unique_ptr<QMenu> menu = window->Commands().BuildMenu(MenuBar::kThirdMenuId);
    const QList<QAction*> actions = menu->actions();
    ASSERT_GE(actions.size(), 9);
    const qsizetype n = actions.size();
    EXPECT_EQ(actions[n - 9]->data().toInt(), Command::kKillAllSound);
    EXPECT_TRUE(actions[n - 8]->isSeparator());
    EXPECT_EQ(actions[n - 7]->data().toInt(), 23010);
    EXPECT_EQ(actions[n - 6]->data().toInt(), 23011);
    for (const int at : {5, 4}) {
        const QAction* follow = actions[n - at];
        EXPECT_EQ(follow->data().toInt(), 23017 - at); // Link, JACK Transport
        EXPECT_TRUE(follow->isCheckable());
        EXPECT_FALSE(follow->isChecked());
    }
    EXPECT_TRUE(actions[n - 3]->isSeparator());
    const struct {
        const QAction* item;
        const char* text;
        std::vector<std::string> choices;
        int checked;
    } dials[] = {{actions[n - 2], "D Dial", {"Nothing", "Chance", "Delay", "Repeats"}, 0},
                 {actions[n - 1], "E Dial", {"Nothing", "Transpose"}, 1}};
    for (const auto& dial : dials) {
        EXPECT_EQ(dial.item->text().toStdString(), dial.text);
        ASSERT_NE(dial.item->menu(), nullptr);
        const auto choices = Items(*dial.item->menu());
        ASSERT_EQ(choices.size(), dial.choices.size());
        for (size_t i = 0; i < choices.size(); ++i) {
            EXPECT_EQ(choices[i].text.toStdString(), dial.choices[i]);
            EXPECT_EQ(choices[i].checked, static_cast<int>(i) == dial.checked) << i;
        }
    }
}

// The D and E functions and a step's condition are edits: marked, shown, undone.
TEST_F(WindowTest, GrooveChoicesAreEditsThatUndoTakesBack) {
    Start();
    setup().modified = 0;
    window->Commands().Run({Command::kFirstDDial + 2});
    EXPECT_EQ(setup().dDial, 2);
    EXPECT_EQ(setup().modified, 1);

    auto conditions = Items(*window->Commands().BuildMenu(CommandTable::kConditionMenu, 4));
    // Always, the six named ones, and a submenu of A:B for each B from 2 to 8.
    ASSERT_EQ(conditions.size(), 14u);
    EXPECT_EQ(conditions[13].text.toStdString(), "Every 8 Passes");
    EXPECT_TRUE(conditions[0].checked);
    window->Commands().Run({Command::kFirstCondition + StepCondition::Ratio(3, 4).Code(), 4});
    EXPECT_EQ(setup().loop(0).steps[4].condition, StepCondition::Ratio(3, 4).Code());
    EXPECT_EQ(panel().Column(4).Condition(), StepCondition::Ratio(3, 4));
    EXPECT_EQ(panel().Column(4).ToolTipAt(panel().Column(4).Toggle().GetRect().left,
                                          panel().Column(4).Toggle().GetRect().top),
              "Plays on pass 3 of every 4 (right click: condition)");
    EXPECT_EQ(CommandTable::FromWidgetRightClick(panel().Column(4).Toggle().GetId()).id,
              Command::kShowConditionMenu);

    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(setup().loop(0).steps[4].condition, 0);
    EXPECT_EQ(panel().Column(4).Condition(), StepCondition{});
    EXPECT_EQ(setup().dDial, 2) << "the undo point of the condition came after the D function";
}

TEST_F(WindowTest, TheSoundListNumbersItsItemsAndChecksTheTargetStepsSound) {
    Start();
    // Without sounds the one item stands for sound 0.
    for (int sound : {0, 3}) {
        setup().loop(0).steps[0].sound = static_cast<int16_t>(sound);
        auto none = Menu(CommandTable::kSoundMenu);
        ASSERT_EQ(none.size(), 1u);
        EXPECT_EQ(none[0].text, CommandTable::kNoSounds);
        EXPECT_EQ(none[0].checked, sound == 0);
    }
    for (int i = 0; i < 12; ++i)
        setup().soundNames.push_back("s" + std::to_string(i) + ".wav");
    setup().loop(0).steps[4].sound = 10;
    auto list = Items(*window->Commands().BuildMenu(CommandTable::kSoundMenu, 4));
    ASSERT_EQ(list.size(), 12u);
    EXPECT_EQ(list[0].text, "01: s0.wav");
    EXPECT_EQ(list[8].text, "09: s8.wav");
    EXPECT_EQ(list[9].text, "10: s9.wav");
    EXPECT_EQ(list[11].text, "12: s11.wav");
    for (const Item& item : list)
        EXPECT_EQ(item.checked, item.id == Command::kFirstSound + 10);

    // Choosing another sound is an edit that closing must not lose; the same one is not.
    for (int pass = 0; pass < 2; ++pass) {
        setup().modified = 0;
        window->Commands().Run({Command::kFirstSound + 2, 4});
        EXPECT_EQ(setup().loop(0).steps[4].sound, 2);
        EXPECT_EQ(panel().Column(4).GetItem(kParamSound), 2);
        EXPECT_EQ(setup().modified, pass == 0 ? 1 : 0);
    }
}

TEST_F(WindowTest, CommandsChangeTheSetupOnlyWhenTheyChangeSomething) {
    Start();
    struct Case {
        int command;
        bool modifies;
    };
    const Case cases[] = {
        {Command::kBeatsPerMinute, false},    {Command::kSamplesPerMeasure, true},
        {Command::kSamplesPerMeasure, false}, {Command::kPolyphonic, true},
        {Command::kHighResTimer, false},      {Command::kKillAllSound, false},
        {Command::kSoundOutput, false},       {Command::kMute, true},
    };
    prompts.outputChoices.push_back(OutputChoice{"jack", "system", 512});
    for (const Case& c : cases) {
        setup().modified = 0;
        window->Commands().Run({c.command});
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
    // The sound output chosen is kept for the next start.
    EXPECT_NE(text.find("api=jack"), std::string::npos);
    EXPECT_NE(text.find("bufferFrames=512"), std::string::npos);
}

TEST_F(WindowTest, CtrlEExportsWhilePlayingTheFileTheCommandLineWrites) {
    const std::string path = WriteDemo("demo.mbx", MARROWBEAT_KIT_FOLDER);
    Start(path);
    Key(Qt::Key_Space);
    prompts.notes.clear();
    const std::string exported = Scratch("window.wav");
    prompts.exportChoices.push_back(ExportChoice{exported, 2, true, false});
    Key(Qt::Key_E, Qt::ControlModifier);
    ASSERT_TRUE(Probe(*window).Exporter().Busy());
    QTRY_VERIFY_WITH_TIMEOUT(!Probe(*window).Exporter().Busy(), 30000);
    EXPECT_TRUE(Probe(*window).GetSequencer().running()) << "playing goes on";
    EXPECT_TRUE(prompts.notes.empty());
    EXPECT_FALSE(prompts.progress.empty());
    EXPECT_EQ(prompts.asked.back(), "ShowProgress: Exporting audio to window.wav...");
    EXPECT_EQ(panel().StatusField().GetText(), "window.wav was written.");

    const std::string command = std::string(MARROWBEAT_CLI) + " render " + path + " -o " +
                                Scratch("cli.wav") + " --passes 2 --float > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto bytes = [](const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string expected = bytes(Scratch("cli.wav"));
    EXPECT_GT(expected.size(), 44u);
    EXPECT_TRUE(bytes(exported) == expected);

    // Cancel leaves no file behind.
    fs::remove(exported);
    prompts.cancelProgress = true;
    prompts.exportChoices.push_back(ExportChoice{exported, 200, false, false});
    Key(Qt::Key_E, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(!Probe(*window).Exporter().Busy(), 30000);
    EXPECT_FALSE(fs::exists(exported));
    EXPECT_TRUE(prompts.notes.empty());
}

TEST_F(WindowTest, MidiOutputKeepsWhatIsChosen) {
    Start();
    // Cancel changes nothing; a port that does not open is said, and stays chosen.
    const size_t notes = prompts.notes.size();
    window->Commands().Run({Command::kMidiOutput});
    EXPECT_EQ(prompts.notes.size(), notes);
    MidiChoice chosen;
    chosen.output = {MidiPortId::kAlsa, "Nowhere:in 99:0"};
    chosen.channel = 3;
    chosen.notes = false;
    prompts.midiChoices.push_back(chosen);
    window->Commands().Run({Command::kMidiOutput});
    EXPECT_EQ(prompts.asked.back(), "ChooseMidi: //10");
    ASSERT_EQ(prompts.notes.size(), notes + 1);
    EXPECT_NE(prompts.notes.back().find("\"Nowhere:in 99:0\" did not open"), std::string::npos);
    EXPECT_FALSE(Probe(*window).Midi().sending());
    EXPECT_EQ(Probe(*window).Midi().choice(), chosen);
    EXPECT_EQ(PersistedSettings::ReadMidiChoice(Probe(*window).Settings()), chosen);
}

TEST_F(WindowTest, CtrlSSavesEvenWhenTheMenuWouldShowItDisabled) {
    Start();
    prompts.savePaths.push_back(Scratch("saved.mbx"));
    Key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(setup().filePath, Scratch("saved.mbx"));
    EXPECT_EQ(fs::file_size(Scratch("saved.mbx")), 1619u);
    EXPECT_TRUE(window->windowTitle().contains("saved"));
}

TEST_F(WindowTest, ChangeColorChangesAndMarksOnlyForAnotherColour) {
    Start();
    struct Case {
        bool menu; // the File menu's command, else F12
        std::optional<uint32_t> answer;
        bool changes;
    };
    const Case cases[] = {
        {false, std::nullopt, false},
        {true, std::nullopt, false},
        {true, Probe(*window).Background(), false},
        {false, 0x00203040, true},
        {true, 0x0000A0FF, true},
    };
    for (const Case& c : cases) {
        const Color before = Probe(*window).Background();
        setup().modified = 0;
        prompts.colors.push_back(c.answer);
        if (c.menu)
            window->Commands().Run({Command::kChangeColor});
        else
            Key(Qt::Key_F12);
        EXPECT_EQ(prompts.asked.back(), "PickColor: " + std::to_string(before));
        EXPECT_EQ(Probe(*window).Background() != before, c.changes);
        EXPECT_EQ(setup().modified, c.changes ? 1 : 0);
    }
}

TEST(WindowKeys, EnterAndEscapeActOnTheFieldBeingEditedOrOnTheWindow) {
    enum Focus { kSink, kTempo, kPitch };
    struct Case {
        Focus focus;
        const char* typed;
        int key;
        double bpm;
        int pitch;
        const char* shown; // the field's text afterwards
        bool colourAsked;
        bool open;
    };
    const Case cases[] = {
        {kSink, "", Qt::Key_Return, 126.0, 0, "", true, true},
        {kSink, "", Qt::Key_Escape, 126.0, 0, "", false, false},
        {kTempo, "140", Qt::Key_Return, 140.0, 0, "140", false, true},
        {kTempo, "140", Qt::Key_Escape, 126.0, 0, "126", false, true},
        {kPitch, "12", Qt::Key_Enter, 126.0, 12, "12", false, true},
        // The pitch field takes every keystroke at once; Escape takes them all back.
        {kPitch, "12", Qt::Key_Escape, 126.0, 0, "0", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.focus) + " " + c.typed + " " + std::to_string(c.key));
        test::AppFixture app;
        app.Start();
        WidgetPanel& panel = Probe(*app.window).Panel();
        QLineEdit* field = nullptr;
        if (c.focus == kTempo)
            field = &panel.TempoField().Field();
        else if (c.focus == kPitch)
            field = &panel.Column(0).Dial(kParamPitch)->Field();
        if (field != nullptr) {
            const QRect at = field->geometry();
            app.Click({at.left(), at.top(), at.right() + 1, at.bottom() + 1});
            ASSERT_EQ(app.window->focusWidget(), field);
            app.Key(Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(field, c.typed);
        }
        app.Key(c.key);
        const mb::Setup& setup = Probe(*app.window).GetSetup();
        EXPECT_DOUBLE_EQ(setup.bpm, c.bpm);
        EXPECT_EQ(setup.loop(0).steps[0].pitch, c.pitch);
        EXPECT_EQ(!app.prompts.asked.empty() && app.prompts.asked.back().starts_with("PickColor"),
                  c.colourAsked);
        EXPECT_EQ(app.window->isVisible(), c.open);
        if (field != nullptr) {
            EXPECT_EQ(field->text().toStdString(), c.shown);
            EXPECT_EQ(app.window->focusWidget(),
                      static_cast<QWidget*>(&Probe(*app.window).FocusSink()));
        }
    }
}

TEST_F(WindowTest, EveryHotAreaOfTheFaceTakesTheClicksAtItsCentre) {
    Start();
    const WidgetRegistry& registry = WidgetRegistry::Instance();
    const WidgetOwner* owner = window.get();
    int checked = 0;
    // A windowless widget's click reaches the window, which hands it to the registry.
    for (MWnd* widget : registry.Widgets()) {
        if (widget->GetOwner() != owner || !widget->IsVisible() ||
            widget->TypeName() == MWnd::kTypeName || widget->GetRect().IsEmpty())
            continue;
        const QPoint at = Centre(widget->GetRect());
        SCOPED_TRACE(std::to_string(widget->GetId()) + " at " + std::to_string(at.x()) + "," +
                     std::to_string(at.y()));
        EXPECT_EQ(Under(at), window.get());
        EXPECT_EQ(registry.InputWidgetAt(at.x(), at.y(), owner), widget);
        ++checked;
    }
    // A text field's click reaches the field.
    for (QLineEdit* field : window->findChildren<QLineEdit*>()) {
        const QPoint at = field->geometry().center();
        if (!field->isVisible() || !window->rect().contains(at))
            continue;
        EXPECT_EQ(Under(at), field) << at.x() << "," << at.y();
        ++checked;
    }
    // Sixteen columns of toggle, arrows, field and sliders, the tempo, the dials, the menus,
    // the play and sound buttons and the loop strip.
    EXPECT_GT(checked, 16 * 6);
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

TEST_F(WindowTest, OnlySetupsOpenAndATempoThatIsNoNumberOpensAsTheDefault) {
    Start();
    prompts.notes.clear();
    const QRect frame = window->geometry();
    // A sound under a setup's name, dropped, and a sound picked in the Open dialog.
    const std::string kick = std::string(MARROWBEAT_KIT_FOLDER) + "/01-kick.wav";
    const std::string sound = Scratch("sound.mbx");
    fs::copy_file(kick, sound);
    Drop({QUrl::fromLocalFile(QString::fromStdString(sound))});
    prompts.openPaths.push_back(kick);
    Key(Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(prompts.notes,
              (std::vector<std::string>{
                  "The file \"" + sound + "\" is not a setup file (version 12690.33).",
                  "The file \"" + kick + "\" is not a setup file (version 12690.33)."}));
    EXPECT_EQ(window->geometry(), frame);
    EXPECT_TRUE(setup().filePath.empty());
    EXPECT_EQ(panel().TempoField().Field().GetText(), "126");

    mb::Setup stored;
    stored.bpm = std::nan("");
    stored.masterVolume = 55;
    const std::string path = Scratch("nan.mbx");
    ASSERT_EQ(SetupDocument::WriteFile(path, stored, {}), "");
    setup().bpm = 90.0;
    Drop({QUrl::fromLocalFile(QString::fromStdString(path))});
    EXPECT_EQ(setup().filePath, path);
    EXPECT_EQ(setup().masterVolume, 55);
    EXPECT_EQ(setup().bpm, kDefaultBpm);
    EXPECT_EQ(panel().TempoField().Field().GetText(), "126");
    EXPECT_EQ(panel().StatusField().GetText(),
              "The tempo stored in \"" + path + "\" (nan) is not a finite number: it is 126 BPM.");
    EXPECT_EQ(prompts.notes.size(), 2u);
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
    Click(loop3, Qt::NoModifier, Qt::RightButton);
    LoopPopup& popup = panel().GetLoopPopup();
    ASSERT_TRUE(popup.isVisible());
    EXPECT_EQ(popup.GetLoop(), 2);
    Key(Qt::Key_A);
    EXPECT_FALSE(popup.isVisible());

    Click(loop3, Qt::NoModifier, Qt::RightButton);
    ASSERT_TRUE(popup.isVisible());
    Click(panel().Column(8).Label().GetRect());
    EXPECT_FALSE(popup.isVisible());
}

TEST_F(WindowTest, TheSoundToggleMutesAndTheManualIsAFileAddress) {
    Start();
    Click(panel().MuteButton().GetRect());
    EXPECT_EQ(setup().muted, 1);
    EXPECT_EQ(setup().modified, 1);
    EXPECT_TRUE(Find(Menu(MenuBar::kThirdMenuId), Command::kMute)->checked);
    const QUrl manual(QString::fromStdString(AboutBox::ManualAddress()));
    EXPECT_TRUE(manual.isLocalFile());
    EXPECT_TRUE(fs::exists(manual.toLocalFile().toStdString()));
}

TEST_F(WindowTest, LooksLikeTheReferencePicture) {
    const std::string kit = MARROWBEAT_KIT_FOLDER;
    const std::string demo = WriteDemo("demo.mbx", kit);
    Start(demo);
    Probe(*window).Document().ApplyColor(kColor);
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
