#include "audio/AudioDevice.h"

#include <algorithm>
#include <limits>

#include "platform/Clocks.h"

namespace mb {

namespace {

// A handle is the slot number plus one in its low bits and the slot's generation above.
constexpr int kSlotBits = 13;
constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;
constexpr uint32_t kGenerationMask = (1u << (32 - kSlotBits)) - 1;
constexpr size_t kNeverRemoved = std::numeric_limits<size_t>::max();

static_assert(AudioMixer::kMaxSounds < (1 << kSlotBits));

AudioDevice::BufferId Handle(size_t slot, uint32_t generation) {
    return (generation << kSlotBits) | static_cast<uint32_t>(slot + 1);
}

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

bool AudioDevice::Send(Lane lane, const MixerCommand& command) {
    if (!mixer_->Send(lane, command)) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    // A stream that stands still for want of sound runs again. The command went into the
    // lane before this looks (both sequentially consistent), and the output says it
    // stands still before it looks at the lanes: one of the two always sees the other.
    WakeOutput();
    return true;
}

AudioDevice::Master* AudioDevice::FindMaster(BufferId buffer) {
    const uint32_t slot = buffer & kSlotMask;
    if (slot == 0 || slot > masters_.size())
        return nullptr;
    Master& m = masters_[slot - 1];
    return m.used && Handle(slot - 1, m.generation) == buffer ? &m : nullptr;
}

bool AudioDevice::IsBuffer(BufferId buffer) const {
    const uint32_t slot = buffer & kSlotMask;
    return slot != 0 && slot <= live_.size() &&
           live_[slot - 1].load(std::memory_order_acquire) == buffer;
}

int32_t AudioDevice::CreateSoundBuffer(const WaveFormat& format, uint64_t bytes, BufferId* out) {
    *out = 0;
    if (SoundData::CheckFormat(format) != 0)
        return DSERR_BADFORMAT;
    if (bytes == 0)
        return DSERR_INVALIDPARAM;
    if (bytes > kMaxBufferBytes)
        return DSERR_OUTOFMEMORY;
    // Decoded, every sample is a float: refuse what would not fit the limit.
    const uint64_t samples = bytes / format.blockAlign * format.channels;
    if (samples > kMaxDecodedBytes / sizeof(float))
        return DSERR_OUTOFMEMORY;
    auto it =
        std::find_if(masters_.begin(), masters_.end(), [](const Master& m) { return !m.used; });
    if (it == masters_.end()) {
        if (masters_.size() >= static_cast<size_t>(AudioMixer::kMaxSounds))
            return DSERR_OUTOFMEMORY;
        masters_.emplace_back();
        it = masters_.end() - 1;
    }
    uint32_t generation = (it->generation + 1) & kGenerationMask;
    if (generation == 0)
        generation = 1;
    *it = Master{};
    it->generation = generation;
    it->used = true;
    it->format = format;
    it->bytes = bytes;
    *out = Handle(static_cast<size_t>(it - masters_.begin()), it->generation);
    return DS_OK;
}

int32_t AudioDevice::Lock(BufferId buffer, uint8_t** data, uint64_t* size) {
    Master* m = FindMaster(buffer);
    if (m == nullptr)
        return DSERR_INVALIDPARAM;
    try {
        m->locked.assign(static_cast<size_t>(m->bytes), 0);
    } catch (const std::bad_alloc&) {
        return DSERR_OUTOFMEMORY;
    }
    *data = m->locked.data();
    *size = m->bytes;
    return DS_OK;
}

int32_t AudioDevice::Unlock(BufferId buffer, uint64_t written) {
    Master* m = FindMaster(buffer);
    if (m == nullptr || m->locked.empty())
        return DSERR_INVALIDPARAM;
    const size_t slot = (buffer & kSlotMask) - 1;
    Retire(slot, *m);
    const auto n = static_cast<size_t>(std::min<uint64_t>(written, m->locked.size()));
    auto record = std::make_unique<DataRecord>();
    try {
        record->data = SoundData::Decode(m->format, m->locked.data(), n);
    } catch (const std::bad_alloc&) {
        std::vector<uint8_t>().swap(m->locked);
        return DSERR_OUTOFMEMORY;
    }
    std::vector<uint8_t>().swap(m->locked);
    MixerCommand add;
    add.kind = MixerCommand::kAddSound;
    add.sound = static_cast<uint16_t>(slot);
    add.generation = buffer;
    add.data = record->data.get();
    if (!Send(AudioMixer::kWindowLane, add))
        return DSERR_ALLOCATED; // the mixer never saw the samples: they go at once
    m->record = record.get();
    data_.push_back(std::move(record));
    live_[slot].store(buffer, std::memory_order_release);
    return DS_OK;
}

void AudioDevice::Retire(size_t slot, Master& m) {
    live_[slot].store(0, std::memory_order_release);
    if (m.record == nullptr)
        return;
    MixerCommand remove;
    remove.kind = MixerCommand::kRemoveSound;
    remove.sound = static_cast<uint16_t>(slot);
    // The audio thread may still play samples whose removal it never received: those are
    // kept for good rather than freed under it.
    m.record->removedAt = Send(AudioMixer::kWindowLane, remove)
                              ? mixer_->Sent(AudioMixer::kWindowLane)
                              : kNeverRemoved;
    auto it = std::find_if(data_.begin(), data_.end(),
                           [&m](const auto& r) { return r.get() == m.record; });
    if (it != data_.end()) {
        retired_.push_back(std::move(*it));
        data_.erase(it);
    }
    m.record = nullptr;
}

void AudioDevice::ReleaseBuffer(BufferId buffer) {
    Master* m = FindMaster(buffer);
    if (m == nullptr)
        return;
    Retire((buffer & kSlotMask) - 1, *m);
    const uint32_t generation = m->generation;
    *m = Master{};
    m->generation = generation;
    Collect();
}

void AudioDevice::Collect() {
    const size_t drained = mixer_->Drained(AudioMixer::kWindowLane);
    std::erase_if(retired_, [drained](const auto& r) {
        return r->removedAt != kNeverRemoved && r->removedAt <= drained;
    });
}

int32_t
AudioDevice::Trigger(Lane lane, int voice, BufferId buffer, const VoiceStart& start, GridTime at) {
    if (voice < 0 || voice >= AudioMixer::kMaxVoices || !IsBuffer(buffer))
        return DSERR_INVALIDPARAM;
    return SendTrigger(lane, voice, buffer, start, at, MixerCommand::kNoStep);
}

void AudioDevice::StepOn(
    int voice, BufferId buffer, const VoiceStart& start, GridTime at, bool cutsLast) {
    if (voice < 0 || voice >= AudioMixer::kMaxVoices)
        return;
    const MixerCommand::StepRole role =
        cutsLast ? MixerCommand::kStepCutsLast : MixerCommand::kStep;
    if (IsBuffer(buffer)) {
        SendTrigger(AudioMixer::kStepClockLane, voice, buffer, start, at, role);
        return;
    }
    MixerCommand c;
    c.kind = MixerCommand::kStepSilent;
    c.step = role;
    c.voice = static_cast<uint16_t>(voice);
    c.at = at;
    Send(AudioMixer::kStepClockLane, c);
}

int32_t AudioDevice::SendTrigger(Lane lane,
                                 int voice,
                                 BufferId buffer,
                                 const VoiceStart& start,
                                 GridTime at,
                                 MixerCommand::StepRole role) {
    MixerCommand c;
    c.kind = MixerCommand::kTrigger;
    c.step = role;
    c.voice = static_cast<uint16_t>(voice);
    c.sound = static_cast<uint16_t>((buffer & kSlotMask) - 1);
    c.generation = buffer;
    c.hz = start.hz;
    c.volume = start.volume;
    c.pan = start.pan;
    c.at = at;
    mixer_->TriggerAnnounced(voice);
    if (!Send(lane, c)) {
        mixer_->TriggerNotSent(voice);
        return DSERR_ALLOCATED;
    }
    return DS_OK;
}

void AudioDevice::StopVoice(Lane lane, int voice, GridTime at) {
    if (voice < 0 || voice >= AudioMixer::kMaxVoices)
        return;
    MixerCommand c;
    c.kind = MixerCommand::kStop;
    c.voice = static_cast<uint16_t>(voice);
    c.at = at;
    Send(lane, c);
}

void AudioDevice::SetVoiceVolume(int voice, int32_t volume) {
    if (voice < 0 || voice >= AudioMixer::kMaxVoices)
        return;
    MixerCommand c;
    c.kind = MixerCommand::kSetVolume;
    c.voice = static_cast<uint16_t>(voice);
    c.volume = volume;
    c.at = Now();
    Send(AudioMixer::kWindowLane, c);
}

void AudioDevice::StopAllVoices() {
    MixerCommand c;
    c.kind = MixerCommand::kStopAll;
    c.at = Now();
    Send(AudioMixer::kWindowLane, c);
}

void AudioDevice::EndRun(uint32_t run) {
    MixerCommand c;
    c.kind = MixerCommand::kEndRun;
    c.at.run = run;
    Send(AudioMixer::kWindowLane, c);
}

} // namespace mb
