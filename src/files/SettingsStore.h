#pragma once

#include <map>
#include <string>
#include <utility>

namespace mb {

// A small key/value store of texts, in an INI file: one section per key (keys may
// contain '\'), one "name=text" line per value, "@" for a key's default value.
// Every call reads or rewrites the whole file; every failure is silent (a failed
// write leaves the file as it was, a failed read gives an empty text). Window thread;
// several instances may share the file, and the last writer wins.
class SettingsStore {
public:
    // The store at $XDG_CONFIG_HOME/marrowbeat/registry.ini, or under ~/.config when
    // XDG_CONFIG_HOME is unset or empty.
    SettingsStore();
    explicit SettingsStore(std::string filePath) : filePath_(std::move(filePath)) {}

    // Sets a value, creating its key and the file (and its folder) as needed.
    void WriteString(const std::string& key, const std::string& name, const std::string& text);
    // A value's text, without a terminating zero; empty when the file, the key or the
    // value is missing.
    std::string ReadString(const std::string& key, const std::string& name) const;

    const std::string& filePath() const { return filePath_; }

    // The value name of a key's default value.
    static constexpr const char* kDefaultValue = "@";

private:
    using Values = std::map<std::string, std::map<std::string, std::string>>;
    Values ReadAll() const;
    static std::string Escape(const std::string& text);
    static std::string Unescape(const std::string& text);

    std::string filePath_;
};

} // namespace mb
