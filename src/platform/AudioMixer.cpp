#include "platform/AudioMixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "platform/SoundData.h"

namespace mb {

namespace {

constexpr uint64_t kOne = uint64_t{1} << 32;
constexpr uint64_t kFractionMask = kOne - 1;
constexpr float kFractionScale = 1.0f / 4294967296.0f;
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

// 4-point cubic (Catmull-Rom) through y0..y3, at t from y1 (0) to y2 (1). At t = 0 it
// returns y1 exactly, so a voice at its file's own rate plays the samples unchanged.
inline float Cubic(float y0, float y1, float y2, float y3, float t) {
    const float c1 = 0.5f * (y2 - y0);
    const float c2 = y0 - 2.5f * y1 + 2.0f * y2 - 0.5f * y3;
    const float c3 = 0.5f * (y3 - y0) + 1.5f * (y1 - y2);
    return ((c3 * t + c2) * t + c1) * t + y1;
}

#if defined(__SSE2__)
// Four frames at a time: the four samples around each frame's position are one
// unaligned load; transposing the 4 x 4 block gives each tap for four frames, and the
// cubic runs on all four at once. Returns the frames mixed (a multiple of four).
inline __m128 CubicSse(__m128 y0, __m128 y1, __m128 y2, __m128 y3, __m128 t) {
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 c1 = _mm_mul_ps(half, _mm_sub_ps(y2, y0));
    const __m128 c2 = _mm_sub_ps(_mm_add_ps(_mm_sub_ps(y0, _mm_mul_ps(_mm_set1_ps(2.5f), y1)),
                                            _mm_mul_ps(_mm_set1_ps(2.0f), y2)),
                                 _mm_mul_ps(half, y3));
    const __m128 c3 = _mm_add_ps(_mm_mul_ps(half, _mm_sub_ps(y3, y0)),
                                 _mm_mul_ps(_mm_set1_ps(1.5f), _mm_sub_ps(y1, y2)));
    return _mm_add_ps(
        _mm_mul_ps(_mm_add_ps(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(c3, t), c2), t), c1), t), y1);
}

// The fractions of four successive positions (pos, pos + step, ...) as 32-bit integers;
// adding four steps' fractions moves them on by four frames (the integer parts carry
// out and are dropped, as they should).
inline __m128i Fractions(uint64_t pos, uint64_t step) {
    const auto f = static_cast<uint32_t>(pos & kFractionMask);
    const auto s = static_cast<uint32_t>(step & kFractionMask);
    return _mm_set_epi32(static_cast<int>(f + 3 * s), static_cast<int>(f + 2 * s),
                         static_cast<int>(f + s), static_cast<int>(f));
}

// Fractions as floats from 0 to 1 (the top 24 bits: as exact as a float holds them).
inline __m128 FractionsAsFloat(__m128i f) {
    return _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(f, 8)), _mm_set1_ps(1.0f / 16777216.0f));
}

// Adds four mono frames s, panned by the gains, to four interleaved stereo frames.
inline void AddFrames(float* out, __m128 left, __m128 right) {
    _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), _mm_unpacklo_ps(left, right)));
    _mm_storeu_ps(out + 4, _mm_add_ps(_mm_loadu_ps(out + 4), _mm_unpackhi_ps(left, right)));
}

int MixMonoInterpolated(
    const float* base, uint64_t pos, uint64_t step, float gl, float gr, float* out, int n) {
    const __m128 gainLeft = _mm_set1_ps(gl);
    const __m128 gainRight = _mm_set1_ps(gr);
    __m128i fractions = Fractions(pos, step);
    const __m128i advance = _mm_set1_epi32(static_cast<int>(4 * static_cast<uint32_t>(step)));
    int k = 0;
    for (; k + 4 <= n; k += 4) {
        const uint64_t p1 = pos + step;
        const uint64_t p2 = p1 + step;
        const uint64_t p3 = p2 + step;
        __m128 a = _mm_loadu_ps(base + (pos >> 32) - 1);
        __m128 b = _mm_loadu_ps(base + (p1 >> 32) - 1);
        __m128 c = _mm_loadu_ps(base + (p2 >> 32) - 1);
        __m128 d = _mm_loadu_ps(base + (p3 >> 32) - 1);
        _MM_TRANSPOSE4_PS(a, b, c, d);
        const __m128 s = CubicSse(a, b, c, d, FractionsAsFloat(fractions));
        AddFrames(out + 2 * k, _mm_mul_ps(s, gainLeft), _mm_mul_ps(s, gainRight));
        fractions = _mm_add_epi32(fractions, advance);
        pos = p3 + step;
    }
    return k;
}

int MixStereoInterpolated(
    const float* base, uint64_t pos, uint64_t step, float gl, float gr, float* out, int n) {
    const __m128 gainLeft = _mm_set1_ps(gl);
    const __m128 gainRight = _mm_set1_ps(gr);
    __m128i fractions = Fractions(pos, step);
    const __m128i advance = _mm_set1_epi32(static_cast<int>(4 * static_cast<uint32_t>(step)));
    int k = 0;
    // The taps of one frame, split into the left and the right channel.
    auto taps = [base](uint64_t p, __m128& l, __m128& r) {
        const float* y = base + 2 * (p >> 32) - 2;
        const __m128 lo = _mm_loadu_ps(y);
        const __m128 hi = _mm_loadu_ps(y + 4);
        l = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
        r = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
    };
    for (; k + 4 <= n; k += 4) {
        const uint64_t p1 = pos + step;
        const uint64_t p2 = p1 + step;
        const uint64_t p3 = p2 + step;
        __m128 l0, l1, l2, l3, r0, r1, r2, r3;
        taps(pos, l0, r0);
        taps(p1, l1, r1);
        taps(p2, l2, r2);
        taps(p3, l3, r3);
        _MM_TRANSPOSE4_PS(l0, l1, l2, l3);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        const __m128 t = FractionsAsFloat(fractions);
        fractions = _mm_add_epi32(fractions, advance);
        AddFrames(out + 2 * k, _mm_mul_ps(CubicSse(l0, l1, l2, l3, t), gainLeft),
                  _mm_mul_ps(CubicSse(r0, r1, r2, r3, t), gainRight));
        pos = p3 + step;
    }
    return k;
}
#if defined(__x86_64__) && defined(__GNUC__)
#define MB_MIXER_AVX2 1
// The same, eight frames at a time, on processors with AVX2 and FMA (chosen at run
// time: the program itself is built for the baseline instruction set).
#define MB_AVX2 __attribute__((target("avx2,fma")))

MB_AVX2 inline __m256 CubicAvx(__m256 y0, __m256 y1, __m256 y2, __m256 y3, __m256 t) {
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 c1 = _mm256_mul_ps(half, _mm256_sub_ps(y2, y0));
    const __m256 c2 = _mm256_fnmadd_ps(
        half, y3,
        _mm256_fmadd_ps(_mm256_set1_ps(2.0f), y2, _mm256_fnmadd_ps(_mm256_set1_ps(2.5f), y1, y0)));
    const __m256 c3 = _mm256_fmadd_ps(_mm256_set1_ps(1.5f), _mm256_sub_ps(y1, y2),
                                      _mm256_mul_ps(half, _mm256_sub_ps(y3, y0)));
    return _mm256_fmadd_ps(_mm256_fmadd_ps(_mm256_fmadd_ps(c3, t, c2), t, c1), t, y1);
}

MB_AVX2 inline __m256i FractionsAvx(uint64_t pos, uint64_t step) {
    const auto f = static_cast<uint32_t>(pos & kFractionMask);
    const auto s = static_cast<uint32_t>(step & kFractionMask);
    return _mm256_set_epi32(static_cast<int>(f + 7 * s), static_cast<int>(f + 6 * s),
                            static_cast<int>(f + 5 * s), static_cast<int>(f + 4 * s),
                            static_cast<int>(f + 3 * s), static_cast<int>(f + 2 * s),
                            static_cast<int>(f + s), static_cast<int>(f));
}

MB_AVX2 inline __m256 FractionsAsFloatAvx(__m256i f) {
    return _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(f, 8)),
                         _mm256_set1_ps(1.0f / 16777216.0f));
}

// Two 128-bit rows, frames i (low lane) and i + 4 (high lane).
MB_AVX2 inline __m256 Pair(const float* a, const float* b) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(a)), _mm_loadu_ps(b), 1);
}

// Transposes the 4 x 4 block in each lane: rows are frames, columns taps.
MB_AVX2 inline void Transpose(__m256& r0, __m256& r1, __m256& r2, __m256& r3) {
    const __m256 t0 = _mm256_unpacklo_ps(r0, r1);
    const __m256 t1 = _mm256_unpacklo_ps(r2, r3);
    const __m256 t2 = _mm256_unpackhi_ps(r0, r1);
    const __m256 t3 = _mm256_unpackhi_ps(r2, r3);
    r0 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0));
    r1 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2));
    r2 = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0));
    r3 = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

// Adds eight frames (left and right in frame order 0-3 | 4-7) to interleaved output.
MB_AVX2 inline void AddFramesAvx(float* out, __m256 left, __m256 right) {
    const __m256 lo = _mm256_unpacklo_ps(left, right);
    const __m256 hi = _mm256_unpackhi_ps(left, right);
    _mm256_storeu_ps(out,
                     _mm256_add_ps(_mm256_loadu_ps(out), _mm256_permute2f128_ps(lo, hi, 0x20)));
    _mm256_storeu_ps(out + 8,
                     _mm256_add_ps(_mm256_loadu_ps(out + 8), _mm256_permute2f128_ps(lo, hi, 0x31)));
}

MB_AVX2 int
MixMonoAvx(const float* base, uint64_t pos, uint64_t step, float gl, float gr, float* out, int n) {
    const __m256 gainLeft = _mm256_set1_ps(gl);
    const __m256 gainRight = _mm256_set1_ps(gr);
    __m256i fractions = FractionsAvx(pos, step);
    const __m256i advance = _mm256_set1_epi32(static_cast<int>(8 * static_cast<uint32_t>(step)));
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        uint64_t p[8];
        p[0] = pos;
        for (int i = 1; i < 8; ++i)
            p[i] = p[i - 1] + step;
        auto row = [base, &p](int i) { return base + (p[i] >> 32) - 1; };
        __m256 r0 = Pair(row(0), row(4));
        __m256 r1 = Pair(row(1), row(5));
        __m256 r2 = Pair(row(2), row(6));
        __m256 r3 = Pair(row(3), row(7));
        Transpose(r0, r1, r2, r3);
        const __m256 s = CubicAvx(r0, r1, r2, r3, FractionsAsFloatAvx(fractions));
        AddFramesAvx(out + 2 * k, _mm256_mul_ps(s, gainLeft), _mm256_mul_ps(s, gainRight));
        fractions = _mm256_add_epi32(fractions, advance);
        pos = p[7] + step;
    }
    return k;
}

// Stereo: each frame's four taps of both channels are one 256-bit load (left and right
// interleaved); an 8 x 8 transpose of eight frames gives every tap of every channel
// across the eight frames.
MB_AVX2 int MixStereoAvx(
    const float* base, uint64_t pos, uint64_t step, float gl, float gr, float* out, int n) {
    const __m256 gainLeft = _mm256_set1_ps(gl);
    const __m256 gainRight = _mm256_set1_ps(gr);
    __m256i fractions = FractionsAvx(pos, step);
    const __m256i advance = _mm256_set1_epi32(static_cast<int>(8 * static_cast<uint32_t>(step)));
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        __m256 r[8];
        for (int i = 0; i < 8; ++i) {
            r[i] = _mm256_loadu_ps(base + 2 * (pos >> 32) - 2);
            pos += step;
        }
        const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]);
        const __m256 t1 = _mm256_unpackhi_ps(r[0], r[1]);
        const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]);
        const __m256 t3 = _mm256_unpackhi_ps(r[2], r[3]);
        const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]);
        const __m256 t5 = _mm256_unpackhi_ps(r[4], r[5]);
        const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]);
        const __m256 t7 = _mm256_unpackhi_ps(r[6], r[7]);
        const __m256 s0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
        const __m256 s1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
        const __m256 s2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
        const __m256 s3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
        const __m256 s4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
        const __m256 s5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
        const __m256 s6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
        const __m256 s7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
        // Columns: left and right of taps -1, 0, 1 and 2.
        const __m256 l0 = _mm256_permute2f128_ps(s0, s4, 0x20);
        const __m256 r0 = _mm256_permute2f128_ps(s1, s5, 0x20);
        const __m256 l1 = _mm256_permute2f128_ps(s2, s6, 0x20);
        const __m256 r1 = _mm256_permute2f128_ps(s3, s7, 0x20);
        const __m256 l2 = _mm256_permute2f128_ps(s0, s4, 0x31);
        const __m256 r2 = _mm256_permute2f128_ps(s1, s5, 0x31);
        const __m256 l3 = _mm256_permute2f128_ps(s2, s6, 0x31);
        const __m256 r3 = _mm256_permute2f128_ps(s3, s7, 0x31);
        const __m256 t = FractionsAsFloatAvx(fractions);
        AddFramesAvx(out + 2 * k, _mm256_mul_ps(CubicAvx(l0, l1, l2, l3, t), gainLeft),
                     _mm256_mul_ps(CubicAvx(r0, r1, r2, r3, t), gainRight));
        fractions = _mm256_add_epi32(fractions, advance);
    }
    return k;
}

bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
#endif
#else
int MixMonoInterpolated(const float*, uint64_t, uint64_t, float, float, float*, int) {
    return 0;
}
int MixStereoInterpolated(const float*, uint64_t, uint64_t, float, float, float*, int) {
    return 0;
}
#endif

#ifdef MB_MIXER_AVX2
int MixMonoWide(
    const float* base, uint64_t pos, uint64_t step, float gl, float gr, float* out, int n) {
    return MixMonoAvx(base, pos, step, gl, gr, out, n);
}
int MixStereoWide(
    const float* base, uint64_t pos, uint64_t step, float gl, float gr, float* out, int n) {
    return MixStereoAvx(base, pos, step, gl, gr, out, n);
}
#else
int MixMonoWide(const float*, uint64_t, uint64_t, float, float, float*, int) {
    return 0;
}
int MixStereoWide(const float*, uint64_t, uint64_t, float, float, float*, int) {
    return 0;
}
#endif

} // namespace

AudioMixer::AudioMixer(const Config& config) : config_(config) {
#ifdef MB_MIXER_AVX2
    wide_ = config_.wideKernels && HasAvx2();
#endif
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
    const bool exact = step == kOne && (pos & kFractionMask) == 0;
    if (d.channels() == 1) {
        if (exact) {
            const float* y = base + (pos >> 32);
            for (; k < n; ++k) {
                out[2 * k] += y[k] * gl;
                out[2 * k + 1] += y[k] * gr;
            }
            pos += static_cast<uint64_t>(n) << 32;
        } else {
            k = wide ? MixMonoWide(base, pos, step, gl, gr, out, n)
                     : MixMonoInterpolated(base, pos, step, gl, gr, out, n);
            pos += static_cast<uint64_t>(k) * step;
            for (; k < n; ++k, pos += step) {
                const float* y = base + (pos >> 32);
                const float t = static_cast<float>(pos & kFractionMask) * kFractionScale;
                const float s = Cubic(y[-1], y[0], y[1], y[2], t);
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
            k = wide ? MixStereoWide(base, pos, step, gl, gr, out, n)
                     : MixStereoInterpolated(base, pos, step, gl, gr, out, n);
            pos += static_cast<uint64_t>(k) * step;
            for (; k < n; ++k, pos += step) {
                const float* y = base + 2 * (pos >> 32);
                const float t = static_cast<float>(pos & kFractionMask) * kFractionScale;
                out[2 * k] += Cubic(y[-2], y[0], y[2], y[4], t) * gl;
                out[2 * k + 1] += Cubic(y[-1], y[1], y[3], y[5], t) * gr;
            }
        }
    }
    v.position = pos;
    return pos < end;
}

} // namespace mb
