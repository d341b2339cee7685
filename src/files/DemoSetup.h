#pragma once

#include <string>

#include "files/SetupRecord.h"

namespace mb {

class Setup;

// The demo groove shipped in examples/: three chained loops for the sixteen-sound demo
// kit (a main beat played three times, a fill with the toms, a cowbell break played
// twice), polyphonic, with varied pitch, pan and volume.
class DemoSetup {
public:
    // Writes the groove into a new setup; soundFolder is the kit's folder.
    static void Build(Setup& setup, const std::string& soundFolder);
    // The colour and window position the demo file stores.
    static SetupFace Face();

    // The demo kit's sound indexes (its files in their search order).
    enum Sound : int {
        kKick = 0,
        kSnare = 1,
        kClosedHat = 2,
        kOpenHat = 3,
        kClap = 4,
        kLowTom = 5,
        kMidTom = 6,
        kHighTom = 7,
        kRim = 8,
        kCowbell = 9,
    };
};

} // namespace mb
