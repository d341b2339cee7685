#include "files/PathNames.h"

#include <algorithm>
#include <filesystem>

namespace mb {

std::string PathNames::DisplayTitle(std::string_view path) {
    size_t end = path.size();
    while (end > 0 && IsSeparator(path[end - 1]))
        --end;
    size_t begin = end;
    while (begin > 0 && !IsSeparator(path[begin - 1]))
        --begin;
    return std::string(path.substr(begin, end - begin));
}

bool PathNames::IsPlainRelative(std::string_view path) {
    if (path.empty() || path.front() == '/')
        return false;
    if (path.find('\\') != std::string_view::npos)
        return false;
    return !(path.size() >= 2 && path[1] == ':');
}

std::vector<std::string> PathNames::SoundFolderCandidates(const std::string& soundFolder,
                                                          const std::string& soundFolderTitle,
                                                          const std::string& setupPath) {
    namespace fs = std::filesystem;
    std::vector<std::string> out;
    const fs::path setupFolder = fs::path(setupPath).parent_path();
    if (!soundFolder.empty()) {
        if (IsPlainRelative(soundFolder) && !setupFolder.empty())
            out.push_back((setupFolder / soundFolder).lexically_normal().string());
        out.push_back(soundFolder);
    }
    if (!setupFolder.empty() && !soundFolderTitle.empty() &&
        DisplayTitle(setupFolder.string()) == soundFolderTitle) {
        const std::string folder = setupFolder.string();
        if (std::find(out.begin(), out.end(), folder) == out.end())
            out.push_back(folder);
    }
    return out;
}

std::optional<std::string> PathNames::ExistingSoundFolder(const std::string& soundFolder,
                                                          const std::string& setupPath) {
    std::error_code ec;
    for (const std::string& folder :
         SoundFolderCandidates(soundFolder, DisplayTitle(soundFolder), setupPath)) {
        if (std::filesystem::is_directory(folder, ec))
            return folder;
    }
    return std::nullopt;
}

} // namespace mb
