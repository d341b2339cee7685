// The mixer's voices: how a command starts, changes or stops a voice, how the voices are
// mixed into a block at their own speed, gain and pan, and the limiter over the mix.
// The time mapping and the placing of commands on the grid are in AudioMixer.cpp.
#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "audio/AudioMixer.h"
#include "audio/MixKernels.h"
#include "audio/SoundData.h"

namespace mb {

namespace {

constexpr int32_t kMinVolume = -10000;
constexpr int32_t kMaxPan = 10000;
// Attenuation in hundredths of a decibel: 2000 of them are a factor of ten in amplitude.
constexpr double kHundredthsPerDecade = 2000.0;
// The limiter's knee: -1 dBFS.
constexpr float kKnee = 0.8912509f;

// -10000 hundredths (the bottom of the range) is silence, not a very quiet sound.
float Gain(int32_t hundredthsOfDb) {
    if (hundredthsOfDb <= kMinVolume)
        return 0.0f;
    return static_cast<float>(std::pow(10.0, hundredthsOfDb / kHundredthsPerDecade));
}

} // namespace

void AudioMixer::Limit(float* samples, size_t count) {
    constexpr float kRoom = 1.0f - kKnee;
    const auto limit = [](float& x) {
        const float a = std::fabs(x);
        if (a <= kKnee)
            return;
        // Above the knee the excess goes through tanh, whose slope is 1 at the knee and
        // which never reaches 1: the curve is smooth and stays below full scale.
        const float y = kKnee + kRoom * std::tanh((a - kKnee) / kRoom);
        x = std::copysign(std::min(y, 1.0f), x);
    };
    size_t i = 0;
#if defined(__SSE2__)
    // Most of a mix stays below the knee: four samples at a time are checked at once.
    const __m128 knee = _mm_set1_ps(kKnee);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    for (; i + 4 <= count; i += 4) {
        const __m128 a = _mm_and_ps(_mm_loadu_ps(samples + i), magnitude);
        if (_mm_movemask_ps(_mm_cmpnle_ps(a, knee)) != 0)
            for (size_t j = i; j < i + 4; ++j)
                limit(samples[j]);
    }
#endif
    for (; i < count; ++i)
        limit(samples[i]);
}

void AudioMixer::Apply(const MixerCommand& c) {
    switch (c.kind) {
    case MixerCommand::kAddSound:
    case MixerCommand::kRemoveSound: {
        if (c.sound >= kMaxSounds)
            return;
        Sound& s = sounds_[c.sound];
        // Voices of the data that goes stop with it.
        if (s.data != nullptr) {
            for (int i = activeCount_ - 1; i >= 0; --i) {
                const uint16_t voice = active_[static_cast<size_t>(i)];
                if (voices_[voice].data == s.data)
                    StopVoice(voice);
            }
        }
        s = c.kind == MixerCommand::kAddSound ? Sound{c.data, c.generation} : Sound{};
        return;
    }
    case MixerCommand::kStopAll:
        while (activeCount_ > 0)
            StopVoice(active_[0]);
        return;
    case MixerCommand::kEndRun:
        EndRun(c.at.run);
        return;
    default:
        break;
    }
    if (c.voice >= kMaxVoices)
        return;
    Voice& v = voices_[c.voice];
    switch (c.kind) {
    case MixerCommand::kTrigger: {
        pendingTriggers_[c.voice].fetch_sub(1, std::memory_order_acq_rel);
        const Sound& s = c.sound < kMaxSounds ? sounds_[c.sound] : Sound{};
        if (s.data == nullptr || s.generation != c.generation)
            return; // the sound was replaced or removed since the step named it
        StopVoice(c.voice);
        v.data = s.data;
        v.sound = c.sound;
        v.position = 0;
        v.hz = static_cast<uint32_t>(
            std::clamp<int64_t>(c.hz, SoundData::kMinRate, SoundData::kMaxRate));
        SetSpeed(v);
        v.volume = std::clamp(c.volume, kMinVolume, 0);
        v.pan = std::clamp(c.pan, -kMaxPan, kMaxPan);
        SetGains(v);
        StartVoice(c.voice);
        break;
    }
    case MixerCommand::kStop:
        StopVoice(c.voice);
        break;
    case MixerCommand::kSetVolume:
        v.volume = std::clamp(c.volume, kMinVolume, 0);
        SetGains(v);
        break;
    default:
        break;
    }
}

void AudioMixer::SetSpeed(Voice& v) const {
    v.step = (static_cast<uint64_t>(v.hz) << 32) / config_.rate;
}

void AudioMixer::SetGains(Voice& v) {
    // The pan attenuates the other channel by |pan| hundredths of a decibel.
    const float volume = Gain(v.volume);
    v.gainLeft = v.pan > 0 ? volume * Gain(-v.pan) : volume;
    v.gainRight = v.pan < 0 ? volume * Gain(v.pan) : volume;
}

void AudioMixer::StartVoice(int voice) {
    Voice& v = voices_[static_cast<size_t>(voice)];
    if (v.playing || v.data == nullptr)
        return;
    if ((v.position >> 32) >= static_cast<uint64_t>(v.data->frames()))
        return; // already at its end: nothing to play
    v.playing = true;
    active_[static_cast<size_t>(activeCount_++)] = static_cast<uint16_t>(voice);
    sounding_[static_cast<size_t>(voice)].store(1, std::memory_order_release);
}

void AudioMixer::StopVoice(int voice) {
    Voice& v = voices_[static_cast<size_t>(voice)];
    if (!v.playing)
        return;
    v.playing = false;
    for (int i = 0; i < activeCount_; ++i) {
        if (active_[static_cast<size_t>(i)] == voice) {
            active_[static_cast<size_t>(i)] = active_[static_cast<size_t>(--activeCount_)];
            break;
        }
    }
    sounding_[static_cast<size_t>(voice)].store(0, std::memory_order_release);
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
                const float t = MixKernels::Fraction(pos);
                const float s = wide ? MixKernels::CubicWide(y[-1], y[0], y[1], y[2], t)
                                     : MixKernels::Cubic(y[-1], y[0], y[1], y[2], t);
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
                const float t = MixKernels::Fraction(pos);
                out[2 * k] += (wide ? MixKernels::CubicWide(y[-2], y[0], y[2], y[4], t)
                                    : MixKernels::Cubic(y[-2], y[0], y[2], y[4], t)) *
                              gl;
                out[2 * k + 1] += (wide ? MixKernels::CubicWide(y[-1], y[1], y[3], y[5], t)
                                        : MixKernels::Cubic(y[-1], y[1], y[3], y[5], t)) *
                                  gr;
            }
        }
    }
    v.position = pos;
    return pos < end;
}

} // namespace mb
