#include "files/SoundFolder.h"

#include <algorithm>
#include <cctype>
#include <cwctype>
#include <dirent.h>
#include <filesystem>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/SoundEngine.h"
#include "files/DocumentQuestions.h"
#include "files/SetupDocument.h"
#include "model/Setup.h"

namespace mb {

namespace {

constexpr const char* kWaveExtension = ".wav";
constexpr size_t kWaveExtensionLength = 4;

// The UTF-16 code units of a UTF-8 name. A byte that does not start a valid sequence
// stands for itself, so that every name has a place in the order.
std::u16string ToUtf16(const std::string& s) {
    std::u16string out;
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        int extra = b >= 0xF0 && b < 0xF8 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : 0;
        char32_t cp = extra == 3 ? b & 0x07u : extra == 2 ? b & 0x0Fu : b & 0x1Fu;
        bool valid = b >= 0x80 ? extra > 0 && b < 0xF8 : true;
        if (b < 0x80) {
            cp = b;
            extra = 0;
        }
        for (int k = 1; valid && k <= extra; ++k) {
            if (i + static_cast<size_t>(k) >= s.size() ||
                (static_cast<unsigned char>(s[i + static_cast<size_t>(k)]) & 0xC0) != 0x80)
                valid = false;
            else
                cp =
                    (cp << 6) | (static_cast<unsigned char>(s[i + static_cast<size_t>(k)]) & 0x3Fu);
        }
        if (!valid || cp > 0x10FFFF) {
            out.push_back(static_cast<char16_t>(b));
            ++i;
            continue;
        }
        i += static_cast<size_t>(extra) + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

// The upper case of one UTF-16 code unit, as the file system's case table gives it:
// Unicode's simple upper-case mapping within the basic multilingual plane; surrogates
// stay as they are.
char16_t UpCase(char16_t c) {
    if (c < 0x80)
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
    if (c >= 0xD800 && c <= 0xDFFF)
        return c;
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (utf8 == static_cast<locale_t>(0))
        return c;
    const wint_t up = towupper_l(static_cast<wint_t>(c), utf8);
    return up <= 0xFFFF ? static_cast<char16_t>(up) : c;
}

bool IsWaveName(const std::string& name) {
    if (name.size() < kWaveExtensionLength)
        return false;
    const std::string tail = name.substr(name.size() - kWaveExtensionLength);
    return std::equal(tail.begin(), tail.end(), kWaveExtension, [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

// The folder can be entered: it is a directory that this process may search.
bool CanEnter(const std::string& folder) {
    struct stat st {};
    return !folder.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(folder.c_str(), X_OK) == 0;
}

} // namespace

SoundFolder::SoundFolder(Setup& setup,
                         SoundEngine& engine,
                         DocumentQuestions& prompts,
                         std::function<void()> updateCaption)
    : setup_(setup), engine_(engine), prompts_(prompts), updateCaption_(std::move(updateCaption)) {}

bool SoundFolder::SoundNameLess(const std::string& a, const std::string& b) {
    const std::u16string ua = ToUtf16(a);
    const std::u16string ub = ToUtf16(b);
    const size_t n = std::min(ua.size(), ub.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t ca = UpCase(ua[i]);
        const char16_t cb = UpCase(ub[i]);
        if (ca != cb)
            return ca < cb;
    }
    if (ua.size() != ub.size())
        return ua.size() < ub.size();
    return a < b;
}

std::string SoundFolder::FolderTitle(const std::string& folder) {
    std::string f = folder;
    while (f.size() > 1 && f.back() == '/')
        f.pop_back();
    const size_t slash = f.find_last_of('/');
    if (slash == std::string::npos || f.size() == 1)
        return f;
    return f.substr(slash + 1);
}

std::vector<std::string> SoundFolder::ListWaveFiles(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsWaveName(name))
            continue;
        struct stat st {};
        const std::string path = folder + "/" + name;
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), &SoundFolder::SoundNameLess);
    return names;
}

bool SoundFolder::ScanSoundFolder(const std::string& folder) {
    if (!CanEnter(folder))
        return false;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    const std::string full = error ? folder : absolute.string();

    setup_.soundFolder = full;
    setup_.soundFolderTitle = FolderTitle(full);
    setup_.modified = 1;
    engine_.ReleaseAll();
    setup_.soundNames = ListWaveFiles(full);
    engine_.LoadAll();
    return true;
}

bool SoundFolder::RescanSoundFolder() {
    return ScanSoundFolder(setup_.soundFolder);
}

bool SoundFolder::ImportSounds() {
    const std::optional<std::string> picked = prompts_.ImportSoundFile();
    if (!picked)
        return false;
    std::error_code error;
    const std::filesystem::path file = std::filesystem::absolute(*picked, error);
    const std::string folder =
        (error ? std::filesystem::path(*picked) : file).parent_path().string();
    // A name typed into a folder that does not exist changes nothing.
    if (!CanEnter(folder)) {
        prompts_.ShowNote(SetupDocument::kPathNotFound);
        return false;
    }
    setup_.soundFolder = folder;
    setup_.soundFolderTitle = FolderTitle(folder);
    if (updateCaption_)
        updateCaption_();
    return RescanSoundFolder();
}

} // namespace mb
