#include "platform/AudioMixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/MixKernels.h"
#include "platform/SoundData.h"

namespace mb {

namespace {

constexpr int32_t kMinVolume = -10000;
constexpr int32_t kMaxPan = 10000;
// Attenuation in hundredths of a decibel: 2000 of them are a factor of ten in amplitude.
constexpr double kHundredthsPerDecade = 2000.0;
// How the mapping comes back when the stream falls behind it: over windows of this many
// callbacks, when the stream's furthest frame stayed more than the headroom and this
// slack behind, by at most a few frames per window, one frame every so many callbacks.
constexpr int kWindowCallbacks = 256;
constexpr double kSlackFrames = 1024.0;
constexpr int kMaxLowerPerWindow = 8;
constexpr int kCallbacksPerNudge = 32;
// A gap this large (an interrupted stream, a suspended machine) is closed at once.
constexpr double kJumpSeconds = 0.25;
// Below this the stream is not ahead of the mapping (rounding of the offline clock).
constexpr double kAheadFrames = 0.5;

float Gain(int32_t hundredthsOfDb) {
    return static_cast<float>(std::pow(10.0, hundredthsOfDb / kHundredthsPerDecade));
}

} // namespace

AudioMixer::AudioMixer(const Config& config) : config_(config) {
    wide_ = config_.wideKernels && MixKernels::HasWide();
    if (config_.rate == 0)
        config_.rate = 44100;
}

bool AudioMixer::Send(Lane lane, const MixerCommand& command) {
    return lanes_[static_cast<size_t>(lane)].Push(command);
}

bool AudioMixer::IsPlaying(int slot) const {
    if (slot < 0 || slot >= kMaxVoices)
        return false;
    const auto s = static_cast<size_t>(slot);
    return sounding_[s].load(std::memory_order_acquire) != 0 ||
           pendingPlays_[s].load(std::memory_order_acquire) > 0;
}

void AudioMixer::PlayAnnounced(int slot) {
    pendingPlays_[static_cast<size_t>(slot)].fetch_add(1, std::memory_order_acq_rel);
}

void AudioMixer::PlayNotSent(int slot) {
    pendingPlays_[static_cast<size_t>(slot)].fetch_sub(1, std::memory_order_acq_rel);
}

void AudioMixer::UpdateAnchor(int64_t nowNs) {
    const double rate = config_.rate;
    if (!anchored_) {
        anchored_ = true;
        anchorNs_ = nowNs;
        anchorFrame_ = static_cast<double>(rendered_) + config_.headroomFrames;
        windowMax_ = static_cast<double>(rendered_);
        return;
    }
    // The frame at the anchor time, as this callback's frame count and time imply it.
    const double implied =
        static_cast<double>(rendered_) - static_cast<double>(nowNs - anchorNs_) * rate / 1e9;
    if (implied > anchorFrame_ + kAheadFrames ||
        anchorFrame_ - implied > kJumpSeconds * rate + config_.headroomFrames) {
        anchorFrame_ = implied + config_.headroomFrames;
        moves_.fetch_add(1, std::memory_order_relaxed);
        windowMax_ = implied;
        windowCallbacks_ = 0;
        framesToLower_ = 0;
        return;
    }
    windowMax_ = std::max(windowMax_, implied);
    if (++windowCallbacks_ == kWindowCallbacks) {
        const double behind = anchorFrame_ - windowMax_ - config_.headroomFrames - kSlackFrames;
        framesToLower_ =
            behind > 0 ? static_cast<int>(std::min<double>(behind, kMaxLowerPerWindow)) : 0;
        windowMax_ = implied;
        windowCallbacks_ = 0;
    }
    if (framesToLower_ > 0 && ++callbacksSinceNudge_ >= kCallbacksPerNudge) {
        anchorFrame_ -= 1.0;
        --framesToLower_;
        callbacksSinceNudge_ = 0;
    }
}

int64_t AudioMixer::FrameOf(int64_t whenNs) const {
    const double frames = static_cast<double>(whenNs - anchorNs_) * config_.rate / 1e9;
    return std::llround(anchorFrame_ + frames) + config_.latencyFrames;
}

void AudioMixer::Render(float* out, int frames, int64_t nowNs) {
    std::memset(out, 0, sizeof(float) * 2 * static_cast<size_t>(std::max(frames, 0)));
    if (frames <= 0)
        return;
    UpdateAnchor(nowNs);
    const int64_t blockStart = rendered_;
    // The step clock's lane first: a Play it sent can only name a voice whose Attach the
    // window thread sent before, so that Attach is visible when the window lane is read.
    Drain(kStepClockLane, blockStart);
    Drain(kWindowLane, blockStart);

    int cursor = 0;
    while (pendingCount_ > 0 && pending_[0].frame < blockStart + frames) {
        const int at = static_cast<int>(std::max<int64_t>(pending_[0].frame - blockStart, 0));
        if (at > cursor) {
            MixVoices(out, cursor, at);
            cursor = at;
        }
        const MixerCommand command = pending_[0].command;
        --pendingCount_;
        std::memmove(static_cast<void*>(&pending_[0]), &pending_[1],
                     sizeof(Timed) * static_cast<size_t>(pendingCount_));
        Apply(command);
    }
    MixVoices(out, cursor, frames);
    rendered_ += frames;
    renderedOut_.store(rendered_, std::memory_order_relaxed);
}

void AudioMixer::Drain(Lane lane, int64_t blockStart) {
    auto& queue = lanes_[static_cast<size_t>(lane)];
    MixerCommand command;
    while (queue.Pop(command)) {
        if (command.kind == MixerCommand::kAttach || command.kind == MixerCommand::kRelease)
            Apply(command);
        else
            Schedule(command, blockStart);
    }
    drained_[static_cast<size_t>(lane)].store(queue.Popped(), std::memory_order_release);
}

void AudioMixer::Schedule(const MixerCommand& command, int64_t blockStart) {
    const int64_t frame = FrameOf(command.when);
    if (frame < blockStart)
        late_.fetch_add(1, std::memory_order_relaxed);
    if (pendingCount_ == kMaxPending) {
        Apply(command);
        return;
    }
    // After every command of the same frame: equal times keep their order of arrival.
    Timed* begin = pending_.data();
    Timed* end = begin + pendingCount_;
    Timed* at =
        std::upper_bound(begin, end, frame, [](int64_t f, const Timed& t) { return f < t.frame; });
    std::memmove(static_cast<void*>(at + 1), at, sizeof(Timed) * static_cast<size_t>(end - at));
    at->frame = frame;
    at->command = command;
    ++pendingCount_;
}

void AudioMixer::Apply(const MixerCommand& c) {
    if (c.slot >= kMaxVoices)
        return;
    Voice& v = voices_[c.slot];
    if (c.kind == MixerCommand::kAttach) {
        StopVoice(c.slot);
        v = Voice{};
        v.data = c.data;
        v.generation = c.generation;
        if (v.data != nullptr)
            v.step = (static_cast<uint64_t>(v.data->sampleRate()) << 32) / config_.rate;
        return;
    }
    const bool current = v.data != nullptr && v.generation == c.generation;
    if (c.kind == MixerCommand::kPlay)
        pendingPlays_[c.slot].fetch_sub(1, std::memory_order_acq_rel);
    if (!current)
        return;
    switch (c.kind) {
    case MixerCommand::kRelease:
        StopVoice(c.slot);
        v.data = nullptr;
        break;
    case MixerCommand::kSetPosition: {
        const int64_t frame = std::clamp<int64_t>(c.value, 0, v.data->frames());
        v.position = static_cast<uint64_t>(frame) << 32;
        break;
    }
    case MixerCommand::kSetFrequency: {
        const auto hz = static_cast<uint64_t>(
            std::clamp<int64_t>(c.value, SoundData::kMinRate, SoundData::kMaxRate));
        v.step = (hz << 32) / config_.rate;
        break;
    }
    case MixerCommand::kSetPan:
        v.pan = static_cast<int32_t>(std::clamp<int64_t>(c.value, -kMaxPan, kMaxPan));
        UpdateGains(v);
        break;
    case MixerCommand::kSetVolume:
        v.volume = static_cast<int32_t>(std::clamp<int64_t>(c.value, kMinVolume, 0));
        UpdateGains(v);
        break;
    case MixerCommand::kPlay:
        StartVoice(c.slot);
        break;
    case MixerCommand::kStop:
        StopVoice(c.slot);
        break;
    case MixerCommand::kAttach:
        break;
    }
}

void AudioMixer::UpdateGains(Voice& v) {
    // The pan attenuates the other channel by |pan| hundredths of a decibel.
    const float volume = Gain(v.volume);
    v.gainLeft = v.pan > 0 ? volume * Gain(-v.pan) : volume;
    v.gainRight = v.pan < 0 ? volume * Gain(v.pan) : volume;
}

void AudioMixer::StartVoice(int slot) {
    Voice& v = voices_[static_cast<size_t>(slot)];
    if (v.playing)
        return;
    if ((v.position >> 32) >= static_cast<uint64_t>(v.data->frames()))
        return; // already at its end: nothing to play
    v.playing = true;
    active_[static_cast<size_t>(activeCount_++)] = static_cast<uint16_t>(slot);
    sounding_[static_cast<size_t>(slot)].store(1, std::memory_order_release);
}

void AudioMixer::StopVoice(int slot) {
    Voice& v = voices_[static_cast<size_t>(slot)];
    if (!v.playing)
        return;
    v.playing = false;
    for (int i = 0; i < activeCount_; ++i) {
        if (active_[static_cast<size_t>(i)] == slot) {
            active_[static_cast<size_t>(i)] = active_[static_cast<size_t>(--activeCount_)];
            break;
        }
    }
    sounding_[static_cast<size_t>(slot)].store(0, std::memory_order_release);
}

void AudioMixer::MixVoices(float* out, int from, int to) {
    if (to <= from)
        return;
    for (int i = activeCount_ - 1; i >= 0; --i) {
        const uint16_t slot = active_[static_cast<size_t>(i)];
        if (!MixVoice(voices_[slot], out + 2 * from, to - from, wide_))
            StopVoice(slot);
    }
}

bool AudioMixer::MixVoice(Voice& v, float* out, int frames, bool wide) {
    const SoundData& d = *v.data;
    const uint64_t end = static_cast<uint64_t>(d.frames()) << 32;
    const float* base = d.Frame(0);
    const float gl = v.gainLeft;
    const float gr = v.gainRight;
    uint64_t pos = v.position;
    const uint64_t step = v.step;
    if (pos >= end) {
        v.position = pos;
        return false;
    }
    // Frames until the voice reaches its end, at most the block.
    const uint64_t left = (end - pos + step - 1) / step;
    const int n = left < static_cast<uint64_t>(frames) ? static_cast<int>(left) : frames;
    int k = 0;
    const bool exact = step == MixKernels::kOne && (pos & MixKernels::kFractionMask) == 0;
    if (d.channels() == 1) {
        if (exact) {
            const float* y = base + (pos >> 32);
            for (; k < n; ++k) {
                out[2 * k] += y[k] * gl;
                out[2 * k + 1] += y[k] * gr;
            }
            pos += static_cast<uint64_t>(n) << 32;
        } else {
            k = wide ? MixKernels::MonoWide(base, pos, step, gl, gr, out, n)
                     : MixKernels::Mono(base, pos, step, gl, gr, out, n);
            pos += static_cast<uint64_t>(k) * step;
            for (; k < n; ++k, pos += step) {
                const float* y = base + (pos >> 32);
                const float t = static_cast<float>(pos & MixKernels::kFractionMask) *
                                MixKernels::kFractionScale;
                const float s = MixKernels::Cubic(y[-1], y[0], y[1], y[2], t);
                out[2 * k] += s * gl;
                out[2 * k + 1] += s * gr;
            }
        }
    } else {
        if (exact) {
            const float* y = base + 2 * (pos >> 32);
            for (; k < n; ++k) {
                out[2 * k] += y[2 * k] * gl;
                out[2 * k + 1] += y[2 * k + 1] * gr;
            }
            pos += static_cast<uint64_t>(n) << 32;
        } else {
            k = wide ? MixKernels::StereoWide(base, pos, step, gl, gr, out, n)
                     : MixKernels::Stereo(base, pos, step, gl, gr, out, n);
            pos += static_cast<uint64_t>(k) * step;
            for (; k < n; ++k, pos += step) {
                const float* y = base + 2 * (pos >> 32);
                const float t = static_cast<float>(pos & MixKernels::kFractionMask) *
                                MixKernels::kFractionScale;
                out[2 * k] += MixKernels::Cubic(y[-2], y[0], y[2], y[4], t) * gl;
                out[2 * k + 1] += MixKernels::Cubic(y[-1], y[1], y[3], y[5], t) * gr;
            }
        }
    }
    v.position = pos;
    return pos < end;
}

} // namespace mb
