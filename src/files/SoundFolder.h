#pragma once

#include <functional>
#include <string>
#include <vector>

#include "files/SoundFolderScanner.h"

namespace mb {

class DocumentQuestions;
class Setup;
class SoundEngine;

// The sound folder: all the WAV files of one folder are the setup's sounds, in a fixed
// order, and a step names its sound by its index in that list. Scanning never changes
// the process's current directory. Window thread.
class SoundFolder : public SoundFolderScanner {
public:
    // updateCaption is the document's caption update, run when "Import Sounds" picks a
    // new folder.
    SoundFolder(Setup& setup,
                SoundEngine& engine,
                DocumentQuestions& prompts,
                std::function<void()> updateCaption);

    // Makes folder the sound folder (stored as an absolute path), lists its WAV files and
    // loads them; false, with nothing changed, when the folder cannot be entered.
    bool ScanSoundFolder(const std::string& folder) override;
    // Scans the setup's sound folder again.
    bool RescanSoundFolder();
    bool ImportSounds() override;

    // The names of the WAV files directly in folder (any letter case of ".wav"), in
    // sound-index order; nothing when the folder cannot be read.
    static std::vector<std::string> ListWaveFiles(const std::string& folder);
    // The order of the list: names compared the way NTFS orders a directory,
    // case-insensitively by upper-cased UTF-16 code units, so that a setup made on
    // Windows finds the same sound at the same index here. Names that differ only in
    // case (possible on this file system) fall back to their bytes.
    static bool SoundNameLess(const std::string& a, const std::string& b);
    // The last component of a folder path, as the caption shows it.
    static std::string FolderTitle(const std::string& folder);

private:
    Setup& setup_;
    SoundEngine& engine_;
    DocumentQuestions& prompts_;
    std::function<void()> updateCaption_;
};

} // namespace mb
