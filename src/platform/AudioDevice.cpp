#include "platform/AudioDevice.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

#include "platform/Clocks.h"

namespace mb {

namespace {

constexpr int kSlotBits = 11;
constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;
constexpr uint32_t kGenerationMask = (1u << (32 - kSlotBits)) - 1;
// How long the window thread waits for room in its lane while a stream drains it.
constexpr int kFullLaneWaitMs = 1000;
constexpr size_t kNeverReleased = std::numeric_limits<size_t>::max();

} // namespace

AudioDevice::AudioDevice(Config config)
    : mixer_(std::make_unique<AudioMixer>(config.mixer)), clock_(std::move(config.clock)) {
    if (!clock_)
        clock_ = [] { return MonotonicNs(); };
}

AudioDevice::~AudioDevice() {
    output_.reset();
}

void AudioDevice::AttachOutput(std::unique_ptr<AudioOutput> output) {
    output_ = std::move(output);
}

AudioDevice::Master* AudioDevice::FindMaster(BufferId buffer) {
    if (buffer == 0 || buffer > masters_.size())
        return nullptr;
    Master& m = masters_[buffer - 1];
    return m.used ? &m : nullptr;
}

int32_t AudioDevice::CreateSoundBuffer(const WaveFormat& format, uint64_t bytes, BufferId* out) {
    *out = 0;
    if (SoundData::CheckFormat(format) != 0)
        return DSERR_BADFORMAT;
    if (bytes == 0)
        return DSERR_INVALIDPARAM;
    if (bytes > kMaxBufferBytes)
        return DSERR_OUTOFMEMORY;
    auto it =
        std::find_if(masters_.begin(), masters_.end(), [](const Master& m) { return !m.used; });
    if (it == masters_.end()) {
        masters_.emplace_back();
        it = masters_.end() - 1;
    }
    Master& m = *it;
    m = Master{};
    m.used = true;
    m.format = format;
    m.bytes = bytes;
    auto record = std::make_unique<DataRecord>();
    record->data = SoundData::Decode(format, nullptr, 0);
    record->users = 1;
    m.record = record.get();
    data_.push_back(std::move(record));
    *out = static_cast<BufferId>(it - masters_.begin()) + 1;
    return DS_OK;
}

int32_t AudioDevice::Lock(BufferId buffer, uint8_t** data, uint64_t* size) {
    Master* m = FindMaster(buffer);
    if (m == nullptr)
        return DSERR_INVALIDPARAM;
    m->locked.assign(static_cast<size_t>(m->bytes), 0);
    *data = m->locked.data();
    *size = m->bytes;
    return DS_OK;
}

int32_t AudioDevice::Unlock(BufferId buffer, uint64_t written) {
    Master* m = FindMaster(buffer);
    if (m == nullptr || m->locked.empty())
        return DSERR_INVALIDPARAM;
    const auto n = static_cast<size_t>(std::min<uint64_t>(written, m->locked.size()));
    // Voices already made keep the samples they were made with; voices made from now on
    // get the new ones.
    auto record = std::make_unique<DataRecord>();
    record->data = SoundData::Decode(m->format, m->locked.data(), n);
    record->users = 1;
    Unuse(m->record);
    m->record = record.get();
    data_.push_back(std::move(record));
    std::vector<uint8_t>().swap(m->locked);
    return DS_OK;
}

void AudioDevice::ReleaseBuffer(BufferId buffer) {
    Master* m = FindMaster(buffer);
    if (m == nullptr)
        return;
    Unuse(m->record);
    *m = Master{};
    Collect();
}

int AudioDevice::SlotOf(VoiceId voice) const {
    const uint32_t slot = voice & kSlotMask;
    if (slot == 0 || slot > static_cast<uint32_t>(AudioMixer::kMaxVoices))
        return -1;
    const uint32_t generation = voice >> kSlotBits;
    if (generation == 0 || live_[slot - 1].load(std::memory_order_acquire) != generation)
        return -1;
    return static_cast<int>(slot - 1);
}

bool AudioDevice::IsVoice(VoiceId voice) const {
    return SlotOf(voice) >= 0;
}

bool AudioDevice::SendWindow(const MixerCommand& command) {
    for (int waited = 0;; ++waited) {
        if (mixer_->Send(AudioMixer::kWindowLane, command))
            return true;
        if (!output_ || waited >= kFullLaneWaitMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int32_t AudioDevice::DuplicateSoundBuffer(BufferId buffer, VoiceId* out) {
    *out = 0;
    Master* m = FindMaster(buffer);
    if (m == nullptr)
        return DSERR_INVALIDPARAM;
    int slot = -1;
    for (int i = 0; i < AudioMixer::kMaxVoices; ++i) {
        if (slots_[static_cast<size_t>(i)].record == nullptr) {
            slot = i;
            break;
        }
    }
    if (slot < 0)
        return DSERR_ALLOCATED;
    VoiceSlot& s = slots_[static_cast<size_t>(slot)];
    s.generation = (s.generation + 1) & kGenerationMask;
    if (s.generation == 0)
        s.generation = 1;
    MixerCommand attach;
    attach.kind = MixerCommand::kAttach;
    attach.slot = static_cast<uint16_t>(slot);
    attach.generation = s.generation;
    attach.data = m->record->data.get();
    if (!SendWindow(attach))
        return DSERR_ALLOCATED;
    s.record = m->record;
    ++s.record->users;
    live_[static_cast<size_t>(slot)].store(s.generation, std::memory_order_release);
    *out = (s.generation << kSlotBits) | static_cast<uint32_t>(slot + 1);
    return DS_OK;
}

void AudioDevice::ReleaseVoice(VoiceId voice) {
    const int slot = SlotOf(voice);
    if (slot < 0)
        return;
    VoiceSlot& s = slots_[static_cast<size_t>(slot)];
    live_[static_cast<size_t>(slot)].store(0, std::memory_order_release);
    MixerCommand release;
    release.kind = MixerCommand::kRelease;
    release.slot = static_cast<uint16_t>(slot);
    release.generation = s.generation;
    if (SendWindow(release)) {
        Unuse(s.record);
        s.record = nullptr;
    } else {
        // The audio thread may still play this data: keep it (and the slot) for good.
        s.record->releasedAt = kNeverReleased;
    }
    Collect();
}

void AudioDevice::Unuse(DataRecord* record) {
    if (record == nullptr || --record->users > 0)
        return;
    record->releasedAt = mixer_->Sent(AudioMixer::kWindowLane);
    auto it = std::find_if(data_.begin(), data_.end(),
                           [record](const auto& r) { return r.get() == record; });
    if (it != data_.end()) {
        retired_.push_back(std::move(*it));
        data_.erase(it);
    }
}

void AudioDevice::Collect() {
    const size_t drained = mixer_->Drained(AudioMixer::kWindowLane);
    std::erase_if(retired_, [drained](const auto& r) {
        return r->releasedAt != kNeverReleased && r->releasedAt <= drained;
    });
}

int32_t
AudioDevice::Send(Lane lane, VoiceId voice, MixerCommand::Kind kind, int64_t value, int64_t when) {
    const int slot = SlotOf(voice);
    if (slot < 0)
        return DSERR_INVALIDPARAM;
    MixerCommand c;
    c.kind = kind;
    c.slot = static_cast<uint16_t>(slot);
    c.generation = voice >> kSlotBits;
    c.when = when == kNow ? clock_() : when;
    c.value = value;
    if (kind == MixerCommand::kPlay)
        mixer_->PlayAnnounced(slot);
    const bool sent = lane == AudioMixer::kWindowLane ? SendWindow(c) : mixer_->Send(lane, c);
    if (!sent && kind == MixerCommand::kPlay)
        mixer_->PlayNotSent(slot);
    return sent ? DS_OK : DSERR_ALLOCATED;
}

int32_t AudioDevice::SetCurrentPosition(Lane lane, VoiceId voice, uint32_t frame, int64_t when) {
    return Send(lane, voice, MixerCommand::kSetPosition, frame, when);
}

int32_t AudioDevice::SetFrequency(Lane lane, VoiceId voice, uint32_t hz, int64_t when) {
    return Send(lane, voice, MixerCommand::kSetFrequency, hz, when);
}

int32_t AudioDevice::SetPan(Lane lane, VoiceId voice, int32_t pan, int64_t when) {
    return Send(lane, voice, MixerCommand::kSetPan, pan, when);
}

int32_t AudioDevice::SetVolume(Lane lane, VoiceId voice, int32_t volume, int64_t when) {
    return Send(lane, voice, MixerCommand::kSetVolume, volume, when);
}

int32_t AudioDevice::Play(Lane lane, VoiceId voice, int64_t when) {
    return Send(lane, voice, MixerCommand::kPlay, 0, when);
}

int32_t AudioDevice::Stop(Lane lane, VoiceId voice, int64_t when) {
    return Send(lane, voice, MixerCommand::kStop, 0, when);
}

int32_t AudioDevice::GetStatus(VoiceId voice, uint32_t* status) const {
    *status = 0;
    const int slot = SlotOf(voice);
    if (slot < 0)
        return DSERR_INVALIDPARAM;
    if (mixer_->IsPlaying(slot))
        *status = DSBSTATUS_PLAYING;
    return DS_OK;
}

} // namespace mb
