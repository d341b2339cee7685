#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mb {

// Names taken from paths. Paths read from setup files may come from Windows, so both
// '\' and '/' separate components here.
class PathNames {
public:
    // The display title of a path: its last component ("Kit" for "C:\Beats\Kit" and
    // for "/home/me/Kit/"); empty for an empty path or one made only of separators.
    static std::string DisplayTitle(std::string_view path);

    // The folders to try, in order, for the sounds of a setup opened from setupPath:
    // the stored sound folder (for a relative one, first relative to the setup file's
    // folder), then the setup file's own folder when its title is soundFolderTitle, so
    // that a sound folder moved together with the setup file it holds is found again.
    static std::vector<std::string> SoundFolderCandidates(const std::string& soundFolder,
                                                          const std::string& soundFolderTitle,
                                                          const std::string& setupPath);

    // The first of those folders that exists, for opening a setup without a window (no
    // scan, no prompt); nothing when none does.
    static std::optional<std::string> ExistingSoundFolder(const std::string& soundFolder,
                                                          const std::string& setupPath);

private:
    static bool IsSeparator(char c) { return c == '/' || c == '\\'; }
    // True for a path relative on this system and not written for Windows.
    static bool IsPlainRelative(std::string_view path);
};

} // namespace mb
