#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/WaveFormat.h"

namespace mb {

// The decoded samples of one sound, as floats from -1 to 1, one or two channels
// interleaved. Immutable once made: the window thread makes and frees it, the audio
// thread only reads it while a voice plays it.
class SoundData {
public:
    // The result the device gives for a format it cannot play (shown signed:
    // -2005401500).
    static constexpr int32_t kBadFormat = static_cast<int32_t>(0x88780064u);
    // Padding around the frames, so that interpolation reads zeros instead of checking
    // bounds: one frame before the start and three after the end.
    static constexpr int64_t kPadBefore = 1;
    static constexpr int64_t kPadAfter = 3;
    // Playback rates a voice accepts, in hertz.
    static constexpr uint32_t kMinRate = 100;
    static constexpr uint32_t kMaxRate = 200000;

    // 0 when the format can be played: PCM of 8 (unsigned), 16, 24 or 32 bits, IEEE
    // float of 32 or 64 bits, or either as WAVE_FORMAT_EXTENSIBLE; mono or stereo; a
    // block align that matches. kBadFormat otherwise.
    static int32_t CheckFormat(const WaveFormat& format);

    // Decodes the whole frames of `size` bytes in a format that CheckFormat accepted.
    static std::unique_ptr<SoundData>
    Decode(const WaveFormat& format, const uint8_t* bytes, size_t size);

    int channels() const { return channels_; }
    uint32_t sampleRate() const { return sampleRate_; }
    int64_t frames() const { return frames_; }
    // Frame i (-1 to frames + 2; those outside 0 to frames - 1 are silent).
    const float* Frame(int64_t i) const {
        return samples_.data() + (i + kPadBefore) * static_cast<int64_t>(channels_);
    }

private:
    int channels_ = 1;
    uint32_t sampleRate_ = 44100;
    int64_t frames_ = 0;
    std::vector<float> samples_;
};

} // namespace mb
