#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mb {

// Conversions between the text forms of setup files (Windows-1252 bytes, UTF-16LE code
// units) and the UTF-8 the program holds in memory.
class TextCodec {
public:
    // Every Windows-1252 byte has a character: the five bytes the code page leaves
    // unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same
    // number, as the system's own conversion does, so that they come back unchanged.
    static std::string Utf8FromCp1252(std::string_view bytes);
    // The Windows-1252 bytes of a UTF-8 text, or nothing when a character has no byte
    // in the code page (or the text is not valid UTF-8).
    static std::optional<std::string> Cp1252FromUtf8(std::string_view text);
    // Unpaired surrogates become U+FFFD.
    static std::string Utf8FromUtf16(const std::vector<char16_t>& units);
    // Invalid UTF-8 sequences become U+FFFD.
    static std::vector<char16_t> Utf16FromUtf8(std::string_view text);

    static constexpr char32_t kReplacement = 0xFFFD;

private:
    // Decodes the code point at text[pos], advancing pos; kReplacement for an invalid
    // sequence (one byte is consumed).
    static char32_t NextCodePoint(std::string_view text, size_t& pos, bool& valid);
    static void AppendUtf8(std::string& out, char32_t cp);
};

} // namespace mb
