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

} // namespace mb
