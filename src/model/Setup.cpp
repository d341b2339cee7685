#include "model/Setup.h"

namespace mb {

Setup::Setup() {
    // Every loop repeats itself forever and plays sound j on step j.
    for (int i = 0; i < kLoopCount; ++i) {
        Loop& l = loop(i);
        l.nextLoop = static_cast<int16_t>(i);
        l.repeatCount = 1;
        for (int j = 0; j < kStepsPerLoop; ++j) {
            Step& s = l.steps[static_cast<size_t>(j)];
            s.pitch = 0;
            s.sound = static_cast<int16_t>(j);
            s.volume = 110;
            s.pan = kCentrePan;
            s.dValue = 64;
        }
    }
}

} // namespace mb
