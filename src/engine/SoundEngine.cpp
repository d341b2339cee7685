#include "engine/SoundEngine.h"

#include <algorithm>
#include <cmath>

#include "engine/WaveReader.h"
#include "model/Setup.h"
#include "platform/Notifier.h"

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

void SoundEngine::Init(Setup* setup, Notifier* notifier, DeviceOpener opener) {
    setup_ = setup;
    notifier_ = notifier;
    device_ = opener ? opener() : nullptr;
    if (device_)
        device_->mixer().FollowRunEnds(runEnds_.get());
    if (!device_ && notifier_ != nullptr)
        notifier_->ShowNote(kNoDeviceText);

    // Each entry from its neighbour, not from a power.
    const auto zero = static_cast<size_t>(-kMinPitch);
    noteFrequency_[zero] = kBaseFrequency;
    for (size_t i = zero + 1; i < noteFrequency_.size(); ++i)
        noteFrequency_[i] = noteFrequency_[i - 1] * kSemitoneUp;
    for (size_t i = zero; i-- > 0;)
        noteFrequency_[i] = noteFrequency_[i + 1] * kSemitoneDown;
}

bool SoundEngine::ValidSlot(int loop, int step) {
    return loop >= 0 && loop < kLoopCount && step >= 0 && step < kStepsPerLoop;
}

bool SoundEngine::IsLoaded(int i) const {
    return i >= 0 && i < static_cast<int>(masterBuffers_.size()) &&
           masterBuffers_[static_cast<size_t>(i)] != 0;
}

void SoundEngine::ClearVoice(int loop, int step) {
    StepPlayback& playback = setup_->loop(loop).steps[static_cast<size_t>(step)].playback;
    playback.voice = 0;
    playback.ready = 0;
    // What the voice plays stops with it, as a released voice would.
    const int voice = VoiceOf(loop, step);
    if (device_ && device_->IsPlaying(voice))
        device_->StopVoice(AudioMixer::kWindowLane, voice, device_->Now());
}

bool SoundEngine::OpenDevice(const DeviceOpener& opener) {
    if (device_)
        return true;
    device_ = opener();
    if (!device_)
        return false;
    device_->mixer().FollowRunEnds(runEnds_.get());
    LoadAll();
    return true;
}

void SoundEngine::ReleaseAll() {
    if (setup_ == nullptr)
        return;
    for (AudioDevice::BufferId& id : masterBuffers_) {
        if (id != 0 && device_)
            device_->ReleaseBuffer(id);
        id = 0;
    }
    // Every step lets go of its sound, whatever sound it names now.
    for (int loop = 0; loop < kLoopCount; ++loop)
        for (int step = 0; step < kStepsPerLoop; ++step)
            ClearVoice(loop, step);
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
    // The device's refusals (a format, a size, memory) are told file by file.
    auto refused = [this, &path](int32_t result) {
        if (notifier_ != nullptr)
            notifier_->ShowNote(kCouldNotLoadText + path + kErrorText + std::to_string(result));
        return false;
    };
    AudioDevice::BufferId id = 0;
    // One byte more than the data.
    const int32_t result = device_->CreateSoundBuffer(*reader.format(), dataBytes + 1, &id);
    if (result != AudioDevice::DS_OK)
        return refused(result);
    uint8_t* data = nullptr;
    uint64_t size = 0;
    uint64_t read = 0;
    const int32_t locked = device_->Lock(id, &data, &size);
    if (locked != AudioDevice::DS_OK) {
        device_->ReleaseBuffer(id);
        return refused(locked);
    }
    if (reader.Read(size, data, &read) != 0) {
        // A half-read buffer is not kept: its steps stay silent instead of playing it.
        device_->ReleaseBuffer(id);
        return false;
    }
    const int32_t handedOver = device_->Unlock(id, read);
    if (handedOver != AudioDevice::DS_OK) {
        device_->ReleaseBuffer(id);
        return refused(handedOver);
    }
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
    if (failed && notifier_ != nullptr)
        notifier_->ShowNote(kSomeFailedText);

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
    ClearVoice(loop, step);
    if (sound >= soundCount_ || !device_)
        return AudioDevice::DS_OK;
    s.playback.voice = IsLoaded(sound) ? masterBuffers_[static_cast<size_t>(sound)] : 0;
    s.playback.ready = 1;
    return IsLoaded(sound) ? AudioDevice::DS_OK : AudioDevice::DSERR_INVALIDPARAM;
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

void SoundEngine::PlayStep(int loop, int step, GridTime due) {
    if (!device_ || setup_ == nullptr || !ValidSlot(loop, step))
        return;
    const Step& s = setup_->loop(loop).steps[static_cast<size_t>(step)];
    const AudioDevice::BufferId sound = s.playback.voice;
    if (sound == 0)
        return;
    AudioDevice::VoiceStart start;
    // The step's index within its loop is the fine value.
    start.hz = StepFrequency(s.pitch, step);
    start.volume = StepVolume(loop, step);
    start.pan = StepPan(loop, step);
    device_->Trigger(AudioMixer::kStepClockLane, VoiceOf(loop, step), sound, start, due);
}

void SoundEngine::SilenceStep(int loop, int step, GridTime due) {
    if (!device_ || !ValidSlot(loop, step))
        return;
    device_->StopVoice(AudioMixer::kStepClockLane, VoiceOf(loop, step), due);
}

void SoundEngine::BeginRun(uint32_t /*run*/) {
    if (device_)
        device_->KeepOutputAwake();
}

void SoundEngine::FollowRunEnds(std::shared_ptr<const RunEnds> ends) {
    if (ends == runEnds_)
        return;
    if (device_)
        device_->mixer().FollowRunEnds(ends.get());
    // The audio thread may still be reading the record it followed until now.
    if (runEnds_)
        formerRunEnds_.push_back(std::move(runEnds_));
    runEnds_ = std::move(ends);
}

void SoundEngine::EndRun(uint32_t run) {
    if (device_)
        device_->EndRun(run);
}

void SoundEngine::StepSent() {
    if (device_)
        device_->StepSent();
}

int64_t SoundEngine::SendAheadNs() const {
    return device_ ? device_->mixer().sendAheadNs() : 0;
}

int64_t SoundEngine::LeadNs() const {
    return device_ ? device_->mixer().LatencyNs() : 0;
}

int64_t SoundEngine::EarliestNs(int64_t nowNs) const {
    return device_ ? device_->mixer().EarliestNs(nowNs) : INT64_MAX;
}

void SoundEngine::SilenceAll() {
    if (device_)
        device_->StopAllVoices();
}

bool SoundEngine::IsPlaying(int loop, int step) const {
    return device_ && ValidSlot(loop, step) && device_->IsPlaying(VoiceOf(loop, step));
}

void SoundEngine::MuteAll() {
    for (int loop = 0; loop < kLoopCount; ++loop)
        for (int step = 0; step < kStepsPerLoop; ++step)
            if (IsPlaying(loop, step))
                device_->SetVoiceVolume(VoiceOf(loop, step), kSilentVolume);
}

void SoundEngine::UnmuteAll() {
    for (int loop = 0; loop < kLoopCount; ++loop)
        for (int step = 0; step < kStepsPerLoop; ++step)
            if (IsPlaying(loop, step))
                device_->SetVoiceVolume(VoiceOf(loop, step), StepVolume(loop, step));
}

} // namespace mb
