#include "files/SettingsStore.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "files/AtomicFile.h"

namespace mb {

namespace {

// A settings file is a few hundred bytes; anything far larger is not ours.
constexpr size_t kMaxStoreBytes = 1u << 20;

std::string DefaultStorePath() {
    namespace fs = std::filesystem;
    fs::path base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
        base = config;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = fs::path(home) / ".config";
    } else {
        return {};
    }
    return (base / "marrowbeat" / "registry.ini").string();
}

} // namespace

SettingsStore::SettingsStore() : filePath_(DefaultStorePath()) {}

// Values are kept on one line each: a backslash, a line break or a carriage return in
// a text (a program path may hold any of them) is written as an escape, so that no
// text can end its line early and forge another value.
std::string SettingsStore::Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string SettingsStore::Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

SettingsStore::Values SettingsStore::ReadAll() const {
    Values values;
    if (filePath_.empty())
        return values;
    const AtomicFile::ReadResult file = AtomicFile::ReadAll(filePath_, kMaxStoreBytes);
    if (!file.error.empty())
        return values;
    std::istringstream lines(std::string(file.bytes.begin(), file.bytes.end()));
    std::string line;
    std::string section;
    bool inSection = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            inSection = true;
            values[section];
            continue;
        }
        const size_t eq = line.find('=');
        if (!inSection || eq == std::string::npos)
            continue;
        values[section][line.substr(0, eq)] = Unescape(line.substr(eq + 1));
    }
    return values;
}

void SettingsStore::WriteString(const std::string& key,
                                const std::string& name,
                                const std::string& text) {
    namespace fs = std::filesystem;
    // Names that would break the file's structure are refused, as the registry refuses
    // malformed names.
    if (filePath_.empty() || key.find_first_of("]\r\n") != std::string::npos || name.empty() ||
        name.find_first_of("=\r\n") != std::string::npos)
        return;
    Values values = ReadAll();
    values[key][name] = text;

    std::string out;
    for (const auto& [section, entries] : values) {
        out += "[" + section + "]\n";
        for (const auto& [valueName, valueText] : entries)
            out += valueName + "=" + Escape(valueText) + "\n";
        out += "\n";
    }
    std::error_code ec;
    fs::create_directories(fs::path(filePath_).parent_path(), ec);
    AtomicFile::Replace(filePath_, {reinterpret_cast<const uint8_t*>(out.data()), out.size()});
}

std::string SettingsStore::ReadString(const std::string& key, const std::string& name) const {
    const Values values = ReadAll();
    const auto section = values.find(key);
    if (section == values.end())
        return {};
    const auto value = section->second.find(name);
    if (value == section->second.end())
        return {};
    // A text may have been stored with its terminating zero; it is not part of it.
    std::string text = value->second;
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

} // namespace mb
