#include "engine/SoundEngine.h"

#include <algorithm>
#include <cmath>

#include "engine/WaveReader.h"
#include "model/Setup.h"
#include "platform/Prompts.h"
#include "platform/RtAudioOutput.h"

namespace mb {

namespace {

constexpr const char* kCouldNotLoadText = "Could not load sound:\n";
constexpr const char* kErrorText = "\nError: ";
constexpr const char* kSomeFailedText = "Failed to load some sounds.";
// 1/127: step volume and pan values run from 0 to 127.
constexpr double kPerStepValue = 0.007874015748031496;
// Each later step of a loop sounds a little higher than step 0: the step index scales
// the frequency by these factors per index, up or down.
constexpr double kFineUp = 0.00059465;
constexpr double kFineDown = 0.00056125;

} // namespace

SoundEngine::~SoundEngine() {
    if (device_)
        ReleaseAll();
    device_.reset();
}

void SoundEngine::Init(Setup* setup, Prompts* prompts, DeviceOpener opener) {
    setup_ = setup;
    prompts_ = prompts;
    device_ = opener ? opener() : RtAudioOutput::Open();
    if (!device_ && prompts_ != nullptr)
        prompts_->ShowNote(kNoDeviceText);

    // Each entry from its neighbour, not from a power.
    const auto zero = static_cast<size_t>(-kMinPitch);
    noteFrequency_[zero] = kBaseFrequency;
    for (size_t i = zero + 1; i < noteFrequency_.size(); ++i)
        noteFrequency_[i] = noteFrequency_[i - 1] * kSemitoneUp;
    for (size_t i = zero; i-- > 0;)
        noteFrequency_[i] = noteFrequency_[i + 1] * kSemitoneDown;
    for (auto& loop : playing_)
        for (auto& flag : loop)
            flag = 0;
}

bool SoundEngine::ValidSlot(int loop, int step) {
    return loop >= 0 && loop < kLoopCount && step >= 0 && step < kStepsPerLoop;
}

bool SoundEngine::IsLoaded(int i) const {
    return i >= 0 && i < static_cast<int>(masterBuffers_.size()) &&
           masterBuffers_[static_cast<size_t>(i)] != 0;
}

void SoundEngine::ReleaseVoice(int loop, int step) {
    const auto l = static_cast<size_t>(loop);
    const auto s = static_cast<size_t>(step);
    StepPlayback& playback = setup_->loop(loop).steps[s].playback;
    playing_[l][s] = 0;
    playback.voice = 0;
    const uint32_t voice = voices_[l][s].exchange(0, std::memory_order_acq_rel);
    if (voice != 0 && device_)
        device_->ReleaseVoice(voice);
}

void SoundEngine::ReleaseAll() {
    if (setup_ == nullptr)
        return;
    for (AudioDevice::BufferId& id : masterBuffers_) {
        if (id != 0 && device_)
            device_->ReleaseBuffer(id);
        id = 0;
    }
    // Every slot's voice goes, whatever sound its step names now.
    for (int loop = 0; loop < kLoopCount; ++loop) {
        for (int step = 0; step < kStepsPerLoop; ++step) {
            ReleaseVoice(loop, step);
            setup_->loop(loop).steps[static_cast<size_t>(step)].playback.ready = 0;
        }
    }
}

bool SoundEngine::LoadSound(const std::string& path, int index) {
    if (!device_ || index < 0 || index >= static_cast<int>(masterBuffers_.size()))
        return false;
    AudioDevice::BufferId& master = masterBuffers_[static_cast<size_t>(index)];
    WaveReader reader;
    if (reader.Open(path) != 0)
        return false;
    if (reader.StartData() != 0)
        return false;
    if (master != 0) {
        device_->ReleaseBuffer(master);
        master = 0;
    }
    const uint64_t dataBytes = reader.dataChunk().size;
    // A data chunk that claims more than the file holds fails as its read would, without
    // first making a buffer of the claimed size.
    if (dataBytes > reader.BytesLeftInFile())
        return false;
    AudioDevice::BufferId id = 0;
    // One byte more than the data.
    const int32_t result = device_->CreateSoundBuffer(*reader.format(), dataBytes + 1, &id);
    if (result != AudioDevice::DS_OK) {
        if (prompts_ != nullptr)
            prompts_->ShowNote(kCouldNotLoadText + path + kErrorText + std::to_string(result));
        return false;
    }
    uint8_t* data = nullptr;
    uint64_t size = 0;
    uint64_t read = 0;
    if (device_->Lock(id, &data, &size) != AudioDevice::DS_OK ||
        reader.Read(size, data, &read) != 0) {
        // A half-read buffer is not kept: its steps stay silent instead of playing it.
        device_->ReleaseBuffer(id);
        return false;
    }
    device_->Unlock(id, read);
    master = id;
    return true;
}

void SoundEngine::LoadAll() {
    for (AudioDevice::BufferId id : masterBuffers_)
        if (id != 0 && device_)
            device_->ReleaseBuffer(id);
    soundCount_ = static_cast<int>(setup_->soundNames.size());
    masterBuffers_.assign(setup_->soundNames.size(), 0);
    if (!device_)
        return;

    bool failed = false;
    const std::string& folder = setup_->soundFolder;
    for (size_t i = 0; i < setup_->soundNames.size(); ++i) {
        std::string path = folder;
        if (!path.empty() && path.back() != '/')
            path += '/';
        path += setup_->soundNames[i];
        if (!LoadSound(path, static_cast<int>(i)))
            failed = true;
    }
    if (failed && prompts_ != nullptr)
        prompts_->ShowNote(kSomeFailedText);

    for (int loop = 0; loop < kLoopCount; ++loop) {
        for (int step = 0; step < kStepsPerLoop; ++step) {
            Step& s = setup_->loop(loop).steps[static_cast<size_t>(step)];
            const int sound = s.sound;
            if (sound >= 0 && sound < soundCount_ && IsLoaded(sound)) {
                AssignVoice(loop, step, sound);
                s.playback.ready = 1;
            }
        }
    }
}

int32_t SoundEngine::AssignVoice(int loop, int step, int sound) {
    if (setup_ == nullptr || !ValidSlot(loop, step))
        return AudioDevice::DSERR_INVALIDPARAM;
    if (sound < 0)
        return AudioDevice::DS_OK;
    Step& s = setup_->loop(loop).steps[static_cast<size_t>(step)];
    s.sound = static_cast<int16_t>(sound);
    if (sound >= soundCount_) {
        ReleaseVoice(loop, step);
        s.playback.ready = 0;
        return AudioDevice::DS_OK;
    }
    s.playback.ready = 0;
    ReleaseVoice(loop, step);
    if (!device_)
        return AudioDevice::DS_OK;
    AudioDevice::VoiceId voice = 0;
    int32_t result = AudioDevice::DSERR_INVALIDPARAM;
    if (IsLoaded(sound))
        result = device_->DuplicateSoundBuffer(masterBuffers_[static_cast<size_t>(sound)], &voice);
    voices_[static_cast<size_t>(loop)][static_cast<size_t>(step)].store(voice,
                                                                        std::memory_order_release);
    s.playback.voice = voice;
    s.playback.ready = 1;
    return result;
}

AudioDevice::VoiceId SoundEngine::LiveVoice(int loop, int step) const {
    const uint32_t handle = setup_->loop(loop).steps[static_cast<size_t>(step)].playback.voice;
    if (handle == 0)
        return 0;
    const uint32_t owned = voices_[static_cast<size_t>(loop)][static_cast<size_t>(step)].load(
        std::memory_order_acquire);
    return handle == owned ? handle : 0;
}

int32_t SoundEngine::VolumeFor(int v, int m) {
    const double p = (v * kPerStepValue * 100) * (m * 0.01);
    if (!(p > 0.0))
        return kSilentVolume; // also a negative volume read from a file
    const double a = -100.0 * (100.0 - 10.0 * std::sqrt(10.0 * std::sqrt(p)));
    return static_cast<int32_t>(std::trunc(std::clamp(a, double{kSilentVolume}, 0.0)));
}

int32_t SoundEngine::PanFor(int n) {
    int b = static_cast<int>(std::trunc(n * kPerStepValue * 200 - 100));
    // A pan outside 0 to 127 (read from a file) counts as the nearest edge.
    b = std::min(std::abs(b), 100);
    double a = (100.0 - 10.0 * std::sqrt(100.0 - b)) * 100.0;
    if (n < kCentrePan)
        a = -a;
    return static_cast<int32_t>(std::trunc(std::clamp(a, double{-kMaxPan}, double{kMaxPan})));
}

int32_t SoundEngine::StepFrequency(int pitch, int fine) const {
    // A pitch outside the table (read from a file) plays at the nearest end of it.
    double f = noteFrequency(std::clamp(pitch, kMinPitch, kMaxPitch));
    if (fine != 0) {
        f *= fine > 0 ? 1.0 + fine * kFineUp : 1.0 + fine * kFineDown;
        f = std::max(std::trunc(f), 0.0);
    }
    f = std::trunc(f);
    return static_cast<int32_t>(std::clamp(f, double{kMinFrequency}, double{kMaxFrequency}));
}

int32_t SoundEngine::StepVolume(int loop, int step) const {
    if (setup_->muted != 0)
        return kSilentVolume;
    return VolumeFor(setup_->loop(loop).steps[static_cast<size_t>(step)].volume,
                     setup_->masterVolume);
}

int32_t SoundEngine::StepPan(int loop, int step) const {
    return PanFor(setup_->loop(loop).steps[static_cast<size_t>(step)].pan);
}

void SoundEngine::ApplyVolume(Lane lane, int loop, int step, int64_t when) {
    const AudioDevice::VoiceId voice = LiveVoice(loop, step);
    if (voice != 0)
        device_->SetVolume(lane, voice, StepVolume(loop, step), when);
}

void SoundEngine::ApplyPan(Lane lane, int loop, int step, int64_t when) {
    const AudioDevice::VoiceId voice = LiveVoice(loop, step);
    if (voice != 0)
        device_->SetPan(lane, voice, StepPan(loop, step), when);
}

void SoundEngine::PlayStep(int loop, int step, DueTimeNs due) {
    if (!device_ || setup_ == nullptr || !ValidSlot(loop, step))
        return;
    const AudioDevice::VoiceId voice = LiveVoice(loop, step);
    if (voice == 0)
        return;
    const Lane lane = AudioMixer::kStepClockLane;
    const Step& s = setup_->loop(loop).steps[static_cast<size_t>(step)];
    device_->SetCurrentPosition(lane, voice, 0, due);
    // The step's index within its loop is the fine value.
    device_->SetFrequency(lane, voice, static_cast<uint32_t>(StepFrequency(s.pitch, step)), due);
    ApplyPan(lane, loop, step, due);
    device_->Play(lane, voice, due);
    ApplyVolume(lane, loop, step, due);
    playing_[static_cast<size_t>(loop)][static_cast<size_t>(step)] = 1;
}

void SoundEngine::Silence(Lane lane, int loop, int step, int64_t when) {
    if (!device_ || setup_ == nullptr || !ValidSlot(loop, step))
        return;
    auto& flag = playing_[static_cast<size_t>(loop)][static_cast<size_t>(step)];
    // The slot's own voice, even when an edit has cleared the step's handle since.
    const uint32_t voice = voices_[static_cast<size_t>(loop)][static_cast<size_t>(step)].load(
        std::memory_order_acquire);
    if (voice == 0 || flag == 0)
        return;
    device_->Stop(lane, voice, when);
    flag = 0;
}

void SoundEngine::SilenceStep(int loop, int step, DueTimeNs due) {
    Silence(AudioMixer::kStepClockLane, loop, step, due);
}

void SoundEngine::SilenceAll() {
    for (int loop = 0; loop < kLoopCount; ++loop)
        for (int step = 0; step < kStepsPerLoop; ++step)
            Silence(AudioMixer::kWindowLane, loop, step, AudioDevice::kNow);
}

bool SoundEngine::IsPlaying(int loop, int step) const {
    if (!device_ || setup_ == nullptr || !ValidSlot(loop, step))
        return false;
    const uint32_t voice = voices_[static_cast<size_t>(loop)][static_cast<size_t>(step)].load(
        std::memory_order_acquire);
    uint32_t status = 0;
    return voice != 0 && device_->GetStatus(voice, &status) == AudioDevice::DS_OK &&
           (status & AudioDevice::DSBSTATUS_PLAYING) != 0;
}

void SoundEngine::MuteAll() {
    for (int loop = 0; loop < kLoopCount; ++loop) {
        for (int step = 0; step < kStepsPerLoop; ++step) {
            if (!IsPlaying(loop, step))
                continue;
            const uint32_t voice = voices_[static_cast<size_t>(loop)][static_cast<size_t>(step)];
            device_->SetVolume(AudioMixer::kWindowLane, voice, kSilentVolume, AudioDevice::kNow);
        }
    }
}

void SoundEngine::UnmuteAll() {
    for (int loop = 0; loop < kLoopCount; ++loop) {
        for (int step = 0; step < kStepsPerLoop; ++step) {
            if (!IsPlaying(loop, step))
                continue;
            const uint32_t voice = voices_[static_cast<size_t>(loop)][static_cast<size_t>(step)];
            device_->SetVolume(AudioMixer::kWindowLane, voice, StepVolume(loop, step),
                               AudioDevice::kNow);
        }
    }
}

} // namespace mb
