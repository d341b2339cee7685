#pragma once

namespace mb {

// Codes that address the six values of a step. The same codes are the tens digit of
// the step column controls' widget ids.
enum StepParam : int {
    kParamOn = 10,
    kParamPitch = 20,
    kParamSound = 30,
    kParamVolume = 40,
    kParamPan = 50,
    kParamDValue = 60,
};

// A step's pan at the centre of the stereo field (pans run from 0 to 127).
inline constexpr int kCentrePan = 64;

} // namespace mb
