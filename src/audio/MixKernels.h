#pragma once

#include <cstdint>

namespace mb {

// The mixer's interpolating inner loops: a voice's samples read at a fixed-point position
// (frames, 32.32) that moves by `step` per output frame, through a 4-point cubic, times
// the left and right gains, added to interleaved stereo output. Each kernel mixes as
// many whole groups of frames (four, or eight for the wide ones) as fit in n and returns
// how many frames it mixed; the caller mixes the rest one by one with Cubic (CubicWide after
// a wide kernel) at Fraction(pos), which give every frame exactly what the kernel would:
// a frame sounds the same whichever block it falls in, so a render in blocks of any size
// is the same to the sample. Audio thread: no allocation, no locks.
class MixKernels {
public:
    static constexpr uint64_t kOne = uint64_t{1} << 32;
    static constexpr uint64_t kFractionMask = kOne - 1;

    // 4-point cubic (Catmull-Rom) through y0..y3, at t from y1 (0) to y2 (1). At t = 0 it
    // returns y1 exactly, so a voice at its file's own rate plays the samples unchanged.
    static float Cubic(float y0, float y1, float y2, float y3, float t) {
        const float c1 = 0.5f * (y2 - y0);
        const float c2 = y0 - 2.5f * y1 + 2.0f * y2 - 0.5f * y3;
        const float c3 = 0.5f * (y3 - y0) + 1.5f * (y1 - y2);
        return ((c3 * t + c2) * t + c1) * t + y1;
    }
    // The same with the wide kernels' fused multiply-adds, in their order.
    static float CubicWide(float y0, float y1, float y2, float y3, float t);
    // The fraction of a position as the kernels take it: its top 24 bits, exact as a float.
    static float Fraction(uint64_t pos) {
        return static_cast<float>(static_cast<uint32_t>(pos & kFractionMask) >> 8) *
               (1.0f / 16777216.0f);
    }

    // Four frames at a time with the baseline instruction set (SSE2); 0 elsewhere.
    static int
    Mono(const float* base, uint64_t pos, uint64_t step, float gl, float gr, float* out, int n);
    static int
    Stereo(const float* base, uint64_t pos, uint64_t step, float gl, float gr, float* out, int n);

    // Eight frames at a time with AVX2 and FMA; only where HasWide() says so.
    static int
    MonoWide(const float* base, uint64_t pos, uint64_t step, float gl, float gr, float* out, int n);
    static int StereoWide(
        const float* base, uint64_t pos, uint64_t step, float gl, float gr, float* out, int n);
    // Whether this processor runs the wide kernels. Call it outside the audio thread.
    static bool HasWide();
};

} // namespace mb
