#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/SequencerPorts.h"
#include "model/Loop.h"
#include "model/Relaxed.h"
#include "platform/AudioDevice.h"

namespace mb {

class Prompts;
class Setup;

// Turns steps into sound. Every loaded sound has one master buffer; every step of every
// loop that names a loaded sound owns a voice duplicated from it, so that steps overlap
// freely and a step fired again restarts from its beginning.
//
// The engine owns the voices itself, one per (loop, step) slot. The step's playback
// handle only says whether the step has a valid voice right now: editing operations that
// clear it (undo, paste, shift) leave the step silent until Assign voice gives it a new
// one, and the voice the slot held is released then, so nothing leaks.
//
// Threads. PlayStep and SilenceStep run on the step-clock thread (and once on the window
// thread at a start, while the step clock is not running); every other method runs on
// the window thread. The two share the step values, the slot handles and the playing
// flags through atomics, and reach the device through separate lanes; a voice may be
// replaced on the window thread while the step clock plays it (the old handle is then
// refused).
class SoundEngine : public StepSound {
public:
    using DeviceOpener = std::function<std::unique_ptr<AudioDevice>()>;

    static constexpr int kMinPitch = -60;
    static constexpr int kMaxPitch = 67;
    static constexpr double kBaseFrequency = 44100.0;
    static constexpr double kSemitoneUp = 1.0594630943592953;
    static constexpr double kSemitoneDown = 0.9438743126816934;
    static constexpr int32_t kMinFrequency = 100;
    static constexpr int32_t kMaxFrequency = 100000;
    static constexpr int32_t kSilentVolume = -10000;
    static constexpr int32_t kMaxPan = 10000;
    // Said when no audio output opens.
    static constexpr const char* kNoDeviceText = "Failed to initialize DirectX.";

    SoundEngine() = default;
    SoundEngine(const SoundEngine&) = delete;
    SoundEngine& operator=(const SoundEngine&) = delete;
    ~SoundEngine() override;

    // Opens the device (the real output unless another opener is given); when none
    // opens, says "Failed to initialize DirectX." and runs on with every operation a
    // harmless no-op. Builds the note frequencies either way.
    void Init(Setup* setup, Prompts* prompts, DeviceOpener opener = {});

    // Releases every master buffer and every voice.
    void ReleaseAll();
    // Loads every sound of the setup's sound list from its sound folder, then gives
    // every step its voice. Says "Could not load sound:..." for a format the device
    // refuses and "Failed to load some sounds." once when any sound failed.
    void LoadAll();
    // One file into the master buffer of sound `index` (0 to soundCount - 1); false when
    // it did not load.
    bool LoadSound(const std::string& path, int index);
    // Stores sound in the step and gives the step a fresh voice (none when the sound
    // is not loaded); nothing for a negative sound. The device's result.
    int32_t AssignVoice(int loop, int step, int sound);

    // StepSound.
    void PlayStep(int loop, int step, DueTimeNs due) override;
    void SilenceStep(int loop, int step, DueTimeNs due) override;
    void SilenceAll() override;
    void MuteAll() override;
    void UnmuteAll() override;

    bool IsPlaying(int loop, int step) const;

    // The step's playback volume in hundredths of a decibel (-10000 to 0) and pan
    // (-10000 to 10000), from its values and the setup's master volume and mute.
    int32_t StepVolume(int loop, int step) const;
    int32_t StepPan(int loop, int step) const;
    // The playback frequency of a pitch on step index `fine` (0 to 15), in hertz.
    int32_t StepFrequency(int pitch, int fine) const;

    // Volume law: step volume v (0 to 127) at master volume m (0 to 100).
    static int32_t VolumeFor(int v, int m);
    // Pan law: pan n (0 to 127, 64 centre).
    static int32_t PanFor(int n);

    double noteFrequency(int pitch) const {
        return noteFrequency_[static_cast<size_t>(pitch - kMinPitch)];
    }
    AudioDevice* device() const { return device_.get(); }
    int soundCount() const { return soundCount_; }
    // Whether sound i has a master buffer.
    bool IsLoaded(int i) const;

private:
    using Lane = AudioMixer::Lane;

    AudioDevice::VoiceId LiveVoice(int loop, int step) const;
    void ApplyVolume(Lane lane, int loop, int step, int64_t when);
    void ApplyPan(Lane lane, int loop, int step, int64_t when);
    void Silence(Lane lane, int loop, int step, int64_t when);
    void ReleaseVoice(int loop, int step);
    static bool ValidSlot(int loop, int step);

    Setup* setup_ = nullptr;
    Prompts* prompts_ = nullptr;
    std::unique_ptr<AudioDevice> device_;
    int soundCount_ = 0;
    // Master buffer of each sound; 0 where loading failed. Window thread.
    std::vector<AudioDevice::BufferId> masterBuffers_;
    std::array<double, kMaxPitch - kMinPitch + 1> noteFrequency_{};
    // The voice each slot owns (0: none), written by the window thread only.
    std::array<std::array<std::atomic<uint32_t>, kStepsPerLoop>, kLoopCount> voices_{};
    // Set while the step's voice has been started and not stopped since.
    std::array<std::array<Relaxed<uint8_t>, kStepsPerLoop>, kLoopCount> playing_{};
};

} // namespace mb
