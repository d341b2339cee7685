#pragma once

#include <string>

namespace mb {

// The sound folder operations a setup load needs: making a folder the sound folder (and
// loading its sounds) and letting the user pick it. Window thread.
class SoundFolderScanner {
public:
    virtual ~SoundFolderScanner() = default;
    // Makes folder the sound folder and loads its WAV files; false, with nothing
    // changed, when the folder cannot be entered.
    virtual bool ScanSoundFolder(const std::string& folder) = 0;
    // The "Import Sounds" command: the user picks any WAV file of the folder; false
    // when cancelled (nothing changes) or when the folder cannot be scanned.
    virtual bool ImportSounds() = 0;
};

} // namespace mb
