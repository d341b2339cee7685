#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "FakeDocumentWindow.h"
#include "FakeSoundFolder.h"
#include "ScriptedPrompts.h"
#include "TempFolder.h"
#include "files/PathNames.h"
#include "files/SetupDocument.h"
#include "files/SetupFileFormat.h"
#include "model/Setup.h"

namespace mb {
namespace {

namespace fs = std::filesystem;

class SetupDocumentTest : public ::testing::Test {
protected:
    // A setup file whose sound folder is `folder`, with a few values that differ from
    // a new setup's.
    std::string MakeFile(const std::string& name, const std::string& folder) {
        mb::Setup other;
        other.soundFolder = folder;
        other.bpm = 99.0;
        other.selectedLoop = 3;
        other.stepCount = 12;
        other.muted = 1;
        other.masterVolume = 42;
        other.eValue = 7;
        other.tempoUnit = 1;
        other.loop(2).steps[5].pitch = 12;
        const std::string path = dir / name;
        EXPECT_EQ(SetupDocument::WriteFile(path, other, {0x00445566, 250, 160}), "");
        return path;
    }

    // The setup's state that a failed operation must leave alone.
    std::string Snapshot() const {
        return setup.filePath + "|" + setup.soundFolder + "|" + setup.caption + "|" +
               std::to_string(setup.bpm) + "|" + std::to_string(setup.selectedLoop) + "|" +
               std::to_string(setup.modified) + "|" + std::to_string(setup.loop(2).steps[5].pitch);
    }

    TempFolder dir;
    mb::Setup setup;
    FakeDocumentWindow window;
    ScriptedPrompts prompts;
    FakeSoundFolder sounds{setup};
    SetupDocument doc{setup, prompts, sounds, window};
};

TEST_F(SetupDocumentTest, SaveWritesTheWindowsColourAndPositionAndCleansTheSetup) {
    window.color5 = 0x00A1B2C3;
    window.x = 31;
    window.y = -4;
    setup.modified = 1;
    const std::string path = dir / "song.mbx";
    ASSERT_TRUE(doc.Save(path));
    EXPECT_EQ(setup.filePath, path);
    EXPECT_EQ(setup.modified, 0);
    EXPECT_EQ(window.title, " -  +  \u00F7  x :   song.mbx using: ");

    const auto read = SetupFileFormat::Read(TempFolder::ReadBytes(path));
    ASSERT_EQ(read.status, SetupFileFormat::Status::kOk);
    EXPECT_EQ(read.record.face.color, 0x00A1B2C3u);
    EXPECT_EQ(read.record.face.windowX, 31);
    EXPECT_EQ(read.record.face.windowY, -4);
    EXPECT_TRUE(prompts.notes.empty());
}

TEST_F(SetupDocumentTest, LoadAppliesTheFileToTheSetupAndTheWindowInOrder) {
    const std::string kit = dir / "Kit";
    fs::create_directory(kit);
    const std::string path = MakeFile("song.mbx", kit);
    setup.modified = 1;
    ASSERT_TRUE(doc.Load(path));

    EXPECT_EQ(setup.filePath, path);
    EXPECT_EQ(setup.bpm, 99.0);
    EXPECT_EQ(setup.loop(2).steps[5].pitch, 12);
    EXPECT_EQ(setup.soundFolder, kit);
    EXPECT_EQ(setup.soundFolderTitle, "Kit");
    EXPECT_EQ(setup.modified, 0);
    EXPECT_EQ(sounds.scanned, std::vector<std::string>{kit});
    EXPECT_EQ(window.title, " -  +  \u00F7  x :   song.mbx using: Kit");
    const std::vector<std::string> expected = {"SetTitle",
                                               "SetTempoUnit 1",
                                               "SetTempo 99.000000",
                                               "SetMasterVolume 42",
                                               "SetEValue 7",
                                               "SoundOff",
                                               "Hide",
                                               "SetTitle",
                                               "SelectLoop 3",
                                               "ResizeToColumns 12",
                                               "MoveTo 250 160",
                                               "ApplyColor 4478310",
                                               "Show",
                                               "FitColumnsToWidth",
                                               "RestoreFocus"};
    EXPECT_EQ(window.calls, expected);
    EXPECT_TRUE(prompts.asked.empty());
}

TEST_F(SetupDocumentTest, ATempoThatIsNoNumberOpensAsTheDefaultAndIsToldOnce) {
    mb::Setup other;
    other.bpm = std::nan("");
    const std::string path = dir / "nan.mbx";
    ASSERT_EQ(SetupDocument::WriteFile(path, other, {}), "");
    setup.bpm = 99.0;
    ASSERT_TRUE(doc.Load(path));
    EXPECT_EQ(setup.bpm, kDefaultBpm);
    const std::string notice = "ShowStatus The tempo stored in \"" + path +
                               "\" (nan) is not a finite number: it is 126 BPM.";
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "SetTempo 126.000000"), 1);
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), notice), 1);
    EXPECT_TRUE(prompts.notes.empty());
}

TEST_F(SetupDocumentTest, AGrooveThatCannotBeReadIsToldAndTheRestOpens) {
    mb::Setup other;
    other.bpm = 97.0;
    other.loop(2).swing = 60;
    const std::string path = dir / "swing.mbx";
    ASSERT_EQ(SetupDocument::WriteFile(path, other, {}), "");
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(1619 + 8 + 4);
    file.put(90); // loop 2's swing
    file.close();
    setup.loop(2).swing = 70;
    setup.seed = 9;
    ASSERT_TRUE(doc.Load(path));
    EXPECT_EQ(setup.bpm, 97.0);
    EXPECT_EQ(setup.loop(2).swing, 50);
    EXPECT_EQ(setup.seed, 0u);
    const std::string notice = "ShowStatus The groove settings of \"" + path +
                               "\" could not be read (loop 2's swing 90 out of range (50 to 75)); "
                               "the rest of the setup is loaded.";
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), notice), 1);
    EXPECT_TRUE(prompts.notes.empty());
}

TEST_F(SetupDocumentTest, LoadWithoutPathAsksAndCancelChangesNothing) {
    const std::string before = Snapshot();
    EXPECT_FALSE(doc.Load());
    EXPECT_EQ(prompts.asked, std::vector<std::string>{"OpenSetupPath"});
    EXPECT_EQ(window.calls, std::vector<std::string>{"RestoreFocus"});
    EXPECT_EQ(Snapshot(), before);

    const std::string path = MakeFile("picked.mbx", dir / "Kit");
    prompts.openPaths.push_back(path);
    prompts.okCancelAnswers.push_back(false);
    EXPECT_TRUE(doc.Load());
    EXPECT_EQ(setup.filePath, path);
}

TEST_F(SetupDocumentTest, FailedLoadNamesTheFileAndChangesNothing) {
    const std::string good = MakeFile("good.mbx", dir / "Kit");
    const auto full = TempFolder::ReadBytes(good);
    setup.filePath = "/earlier/file.mbx";
    setup.modified = 1;
    doc.UpdateCaption();
    const std::string before = Snapshot();
    const std::string bad = dir / "bad.mbx";

    // Every shorter file, down to an empty one, is refused as a whole.
    for (size_t n = 0; n < full.size(); ++n) {
        TempFolder::WriteBytes(bad, {full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)});
        prompts.notes.clear();
        ASSERT_FALSE(doc.Load(bad)) << n;
        ASSERT_EQ(Snapshot(), before) << n;
        ASSERT_EQ(prompts.notes.size(), 1u);
        ASSERT_EQ(prompts.notes[0], "The setup file \"" + bad + "\" is truncated: it ends after " +
                                        std::to_string(n) + " bytes.");
    }
    EXPECT_TRUE(sounds.scanned.empty());

    // Any other kind of file, and a setup with a value no setup can hold.
    auto wave = full;
    std::memcpy(wave.data(), "RIFF", 4);
    auto steps = full;
    steps[1606] = 40;
    for (const auto& [bytes, note] :
         {std::pair{wave, "The file \"" + bad + "\" is not a setup file (version 12690.33)."},
          std::pair{steps, "The setup file \"" + bad +
                               "\" is damaged: step count 40 out of range (1 to 16)."}}) {
        TempFolder::WriteBytes(bad, bytes);
        prompts.notes.clear();
        EXPECT_FALSE(doc.Load(bad));
        EXPECT_EQ(prompts.notes, std::vector<std::string>{note});
        EXPECT_EQ(Snapshot(), before);
    }
    EXPECT_TRUE(sounds.scanned.empty());

    prompts.notes.clear();
    EXPECT_FALSE(doc.Load(dir / "missing.mbx"));
    ASSERT_EQ(prompts.notes.size(), 1u);
    EXPECT_EQ(prompts.notes[0], "Cannot open the setup file \"" + (dir / "missing.mbx") +
                                    "\": No such file or directory.");
    EXPECT_FALSE(doc.Load(dir.path().string()));
    EXPECT_EQ(Snapshot(), before);

    // A pipe or a device is refused unopened: reading it could wait for ever.
    ASSERT_EQ(::mkfifo((dir / "pipe.mbx").c_str(), 0600), 0);
    for (const std::string& special : {dir / "pipe.mbx", std::string("/dev/zero")}) {
        prompts.notes.clear();
        EXPECT_FALSE(doc.Load(special));
        EXPECT_EQ(prompts.notes, std::vector<std::string>{"Cannot open the setup file \"" +
                                                          special + "\": Not a regular file."});
    }
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(SetupDocumentTest, FailedSaveKeepsTheOldFileAndTheSetupModified) {
    const std::string path = MakeFile("kept.mbx", "/kit");
    const auto old = TempFolder::ReadBytes(path);
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    setup.modified = 1;
    setup.bpm = 150.0;

    EXPECT_FALSE(doc.Save(path));
    EXPECT_EQ(setup.modified, 1);
    EXPECT_TRUE(setup.filePath.empty());
    EXPECT_EQ(TempFolder::ReadBytes(path), old);
    ASSERT_EQ(prompts.notes.size(), 1u);
    EXPECT_EQ(prompts.notes[0], "Cannot save the setup file \"" + path + "\": Permission denied.");

    const std::string nowhere = dir / "no/such/folder/x.mbx";
    EXPECT_FALSE(doc.Save(nowhere));
    EXPECT_FALSE(fs::exists(nowhere));
    EXPECT_EQ(prompts.notes.back(),
              "Cannot save the setup file \"" + nowhere + "\": No such file or directory.");
    EXPECT_EQ(setup.modified, 1);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST_F(SetupDocumentTest, SaveReplacesAnExistingFileKeepingItsPermissions) {
    const std::string path = MakeFile("song.mbx", "/kit");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    setup.bpm = 150.0;
    ASSERT_TRUE(doc.Save(path));
    EXPECT_EQ(SetupFileFormat::Read(TempFolder::ReadBytes(path)).record.bpm, 150.0);
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
}

TEST_F(SetupDocumentTest, SaveWorksForANameAtTheLengthLimit) {
    const std::string path = dir / (std::string(251, 'n') + ".mbx");
    ASSERT_TRUE(doc.Save(path));
    EXPECT_EQ(TempFolder::ReadBytes(path).size(), 1619u);
}

TEST_F(SetupDocumentTest, SoundFolderMovedWithTheSetupFileIsFoundWithoutAPrompt) {
    // Saved on another machine with the sounds in C:\Beats\Kit; the file now lies in a
    // folder named Kit.
    const fs::path kit = dir.path() / "Kit";
    fs::create_directory(kit);
    const std::string path = MakeFile("Kit/song.mbx", "C:\\Beats\\Kit");
    setup.modified = 1;
    ASSERT_TRUE(doc.Load(path));
    EXPECT_EQ(sounds.scanned, (std::vector<std::string>{"C:\\Beats\\Kit", kit.string()}));
    EXPECT_EQ(setup.soundFolder, kit.string());
    EXPECT_EQ(setup.modified, 0);
    EXPECT_TRUE(prompts.asked.empty());
}

TEST_F(SetupDocumentTest, RelativeSoundFolderIsFoundNextToTheSetupFile) {
    fs::create_directories(dir.path() / "sounds" / "kit");
    const std::string path = MakeFile("demo.mbx", "sounds/kit");
    ASSERT_TRUE(doc.Load(path));
    EXPECT_EQ(setup.soundFolder, (dir.path() / "sounds" / "kit").string());
    EXPECT_TRUE(prompts.asked.empty());
}

TEST_F(SetupDocumentTest, WithoutAWindowTheFirstExistingCandidateIsTheSoundFolder) {
    fs::create_directories(dir.path() / "Kit");
    const std::string setupPath = dir / "Kit/song.mbx";
    EXPECT_EQ(PathNames::ExistingSoundFolder("C:\\Beats\\Kit", setupPath), dir / "Kit");
    EXPECT_EQ(PathNames::ExistingSoundFolder(dir / "Kit", "/elsewhere/x.mbx"), dir / "Kit");
    EXPECT_EQ(PathNames::ExistingSoundFolder("D:\\Other", setupPath), std::nullopt);
    EXPECT_EQ(PathNames::ExistingSoundFolder("", setupPath), std::nullopt);
}

TEST_F(SetupDocumentTest, MissingSoundFolderAsksAndImportEndsClean) {
    const std::string other = dir / "Elsewhere";
    fs::create_directory(other);
    const std::string path = MakeFile("song.mbx", "/gone/Kit");
    prompts.okCancelAnswers.push_back(true);
    sounds.importFolder = other;
    ASSERT_TRUE(doc.Load(path));
    EXPECT_EQ(prompts.asked, std::vector<std::string>{"OkCancel: Problem locating sound "
                                                      "directory:\n/gone/Kit\nDo you want to "
                                                      "try and find it?"});
    EXPECT_EQ(sounds.imports, 1);
    EXPECT_EQ(setup.soundFolder, other);
    EXPECT_EQ(setup.modified, 0);
}

TEST_F(SetupDocumentTest, MissingSoundFolderCancelledKeepsTheSounds) {
    setup.soundNames = {"kick.wav"};
    const std::string path = MakeFile("song.mbx", "/gone/Kit");
    ASSERT_TRUE(doc.Load(path));
    EXPECT_EQ(sounds.imports, 0);
    EXPECT_EQ(setup.soundNames, std::vector<std::string>{"kick.wav"});
    EXPECT_EQ(setup.soundFolder, "/gone/Kit");
    EXPECT_EQ(setup.caption, " -  +  \u00F7  x :   song.mbx using: Kit");
    EXPECT_EQ(setup.modified, 0);
}

TEST_F(SetupDocumentTest, CaptionOfAnUntitledSetup) {
    setup.soundFolderTitle = "Drums";
    doc.UpdateCaption();
    EXPECT_EQ(window.title, " -  +  \u00F7  x :   Untitled using: Drums");
    EXPECT_EQ(setup.caption, window.title);
}

struct DiscardCase {
    const char* name;
    bool modified;
    bool titled;
    std::optional<int> answer;
    std::optional<std::string> saveAsPath; // answer of the Save As dialog
    bool result;
    bool savedAfter; // modified is clear afterwards
};

TEST_F(SetupDocumentTest, ConfirmDiscardAnswers) {
    const std::string titledPath = dir / "titled.mbx";
    const DiscardCase cases[] = {
        {"clean", false, true, std::nullopt, std::nullopt, true, true},
        {"cancel", true, true, Prompts::kCancel, std::nullopt, false, false},
        {"dont save", true, true, Prompts::kDontSave, std::nullopt, true, false},
        {"save titled", true, true, Prompts::kSave, std::nullopt, true, true},
        {"save untitled, save as cancelled", true, false, Prompts::kSave, std::nullopt, false,
         false},
        {"save untitled, save as", true, false, Prompts::kSave, dir / "new.mbx", true, true},
    };
    for (const DiscardCase& c : cases) {
        SCOPED_TRACE(c.name);
        prompts.asked.clear();
        setup.filePath = c.titled ? titledPath : "";
        setup.modified = c.modified;
        if (c.answer)
            prompts.saveChangesAnswers.push_back(*c.answer);
        prompts.savePaths.push_back(c.saveAsPath);
        EXPECT_EQ(doc.ConfirmDiscard(), c.result);
        EXPECT_EQ(setup.modified == 0, c.savedAfter);
        if (!c.modified) {
            EXPECT_TRUE(prompts.asked.empty());
        } else {
            ASSERT_FALSE(prompts.asked.empty());
            EXPECT_EQ(prompts.asked[0],
                      c.titled ? "SaveChanges: Save changes to\n\"" + titledPath + "\"?"
                               : "SaveChanges: Save changes to\n\" Untitled "
                                 "Settings.mbx \"?");
        }
        if (c.answer == Prompts::kSave && !c.titled) {
            EXPECT_EQ(prompts.asked[1], "SaveSetupPath: Untitled Settings.mbx");
        }
        prompts.savePaths.clear();
    }
}

TEST_F(SetupDocumentTest, ConfirmDiscardRefusesWhenTheSaveFails) {
    setup.filePath = dir / "missing-folder/x.mbx";
    setup.modified = 1;
    prompts.saveChangesAnswers.push_back(Prompts::kSave);
    EXPECT_FALSE(doc.ConfirmDiscard());
    EXPECT_EQ(prompts.notes.size(), 1u);
}

TEST_F(SetupDocumentTest, OpenPathTestsTheExtensionInAnyCaseAndFollowsLinks) {
    const std::string song = MakeFile("song.mbx", "/kit");
    const std::string upper = MakeFile("SONG.MBX", "/kit");
    const std::string kvt = MakeFile("old.kvt", "/kit");
    const std::string zq = MakeFile("older.zq", "/kit");
    fs::create_symlink("song.mbx", dir / "song.lnk");
    fs::create_symlink(dir / "notes.txt", dir / "notes.LNK");
    TempFolder::WriteBytes(dir / "real.lnk", {1, 2, 3});
    TempFolder::WriteBytes(dir / "notes.txt", {1, 2, 3});

    struct Case {
        std::string path;
        std::string opened; // the file that becomes filePath; empty: nothing opened
    };
    const Case cases[] = {
        {upper, upper},
        {dir / "notes.txt", ""},
        {dir / "notes.LNK", ""},
        {dir / "real.lnk", ""},
        {kvt, kvt},
        {zq, zq},
        {dir / "song.lnk", song},
        {(dir / "sub/../song.mbx"), song},
    };
    fs::create_directory(dir / "sub");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        setup.filePath.clear();
        prompts.notes.clear();
        doc.OpenPath(c.path);
        EXPECT_EQ(setup.filePath, c.opened);
        EXPECT_TRUE(prompts.notes.empty());
    }
}

TEST_F(SetupDocumentTest, OpenPathNormalisesRelativePathsAndReportsMissingOnes) {
    const std::string song = MakeFile("song.mbx", "/kit");
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    doc.OpenPath("./song.mbx");
    fs::current_path(cwd);
    EXPECT_EQ(setup.filePath, song);

    setup.modified = 0;
    doc.OpenPath(dir / "nothing-here.mbx");
    EXPECT_EQ(prompts.notes, std::vector<std::string>{"Path not found."});
    EXPECT_EQ(setup.filePath, song);
}

TEST_F(SetupDocumentTest, OpenPathStopsWhenTheChangesAreKept) {
    const std::string song = MakeFile("song.mbx", "/kit");
    setup.modified = 1;
    prompts.saveChangesAnswers.push_back(Prompts::kCancel);
    doc.OpenPath(song);
    EXPECT_TRUE(setup.filePath.empty());
    EXPECT_EQ(setup.modified, 1);
}

} // namespace
} // namespace mb
