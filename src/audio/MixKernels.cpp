#include "audio/MixKernels.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
// The wide kernels are compiled for AVX2 and FMA and chosen at run time: the program
// itself is built for the baseline instruction set.
#define MB_MIXER_WIDE 1
#define MB_AVX2 __attribute__((target("avx2,fma")))
#endif

namespace mb {

namespace {

constexpr uint64_t kFractionMask = MixKernels::kFractionMask;

#if defined(__SSE2__)
// Four frames at a time: the four samples around each frame's position are one
// unaligned load; transposing the 4 x 4 block gives each tap for four frames, and the
// cubic runs on all four at once.
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
#endif

#ifdef MB_MIXER_WIDE
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
#endif

} // namespace

#if defined(__SSE2__)
int MixKernels::Mono(
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

int MixKernels::Stereo(
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
#else
int MixKernels::Mono(const float*, uint64_t, uint64_t, float, float, float*, int) {
    return 0;
}

int MixKernels::Stereo(const float*, uint64_t, uint64_t, float, float, float*, int) {
    return 0;
}
#endif

#ifdef MB_MIXER_WIDE
static MB_AVX2 int
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
static MB_AVX2 int MixStereoAvx(
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

MB_AVX2 float MixKernels::CubicWide(float y0, float y1, float y2, float y3, float t) {
    const float c1 = 0.5f * (y2 - y0);
    const float c2 = std::fma(-0.5f, y3, std::fma(2.0f, y2, std::fma(-2.5f, y1, y0)));
    const float c3 = std::fma(1.5f, y1 - y2, 0.5f * (y3 - y0));
    return std::fma(std::fma(std::fma(c3, t, c2), t, c1), t, y1);
}

int MixKernels::MonoWide(
    const float* base, uint64_t pos, uint64_t step, float gl, float gr, float* out, int n) {
    return MixMonoAvx(base, pos, step, gl, gr, out, n);
}

int MixKernels::StereoWide(
    const float* base, uint64_t pos, uint64_t step, float gl, float gr, float* out, int n) {
    return MixStereoAvx(base, pos, step, gl, gr, out, n);
}

bool MixKernels::HasWide() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
#else
float MixKernels::CubicWide(float y0, float y1, float y2, float y3, float t) {
    return Cubic(y0, y1, y2, y3, t);
}

int MixKernels::MonoWide(const float*, uint64_t, uint64_t, float, float, float*, int) {
    return 0;
}

int MixKernels::StereoWide(const float*, uint64_t, uint64_t, float, float, float*, int) {
    return 0;
}

bool MixKernels::HasWide() {
    return false;
}
#endif

} // namespace mb
