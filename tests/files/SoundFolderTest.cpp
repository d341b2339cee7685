#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "../engine/WaveFiles.h"
#include "ScriptedPrompts.h"
#include "engine/SoundEngine.h"
#include "files/SoundFolder.h"
#include "model/Setup.h"

namespace mb {
namespace {

using test::TempFolder;

std::string CurrentDirectory() {
    return std::filesystem::current_path().string();
}

class SoundFolderTest : public ::testing::Test {
protected:
    SoundFolderTest() : folder(setup, engine, prompts, [this] { ++captionUpdates; }) {
        engine.Init(&setup, &prompts,
                    [] { return std::make_unique<AudioDevice>(AudioDevice::Config{}); });
    }

    std::vector<uint8_t> Sound() const { return test::MonoFile({1000, 2000, 3000}); }

    mb::Setup setup;
    ScriptedPrompts prompts;
    SoundEngine engine;
    SoundFolder folder;
    TempFolder dir;
    int captionUpdates = 0;
};

TEST_F(SoundFolderTest, AFoldersWaveFilesBecomeTheSoundListInFileSystemOrder) {
    dir.Write("b.wav", Sound());
    dir.Write("A.WAV", Sound());
    dir.Write("c.Wav", Sound());
    dir.Write("notes.txt", {1, 2, 3});
    dir.Write("wav", Sound());
    std::filesystem::create_directory(dir.path() + "/folder.wav");
    const std::string before = CurrentDirectory();

    ASSERT_TRUE(folder.ScanSoundFolder(dir.path()));
    EXPECT_EQ(CurrentDirectory(), before);
    EXPECT_EQ(setup.soundNames, (std::vector<std::string>{"A.WAV", "b.wav", "c.Wav"}));
    EXPECT_EQ(setup.soundFolder, dir.path());
    EXPECT_EQ(setup.soundFolderTitle, std::filesystem::path(dir.path()).filename().string());
    EXPECT_EQ(setup.modified, 1);
    EXPECT_TRUE(prompts.notes.empty());
    EXPECT_EQ(engine.soundCount(), 3);
    for (int s = 0; s < kStepsPerLoop; ++s)
        EXPECT_EQ(engine.StepBuffer(0, s) != 0, s < 3) << s;
}

TEST_F(SoundFolderTest, AFolderWithoutWaveFilesGivesAnEmptyListAndNoMessage) {
    dir.Write("readme.txt", {1});
    ASSERT_TRUE(folder.ScanSoundFolder(dir.path()));
    EXPECT_TRUE(setup.soundNames.empty());
    EXPECT_TRUE(prompts.notes.empty());
    EXPECT_EQ(engine.StepBuffer(0, 0), 0u);
}

TEST_F(SoundFolderTest, AFileThatFailsIsReportedOnceAndKeepsItsPlace) {
    dir.Write("1.wav", {'n', 'o', 'p', 'e'});
    dir.Write("2.wav", Sound());
    dir.Write("3.wav", Sound());
    // A pipe is refused unopened, like any file that is not a WAV file.
    ASSERT_EQ(::mkfifo((dir.path() + "/4.wav").c_str(), 0600), 0);
    ASSERT_TRUE(folder.ScanSoundFolder(dir.path()));
    EXPECT_EQ(setup.soundNames, (std::vector<std::string>{"1.wav", "2.wav", "3.wav", "4.wav"}));
    EXPECT_EQ(prompts.notes, std::vector<std::string>{"Failed to load some sounds."});
    EXPECT_EQ(engine.StepBuffer(0, 0), 0u);
    EXPECT_NE(engine.StepBuffer(0, 1), 0u);
}

TEST_F(SoundFolderTest, AFolderThatCannotBeEnteredChangesNothing) {
    dir.Write("a.wav", Sound());
    ASSERT_TRUE(folder.ScanSoundFolder(dir.path()));
    setup.modified = 0;
    const uint32_t voice = engine.StepBuffer(0, 0);
    const std::string file = dir.Write("plain.txt", {1});
    for (const std::string& bad : {dir.path() + "/missing", file, std::string()}) {
        EXPECT_FALSE(folder.ScanSoundFolder(bad)) << bad;
        EXPECT_EQ(setup.soundFolder, dir.path());
        EXPECT_EQ(setup.soundNames, std::vector<std::string>{"a.wav"});
        EXPECT_EQ(setup.modified, 0);
        EXPECT_EQ(engine.StepBuffer(0, 0), voice);
        EXPECT_TRUE(engine.device()->IsBuffer(voice));
    }
}

TEST_F(SoundFolderTest, ARelativeFolderIsStoredAsAnAbsolutePath) {
    dir.Write("a.wav", Sound());
    const std::string before = CurrentDirectory();
    const std::string relative =
        std::filesystem::relative(dir.path(), std::filesystem::current_path()).string();
    ASSERT_TRUE(folder.ScanSoundFolder(relative));
    EXPECT_TRUE(std::filesystem::path(setup.soundFolder).is_absolute());
    EXPECT_TRUE(std::filesystem::equivalent(setup.soundFolder, dir.path()));
    EXPECT_TRUE(engine.IsLoaded(0));
    EXPECT_EQ(CurrentDirectory(), before);
}

TEST_F(SoundFolderTest, CancellingImportSoundsChangesNothingNotEvenTheCaption) {
    setup.soundFolder = "/old";
    setup.soundFolderTitle = "old";
    EXPECT_FALSE(folder.ImportSounds());
    EXPECT_EQ(prompts.asked, std::vector<std::string>{"ImportSoundFile"});
    EXPECT_EQ(setup.soundFolder, "/old");
    EXPECT_EQ(setup.soundFolderTitle, "old");
    EXPECT_EQ(captionUpdates, 0);
}

TEST_F(SoundFolderTest, ImportSoundsUsesTheFolderOfThePickedFile) {
    dir.Write("kick.wav", Sound());
    dir.Write("snare.wav", Sound());
    prompts.importPaths.push_back(dir.path() + "/snare.wav");
    EXPECT_TRUE(folder.ImportSounds());
    EXPECT_EQ(setup.soundFolder, dir.path());
    EXPECT_EQ(captionUpdates, 1);
    EXPECT_EQ(setup.soundNames, (std::vector<std::string>{"kick.wav", "snare.wav"}));
    EXPECT_TRUE(engine.IsLoaded(1));
    // A new name typed into a folder without sounds: an empty list, no message.
    TempFolder empty;
    prompts.importPaths.push_back(empty.path() + "/new.wav");
    EXPECT_TRUE(folder.ImportSounds());
    EXPECT_TRUE(setup.soundNames.empty());
    EXPECT_TRUE(prompts.notes.empty());
    // One typed into a folder that does not exist changes nothing.
    prompts.importPaths.push_back(empty.path() + "/gone/new.wav");
    EXPECT_FALSE(folder.ImportSounds());
    EXPECT_EQ(prompts.notes, std::vector<std::string>{"Path not found."});
    EXPECT_EQ(setup.soundFolder, empty.path());
    EXPECT_EQ(captionUpdates, 2);
}

TEST(SoundFolderOrder, NamesCompareByUpperCasedUtf16CodeUnits) {
    struct Case {
        const char* a;
        const char* b;
    };
    // a comes before b.
    const Case cases[] = {
        {"a.wav", "B.wav"},
        {"B.wav", "c.wav"},
        {"Z.wav", "_.wav"},               // upper-case letters sort before the underscore
        {"10.wav", "9.wav"},              // no numeric sorting
        {"a.wav", "a.wav.wav"},           // a prefix first
        {"f.wav", "\xC3\xA9.wav"},        // é (U+00E9, upper case U+00C9) after f
        {"\xC3\xA9.wav", "\xC3\xBF.wav"}, // É before ÿ (upper case U+0178)
        // U+1F600 is stored as the surrogates D83D DE00, before U+FFFD.
        {"\xF0\x9F\x98\x80.wav", "\xEF\xBF\xBD.wav"},
        // Equal but for case: the bytes decide, so the order is always the same.
        {"A.wav", "a.wav"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(SoundFolder::SoundNameLess(c.a, c.b)) << c.a << " < " << c.b;
        EXPECT_FALSE(SoundFolder::SoundNameLess(c.b, c.a)) << c.b << " < " << c.a;
    }
    EXPECT_FALSE(SoundFolder::SoundNameLess("x.wav", "x.wav"));
    // Bytes that are not UTF-8 still have a place.
    EXPECT_TRUE(SoundFolder::SoundNameLess("a\xFF.wav", "b.wav"));
}

TEST(SoundFolderOrder, TheTitleIsTheLastPathComponent) {
    EXPECT_EQ(SoundFolder::FolderTitle("/home/me/Drums"), "Drums");
    EXPECT_EQ(SoundFolder::FolderTitle("/home/me/Drums/"), "Drums");
    EXPECT_EQ(SoundFolder::FolderTitle("/"), "/");
    EXPECT_EQ(SoundFolder::FolderTitle("kit"), "kit");
}

} // namespace
} // namespace mb
