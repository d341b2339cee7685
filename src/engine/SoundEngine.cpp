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
    return i < soundCount_ && BufferOf(i) != 0;
}

AudioDevice::BufferId SoundEngine::BufferOf(int i) const {
    if (i < 0 || i >= static_cast<int>(buffers_.size()))
        return 0;
    return buffers_[static_cast<size_t>(i)];
}

AudioDevice::BufferId SoundEngine::StepBuffer(int loop, int step) const {
    if (setup_ == nullptr || !ValidSlot(loop, step))
        return 0;
    return stepBuffers_[static_cast<size_t>(VoiceOf(loop, step))].load(std::memory_order_relaxed);
}

void SoundEngine::ReleaseBuffers() {
    for (AudioDevice::BufferId& id : buffers_) {
        if (id != 0 && device_)
            device_->ReleaseBuffer(id);
        id = 0;
    }
}

void SoundEngine::ClearVoice(int loop, int step) {
    stepBuffers_[static_cast<size_t>(VoiceOf(loop, step))].store(0, std::memory_order_relaxed);
    // What the voice plays stops, as a released voice would.
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
    ReleaseBuffers();
    // Every voice stops, whatever sound its step names now.
    for (int loop = 0; loop < kLoopCount; ++loop)
        for (int step = 0; step < kStepsPerLoop; ++step)
            ClearVoice(loop, step);
}

bool SoundEngine::LoadSound(const std::string& path, int index) {
    if (!device_ || index < 0 || index >= static_cast<int>(buffers_.size()))
        return false;
    WaveReader reader;
    if (reader.Open(path) != 0)
        return false;
    if (reader.StartData() != 0)
        return false;
    if (AudioDevice::BufferId& old = buffers_[static_cast<size_t>(index)]; old != 0) {
        device_->ReleaseBuffer(old);
        old = 0;
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
    buffers_[static_cast<size_t>(index)] = id;
    return true;
}

void SoundEngine::LoadAll() {
    ReleaseBuffers();
    soundCount_ = static_cast<int>(setup_->soundNames.size());
    buffers_.assign(setup_->soundNames.size(), 0);
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

    // The steps whose sound loaded start afresh with it.
    for (int loop = 0; loop < kLoopCount; ++loop)
        for (int step = 0; step < kStepsPerLoop; ++step)
            if (const int sound = setup_->loop(loop).steps[static_cast<size_t>(step)].sound;
                IsLoaded(sound)) {
                ClearVoice(loop, step);
                stepBuffers_[static_cast<size_t>(VoiceOf(loop, step))].store(
                    BufferOf(sound), std::memory_order_relaxed);
            }
}

int32_t SoundEngine::AssignVoice(int loop, int step, int sound) {
    if (setup_ == nullptr || !ValidSlot(loop, step))
        return AudioDevice::DSERR_INVALIDPARAM;
    if (sound < 0)
        return AudioDevice::DS_OK;
    setup_->loop(loop).steps[static_cast<size_t>(step)].sound = static_cast<int16_t>(sound);
    ClearVoice(loop, step);
    if (sound >= soundCount_ || !device_)
        return AudioDevice::DS_OK;
    stepBuffers_[static_cast<size_t>(VoiceOf(loop, step))].store(BufferOf(sound),
                                                                 std::memory_order_relaxed);
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

int32_t SoundEngine::VolumeOf(int volume) const {
    if (setup_->muted != 0)
        return kSilentVolume;
    return VolumeFor(volume, setup_->masterVolume);
}

int32_t SoundEngine::StepVolume(int loop, int step) const {
    return VolumeOf(setup_->loop(loop).steps[static_cast<size_t>(step)].volume);
}

int32_t SoundEngine::StepPan(int loop, int step) const {
    return PanFor(setup_->loop(loop).steps[static_cast<size_t>(step)].pan);
}

AudioDevice::VoiceStart SoundEngine::StartOf(int step, int pitch, int volume, int pan) const {
    AudioDevice::VoiceStart start;
    // The step's index within its loop is the fine value.
    start.hz = StepFrequency(pitch, step);
    start.volume = VolumeOf(volume);
    start.pan = PanFor(pan);
    return start;
}

void SoundEngine::PlayStep(int loop, int step, GridTime due) {
    if (!device_ || setup_ == nullptr || !ValidSlot(loop, step))
        return;
    const AudioDevice::BufferId buffer = StepBuffer(loop, step);
    if (buffer == 0)
        return;
    const Step& s = setup_->loop(loop).steps[static_cast<size_t>(step)];
    device_->Trigger(AudioMixer::kStepClockLane, VoiceOf(loop, step), buffer,
                     StartOf(step, s.pitch, s.volume, s.pan), due);
}

void SoundEngine::SoundStep(const StepEvent& step, bool heard) {
    if (!step.on || !device_ || setup_ == nullptr || !ValidSlot(step.loop, step.step))
        return;
    // A step that is not heard (another sound plays solo) still cuts and is cut.
    const AudioDevice::BufferId buffer = heard ? StepBuffer(step.loop, step.step) : 0;
    const AudioDevice::VoiceStart start = StartOf(step.step, step.pitch, step.volume, step.pan);
    // The groove moves the step from its place (rounded to a frame once, with the place)
    // and may repeat it within the step: each hit restarts the step's voice, and only the
    // first cuts the sound before it.
    GridTime at = step.due;
    for (int hit = 0; hit < std::max(step.hits, 1); ++hit) {
        at.offsetMs = step.due.offsetMs + step.shiftMs + hit * step.spacingMs;
        device_->StepOn(VoiceOf(step.loop, step.step), buffer, start, at,
                        step.cutsLast && hit == 0);
    }
}

void SoundEngine::TakeStep(const StepEvent& step) {
    if (!step.on)
        return;
    SoundStep(step, true);
    // The step's commands are all sent.
    if (device_)
        device_->StepSent();
}

void SoundEngine::SilenceStep(int loop, int step, GridTime due) {
    if (!device_ || !ValidSlot(loop, step))
        return;
    device_->StopVoice(AudioMixer::kStepClockLane, VoiceOf(loop, step), due);
}

void SoundEngine::RunBegins(uint32_t /*run*/) {
    if (device_)
        device_->KeepOutputAwake();
}

void SoundEngine::FollowRuns(std::shared_ptr<const RunEnds> ends) {
    if (ends == runEnds_)
        return;
    if (device_)
        device_->mixer().FollowRunEnds(ends.get());
    // The audio thread may still be reading the record it followed until now.
    if (runEnds_)
        formerRunEnds_.push_back(std::move(runEnds_));
    runEnds_ = std::move(ends);
}

void SoundEngine::RunEnded(uint32_t run) {
    if (device_)
        device_->EndRun(run);
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
