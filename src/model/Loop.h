#pragma once

#include <array>
#include <cstdint>

#include "model/Step.h"

namespace mb {

inline constexpr int kStepsPerLoop = 16;
inline constexpr int kLoopCount = 8;

// One measure of sixteen steps and its link in the loop chain.
class Loop {
public:
    Loop() = default;
    Loop(const Loop&) = default;
    Loop& operator=(const Loop&) = default;
    virtual ~Loop() = default;

    // The sixteen steps' clipboard records, step 0 first (192 bytes). The chain link
    // is not part of it.
    void WriteValues(ByteWriter& out) const;
    void ReadValues(ByteReader& in);

    static constexpr int kRecordBytes = kStepsPerLoop * Step::kRecordBytes;

    std::array<Step, kStepsPerLoop> steps;
    // Loop that follows when this loop's passes are done (0 to 7).
    Relaxed<int16_t> nextLoop{0};
    // Passes of this loop before the chain moves on; 0 acts as 1.
    Relaxed<int16_t> repeatCount{1};
    // Swing in percent, kStraightSwing (50) to kMaxSwing (75): every second step sounds
    // (2 swing / 100 - 1) periods late.
    Relaxed<int16_t> swing{50};
};

} // namespace mb
