#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/ByteStream.h"

namespace mb {

// The length-prefixed string of setup files. The length comes in three forms: one byte
// below 255; 0xFF and a 16-bit length below 0xFFFE; 0xFF, 0xFFFF and a 32-bit length.
// The characters are Windows-1252 bytes, or, after the prefix FF FE FF and a length in
// one of the same forms, UTF-16LE code units. In memory the text is UTF-8.
class ArchiveString {
public:
    enum class Status {
        kOk,
        // The length or the characters run past the end of the data.
        kTruncated,
        // The UTF-16 prefix appears twice.
        kBadLength,
    };

    // Writes text in Windows-1252 when the code page holds every character, else in
    // the UTF-16 form, so that no character is lost.
    static void Write(ByteWriter& out, std::string_view text);
    // Reads one string into text (UTF-8). On failure text is unchanged and the reader
    // may have moved.
    static Status Read(ByteReader& in, std::string& text);

    static constexpr uint8_t kLongLength = 0xFF;
    static constexpr uint16_t kUnicodeMarker = 0xFFFE;
    static constexpr uint16_t kHugeLength = 0xFFFF;

private:
    static void WriteLength(ByteWriter& out, size_t length);
};

} // namespace mb
