#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "files/PathNames.h"
#include "files/SoundFolderScanner.h"
#include "model/Setup.h"

namespace mb {

// A sound folder stand-in: a scan succeeds for an existing directory and does what the
// real one does to the setup (folder, title, modified); "Import Sounds" takes a
// scripted folder.
class FakeSoundFolder : public SoundFolderScanner {
public:
    explicit FakeSoundFolder(Setup& setup) : setup_(setup) {}

    bool ScanSoundFolder(const std::string& folder) override {
        scanned.push_back(folder);
        std::error_code ec;
        if (folder.empty() || !std::filesystem::is_directory(folder, ec))
            return false;
        setup_.soundFolder = folder;
        setup_.soundFolderTitle = PathNames::DisplayTitle(folder);
        setup_.modified = 1;
        return true;
    }
    bool ImportSounds() override {
        ++imports;
        if (!importFolder)
            return false;
        return ScanSoundFolder(*importFolder);
    }

    std::vector<std::string> scanned;
    int imports = 0;
    std::optional<std::string> importFolder;

private:
    Setup& setup_;
};

} // namespace mb
