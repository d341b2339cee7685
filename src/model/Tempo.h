#pragma once

#include <algorithm>
#include <cmath>

namespace mb {

// The tempo range, in beats per minute, that playback and the tempo field keep to.
inline constexpr double kMinBpm = 0.5;
inline constexpr double kMaxBpm = 10000000.0;
// The tempo of a new setup, and the one that stands in for a tempo that is no number.
inline constexpr double kDefaultBpm = 126.0;

struct MendedTempo {
    // Inside kMinBpm to kMaxBpm.
    double bpm;
    // The value given was not a finite number: bpm is kDefaultBpm.
    bool replaced;
};

// Every tempo that comes from outside the setup (a setup file, the tempo field, a Link
// peer, the command line) passes through here before anything plays by it. A number
// beyond either end of the range becomes that end; NaN and the infinities hold no tempo
// at all and become kDefaultBpm, so that the caller can tell the user.
inline MendedTempo MendTempo(double bpm) {
    if (!std::isfinite(bpm))
        return {kDefaultBpm, true};
    return {std::clamp(bpm, kMinBpm, kMaxBpm), false};
}

} // namespace mb
