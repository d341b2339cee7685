#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TempFolder.h"
#include "files/PersistedSettings.h"
#include "files/SettingsStore.h"
#include "model/Setup.h"

namespace mb {
namespace {

class PersistedSettingsTest : public ::testing::Test {
protected:
    TempFolder dir;
    SettingsStore store{dir / "marrowbeat/registry.ini"};
    mb::Setup setup;
};

TEST_F(PersistedSettingsTest, RegisterFileTypeWritesTheAssociationUnquoted) {
    PersistedSettings::RegisterFileType(store, "/opt/my beats/marrowbeat");
    EXPECT_EQ(store.ReadString(".mbx", "@"), "Marrowbeat");
    EXPECT_EQ(store.ReadString("Marrowbeat", "@"), "Marrowbeat Settings File");
    EXPECT_EQ(store.ReadString("Marrowbeat\\shell\\open\\command", "@"),
              "/opt/my beats/marrowbeat %1");
    EXPECT_EQ(store.ReadString("Marrowbeat\\DefaultIcon", "@"), "/opt/my beats/marrowbeat,1");

    // A later start from elsewhere repairs the association and keeps the timer setting.
    setup.highResTimer = 0;
    PersistedSettings::WriteHighResSetting(store, setup);
    PersistedSettings::RegisterFileType(store, "/usr/bin/marrowbeat");
    EXPECT_EQ(store.ReadString("Marrowbeat\\shell\\open\\command", "@"), "/usr/bin/marrowbeat %1");
    EXPECT_EQ(store.ReadString("Marrowbeat\\data\\8", "highResTimer"), "off");
}

TEST_F(PersistedSettingsTest, OnlyLowerCaseOffTurnsTheTimerOff) {
    struct Case {
        std::optional<std::string> stored;
        bool on;
    };
    const Case cases[] = {
        {std::nullopt, true}, {"off", false}, {"Off", true},  {"OFF", true},
        {"", true},           {"on", true},   {"off ", true}, {std::string("off\0", 4), false},
    };
    for (const Case& c : cases) {
        TempFolder fresh;
        SettingsStore s(fresh / "registry.ini");
        if (c.stored)
            s.WriteString("Marrowbeat\\data\\8", "highResTimer", *c.stored);
        setup.highResTimer = c.on ? 0 : 1;
        EXPECT_EQ(PersistedSettings::ReadHighResSetting(s, setup, nullptr), c.on)
            << c.stored.value_or("(none)");
        EXPECT_EQ(setup.highResTimer, c.on ? 1 : 0);
    }
}

TEST_F(PersistedSettingsTest, LinkIsOnOnlyWhenStoredExactlyOn) {
    EXPECT_FALSE(PersistedSettings::ReadLinkSetting(store));
    for (const char* text : {"On", "1", "", "off"}) {
        store.WriteString("Marrowbeat\\Link", "enabled", text);
        EXPECT_FALSE(PersistedSettings::ReadLinkSetting(store)) << text;
    }
    PersistedSettings::WriteLinkSetting(store, true);
    EXPECT_EQ(store.ReadString("Marrowbeat\\Link", "enabled"), "on");
    EXPECT_TRUE(PersistedSettings::ReadLinkSetting(store));
    // The timer setting is not touched.
    EXPECT_EQ(store.ReadString("Marrowbeat\\data\\8", "highResTimer"), "");
}

TEST_F(PersistedSettingsTest, TogglingTwiceLeavesOn) {
    for (uint8_t flag : {0, 1}) {
        setup.highResTimer = flag;
        PersistedSettings::WriteHighResSetting(store, setup);
    }
    EXPECT_EQ(store.ReadString("Marrowbeat\\data\\8", "highResTimer"), "on");
    EXPECT_TRUE(PersistedSettings::ReadHighResSetting(store, setup, nullptr));
}

TEST_F(PersistedSettingsTest, ATextCannotForgeAnotherValue) {
    PersistedSettings::RegisterFileType(store, "/tmp/x\n[Marrowbeat\\data\\8]\nhighResTimer=off\\");
    EXPECT_TRUE(PersistedSettings::ReadHighResSetting(store, setup, nullptr));
    EXPECT_EQ(store.ReadString("Marrowbeat\\DefaultIcon", "@"),
              "/tmp/x\n[Marrowbeat\\data\\8]\nhighResTimer=off\\,1");
}

TEST_F(PersistedSettingsTest, TheMidiChoiceComesBackAndWhatIsNotUnderstoodIsTheDefault) {
    EXPECT_EQ(PersistedSettings::ReadMidiChoice(store), MidiChoice{});
    MidiChoice choice;
    choice.output = {"jack", "system:midi_playback_1"};
    choice.input = {"alsa", "Midi Through:Midi Through Port-0 14:0"};
    choice.channel = 16;
    choice.clock = false;
    choice.followClock = true;
    PersistedSettings::WriteMidiChoice(store, choice);
    EXPECT_EQ(PersistedSettings::ReadMidiChoice(store), choice);

    struct Case {
        const char* value;
        const char* text;
        MidiChoice expected;
    };
    MidiChoice noOutput = choice;
    noOutput.output = {};
    MidiChoice channel10 = choice;
    channel10.channel = 10;
    MidiChoice clockOn = choice;
    clockOn.clock = true;
    MidiChoice notFollowing = choice;
    notFollowing.followClock = false;
    const Case cases[] = {
        {"outputApi", "oss", noOutput},      {"outputApi", "JACK", noOutput},
        {"channel", "0", channel10},         {"channel", "17", channel10},
        {"channel", "3x", channel10},        {"channel", "", channel10},
        {"clock", "Off", clockOn},           {"clock", "", clockOn},
        {"followClock", "On", notFollowing},
    };
    for (const Case& c : cases) {
        PersistedSettings::WriteMidiChoice(store, choice);
        store.WriteString("Marrowbeat\\midi", c.value, c.text);
        EXPECT_EQ(PersistedSettings::ReadMidiChoice(store), c.expected) << c.value << "=" << c.text;
    }
}

TEST_F(PersistedSettingsTest, FailuresAreSilent) {
    // The store's folder is a file: nothing can be written, and reads give nothing.
    TempFolder::WriteBytes(dir / "blocked", {1});
    SettingsStore blocked(dir / "blocked/registry.ini");
    PersistedSettings::RegisterFileType(blocked, "/usr/bin/marrowbeat");
    setup.highResTimer = 0;
    PersistedSettings::WriteHighResSetting(blocked, setup);
    EXPECT_EQ(blocked.ReadString(".mbx", "@"), "");
    EXPECT_TRUE(PersistedSettings::ReadHighResSetting(blocked, setup, nullptr));
}

TEST_F(PersistedSettingsTest, StoreLivesUnderTheConfigFolder) {
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = oldConfig ? oldConfig : "";
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    EXPECT_EQ(SettingsStore().filePath(), dir / "marrowbeat/registry.ini");
    ::setenv("XDG_CONFIG_HOME", "", 1);
    const char* home = std::getenv("HOME");
    if (home && *home) {
        EXPECT_EQ(SettingsStore().filePath(),
                  (std::filesystem::path(home) / ".config/marrowbeat/registry.ini").string());
    }
    if (oldConfig)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

TEST(PersistedSettings, ModulePathIsThisProgram) {
    const std::string path = PersistedSettings::ModulePath();
    EXPECT_TRUE(std::filesystem::path(path).is_absolute());
    EXPECT_EQ(std::filesystem::path(path).filename(), "files_tests");
}

} // namespace
} // namespace mb
