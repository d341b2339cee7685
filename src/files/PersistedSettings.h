#pragma once

#include <string>

#include "audio/OutputChoice.h"
#include "midi/MidiChoice.h"

namespace mb {

class Setup;
class SettingsStore;
class StepClock;

// The program's entries in the settings store: the association of setup files with
// the program, and the user settings: whether the step clock uses the processor's
// time-stamp counter, where the sound goes, whether the program joins a Link session, and
// the MIDI ports and what goes through them. Every failure is silent. Window thread.
class PersistedSettings {
public:
    // Writes the four association entries, each independently of the others' success.
    // modulePath is the program file (ModulePath() unless a test gives one).
    static void RegisterFileType(SettingsStore& store, const std::string& modulePath);
    // Sets setup.highResTimer, and the clock's flag when a clock is given: off only
    // when the stored text is exactly "off"; anything else, or nothing, means on.
    // Returns the flag.
    static bool ReadHighResSetting(const SettingsStore& store, Setup& setup, StepClock* clock);
    // Stores setup.highResTimer as "on" or "off".
    static void WriteHighResSetting(SettingsStore& store, const Setup& setup);
    // Readable text (the High Contrast view); off unless stored on.
    static bool ReadHighContrast(const SettingsStore& store);
    static void WriteHighContrast(SettingsStore& store, bool on);
    // The sound output chosen last; what is missing or unknown is the default.
    static OutputChoice ReadOutputChoice(const SettingsStore& store);
    static void WriteOutputChoice(SettingsStore& store, const OutputChoice& choice);

    // Whether Link is on: only when the stored text is exactly "on" (off by default).
    static bool ReadLinkSetting(const SettingsStore& store);
    static void WriteLinkSetting(SettingsStore& store, bool on);
    // Whether the JACK transport is followed: as Link's setting.
    static bool ReadJackTransportSetting(const SettingsStore& store);
    static void WriteJackTransportSetting(SettingsStore& store, bool on);

    // The MIDI choice stored last. A port of an unknown back end is no port; a channel
    // that is not a whole number from 1 to 16 is channel 10; notes and clock are on
    // unless stored as exactly "off"; following the input's clock only when stored as
    // exactly "on".
    static MidiChoice ReadMidiChoice(const SettingsStore& store);
    static void WriteMidiChoice(SettingsStore& store, const MidiChoice& choice);

    // The running program's file, read from /proc/self/exe; empty when unreadable.
    static std::string ModulePath();

    static constexpr const char* kExtensionKey = ".mbx";
    static constexpr const char* kTypeKey = "Marrowbeat";
    static constexpr const char* kTypeName = "Marrowbeat";
    static constexpr const char* kTypeDescription = "Marrowbeat Settings File";
    static constexpr const char* kOpenCommandKey = "Marrowbeat\\shell\\open\\command";
    static constexpr const char* kIconKey = "Marrowbeat\\DefaultIcon";
    static constexpr const char* kSettingsKey = "Marrowbeat\\data\\8";
    static constexpr const char* kHighResValue = "highResTimer";
    static constexpr const char* kHighContrastValue = "highContrast";
    static constexpr const char* kOutputKey = "Marrowbeat\\output";
    static constexpr const char* kApiValue = "api";
    static constexpr const char* kDeviceValue = "device";
    static constexpr const char* kBufferValue = "bufferFrames";
    static constexpr const char* kLinkKey = "Marrowbeat\\Link";
    static constexpr const char* kLinkValue = "enabled";
    static constexpr const char* kJackTransportValue = "jack transport";
    static constexpr const char* kMidiKey = "Marrowbeat\\midi";
    static constexpr const char* kMidiOutputApi = "outputApi";
    static constexpr const char* kMidiOutput = "output";
    static constexpr const char* kMidiInputApi = "inputApi";
    static constexpr const char* kMidiInput = "input";
    static constexpr const char* kMidiChannel = "channel";
    static constexpr const char* kMidiNotes = "notes";
    static constexpr const char* kMidiClock = "clock";
    static constexpr const char* kMidiFollowClock = "followClock";
    // The program path is not quoted in the command.
    static constexpr const char* kOpenArgument = " %1";
    static constexpr const char* kIconIndex = ",1";
    static constexpr const char* kOn = "on";
    static constexpr const char* kOff = "off";
};

} // namespace mb
