#include "files/PersistedSettings.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include "engine/StepClock.h"
#include "files/SettingsStore.h"
#include "model/Setup.h"

namespace mb {

std::string PersistedSettings::ModulePath() {
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string{} : path.string();
}

void PersistedSettings::RegisterFileType(SettingsStore& store, const std::string& modulePath) {
    store.WriteString(kOpenCommandKey, SettingsStore::kDefaultValue, modulePath + kOpenArgument);
    store.WriteString(kTypeKey, SettingsStore::kDefaultValue, kTypeDescription);
    store.WriteString(kIconKey, SettingsStore::kDefaultValue, modulePath + kIconIndex);
    store.WriteString(kExtensionKey, SettingsStore::kDefaultValue, kTypeName);
}

bool PersistedSettings::ReadHighResSetting(const SettingsStore& store,
                                           Setup& setup,
                                           StepClock* clock) {
    const bool on = store.ReadString(kSettingsKey, kHighResValue) != kOff;
    setup.highResTimer = on ? 1 : 0;
    if (clock)
        clock->SetUseCpuClock(on);
    return on;
}

void PersistedSettings::WriteHighResSetting(SettingsStore& store, const Setup& setup) {
    store.WriteString(kSettingsKey, kHighResValue, setup.highResTimer ? kOn : kOff);
}

bool PersistedSettings::ReadHighContrast(const SettingsStore& store) {
    return store.ReadString(kSettingsKey, kHighContrastValue) == kOn;
}

void PersistedSettings::WriteHighContrast(SettingsStore& store, bool on) {
    store.WriteString(kSettingsKey, kHighContrastValue, on ? kOn : kOff);
}

OutputChoice PersistedSettings::ReadOutputChoice(const SettingsStore& store) {
    OutputChoice choice;
    const std::string api = store.ReadString(kOutputKey, kApiValue);
    if (api == "pulse" || api == "alsa" || api == "jack")
        choice.api = api;
    choice.device = store.ReadString(kOutputKey, kDeviceValue);
    const std::string frames = store.ReadString(kOutputKey, kBufferValue);
    int n = 0;
    const auto [end, error] = std::from_chars(frames.data(), frames.data() + frames.size(), n);
    if (error == std::errc{} && end == frames.data() + frames.size() &&
        n >= OutputChoice::kMinBufferFrames && n <= OutputChoice::kMaxBufferFrames)
        choice.bufferFrames = n;
    return choice;
}

void PersistedSettings::WriteOutputChoice(SettingsStore& store, const OutputChoice& choice) {
    store.WriteString(kOutputKey, kApiValue, choice.api);
    store.WriteString(kOutputKey, kDeviceValue, choice.device);
    store.WriteString(kOutputKey, kBufferValue, std::to_string(choice.bufferFrames));
}

bool PersistedSettings::ReadLinkSetting(const SettingsStore& store) {
    return store.ReadString(kLinkKey, kLinkValue) == kOn;
}

void PersistedSettings::WriteLinkSetting(SettingsStore& store, bool on) {
    store.WriteString(kLinkKey, kLinkValue, on ? kOn : kOff);
}

bool PersistedSettings::ReadJackTransportSetting(const SettingsStore& store) {
    return store.ReadString(kLinkKey, kJackTransportValue) == kOn;
}

void PersistedSettings::WriteJackTransportSetting(SettingsStore& store, bool on) {
    store.WriteString(kLinkKey, kJackTransportValue, on ? kOn : kOff);
}

namespace {

MidiPortId ReadPort(const SettingsStore& store, const char* apiValue, const char* nameValue) {
    const std::string api = store.ReadString(PersistedSettings::kMidiKey, apiValue);
    if (api != MidiPortId::kJack && api != MidiPortId::kAlsa)
        return {};
    return {api, store.ReadString(PersistedSettings::kMidiKey, nameValue)};
}

} // namespace

MidiChoice PersistedSettings::ReadMidiChoice(const SettingsStore& store) {
    MidiChoice choice;
    choice.output = ReadPort(store, kMidiOutputApi, kMidiOutput);
    choice.input = ReadPort(store, kMidiInputApi, kMidiInput);
    const std::string channel = store.ReadString(kMidiKey, kMidiChannel);
    int n = 0;
    const char* end = channel.data() + channel.size();
    const auto [stop, error] = std::from_chars(channel.data(), end, n);
    if (error == std::errc{} && stop == end && n >= 1 && n <= 16)
        choice.channel = n;
    choice.notes = store.ReadString(kMidiKey, kMidiNotes) != kOff;
    choice.clock = store.ReadString(kMidiKey, kMidiClock) != kOff;
    choice.followClock = store.ReadString(kMidiKey, kMidiFollowClock) == kOn;
    return choice;
}

void PersistedSettings::WriteMidiChoice(SettingsStore& store, const MidiChoice& choice) {
    store.WriteString(kMidiKey, kMidiOutputApi, choice.output.empty() ? "" : choice.output.api);
    store.WriteString(kMidiKey, kMidiOutput, choice.output.empty() ? "" : choice.output.name);
    store.WriteString(kMidiKey, kMidiInputApi, choice.input.empty() ? "" : choice.input.api);
    store.WriteString(kMidiKey, kMidiInput, choice.input.empty() ? "" : choice.input.name);
    store.WriteString(kMidiKey, kMidiChannel, std::to_string(choice.channel));
    store.WriteString(kMidiKey, kMidiNotes, choice.notes ? kOn : kOff);
    store.WriteString(kMidiKey, kMidiClock, choice.clock ? kOn : kOff);
    store.WriteString(kMidiKey, kMidiFollowClock, choice.followClock ? kOn : kOff);
}

} // namespace mb
