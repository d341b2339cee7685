#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioDevice.h"
#include "engine/SequencerPorts.h"
#include "model/Loop.h"

namespace mb {

class Notifier;
class Setup;

// Turns steps into sound. Every loaded sound has one master buffer, kept in the engine's
// table by sound index (0: none, where loading failed); every step of every loop has a
// voice of its own in the device (number loop x 16 + step), so that steps overlap freely
// and a step fired again restarts from its beginning. A step plays the buffer its sound
// index names in the table; a handle of a buffer released since is refused by the
// device. Playing a step is one command to the device: the step's sound, pitch, pan and
// volume and its place on the grid. Only the mixer knows what sounds (IsPlaying asks it).
//
// Threads. TakeStep, PlayStep and SilenceStep run on the step-clock thread (and once on
// the window thread at a start, while the step clock is not running); every other method
// runs on the window thread. The two share the step values and the table through atomics
// (the table is a fixed array, never reallocated) and reach the device through separate
// lanes.
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

    // Opens the device with `opener` (the program hands in its output; without one there
    // is no device); when none opens, tells `notifier` "Failed to initialize DirectX." and
    // runs on with every operation a harmless no-op. Builds the note frequencies either
    // way. The notifier (nothing: tell nobody) hears of sounds that do not load, too.
    void Init(Setup* setup, Notifier* notifier, DeviceOpener opener = {});

    // An engine without a device opens one now and loads the setup's sounds into it;
    // whether it has a device afterwards.
    bool OpenDevice(const DeviceOpener& opener);
    // Releases every master buffer and every voice.
    void ReleaseAll();
    // Loads every sound of the setup's sound list from its sound folder, then gives
    // every step its voice. Says "Could not load sound:..." for a format the device
    // refuses and "Failed to load some sounds." once when any sound failed.
    void LoadAll();
    // One file into the master buffer of sound `index` (0 to soundCount - 1); false when
    // it did not load.
    bool LoadSound(const std::string& path, int index);
    // Stores sound in the step, stopping what the step's voice played; nothing for a
    // negative sound. DSERR_INVALIDPARAM when the sound is in the list but not loaded.
    int32_t AssignVoice(int loop, int step, int sound);

    // StepFollower and StepSound. A step that is on cuts the sound last started when it
    // says so (not polyphonic) and starts its own; the device hears of it as one step.
    void TakeStep(const StepEvent& step) override;
    void RunEnded(uint32_t run) override;
    void FollowRuns(std::shared_ptr<const RunEnds> ends) override;
    void RunBegins(uint32_t run) override;
    void SilenceAll() override;
    void MuteAll() override;
    void UnmuteAll() override;
    int64_t SendAheadNs() const override;
    int64_t LeadNs() const override;
    int64_t EarliestNs(int64_t nowNs) const override;

    // Step-clock thread. TakeStep's sound commands, without telling the device the step
    // is whole: a step that is on cuts the sound last started (with cutsLast) and, when
    // `heard`, starts its own; either way it is the last started from then on (the mixer
    // keeps which voice that is).
    void SoundStep(const StepEvent& step, bool heard);
    // Step-clock thread: the step's sound as its values stand now, at `due`; its voice
    // stops at `due`.
    void PlayStep(int loop, int step, GridTime due);
    void SilenceStep(int loop, int step, GridTime due);

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
    // The master buffer of sound i (0: none). Any thread.
    AudioDevice::BufferId BufferOf(int i) const;
    // The buffer the step's voice plays (0: it is silent): the one its sound named when
    // it was last given a voice. Any thread.
    AudioDevice::BufferId StepBuffer(int loop, int step) const;
    // The device's voice of a step.
    static int VoiceOf(int loop, int step) { return loop * kStepsPerLoop + step; }

private:
    // Stops what the step's voice plays, at once, and takes its buffer away.
    void ClearVoice(int loop, int step);
    static bool ValidSlot(int loop, int step);
    // Window thread: releases every master buffer and empties the table.
    void ReleaseBuffers();
    AudioDevice::VoiceStart StartOf(int step, int pitch, int volume, int pan) const;
    int32_t VolumeOf(int volume) const;

    Setup* setup_ = nullptr;
    Notifier* notifier_ = nullptr;
    // The runs that have ended, which every device the engine opens follows; before
    // device_, so that it outlives the device's audio thread.
    std::shared_ptr<const RunEnds> runEnds_;
    std::vector<std::shared_ptr<const RunEnds>> formerRunEnds_;
    std::unique_ptr<AudioDevice> device_;
    int soundCount_ = 0;
    // Master buffer of each sound of the list; 0 where loading failed. Window thread (or
    // the thread of an offline session) only: the step clock reads stepBuffers_.
    std::vector<AudioDevice::BufferId> buffers_;
    // The master buffer each step's voice plays (0: none), given by AssignVoice and
    // LoadAll and kept until the step gets another: a step whose sound index changes
    // without a new voice (a load whose sound folder is not found) plays what it played.
    // Written on the window thread, read by the step clock's.
    std::array<std::atomic<AudioDevice::BufferId>, kLoopCount * kStepsPerLoop> stepBuffers_{};
    std::array<double, kMaxPitch - kMinPitch + 1> noteFrequency_{};
};

} // namespace mb
