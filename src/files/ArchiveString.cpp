#include "files/ArchiveString.h"

#include <vector>

#include "files/TextCodec.h"

namespace mb {

void ArchiveString::WriteLength(ByteWriter& out, size_t length) {
    if (length < kLongLength) {
        out.U8(static_cast<uint8_t>(length));
    } else if (length < kUnicodeMarker) {
        out.U8(kLongLength);
        out.U16(static_cast<uint16_t>(length));
    } else {
        out.U8(kLongLength);
        out.U16(kHugeLength);
        out.I32(static_cast<int32_t>(static_cast<uint32_t>(length)));
    }
}

void ArchiveString::Write(ByteWriter& out, std::string_view text) {
    if (const auto ansi = TextCodec::Cp1252FromUtf8(text)) {
        WriteLength(out, ansi->size());
        out.Bytes({reinterpret_cast<const uint8_t*>(ansi->data()), ansi->size()});
        return;
    }
    const std::vector<char16_t> units = TextCodec::Utf16FromUtf8(text);
    out.U8(kLongLength);
    out.U16(kUnicodeMarker);
    WriteLength(out, units.size());
    for (char16_t u : units)
        out.U16(u);
}

ArchiveString::Status ArchiveString::Read(ByteReader& in, std::string& text) {
    bool unicode = false;
    uint64_t length = 0;
    for (;;) {
        const uint8_t first = in.U8();
        if (first < kLongLength) {
            length = first;
            break;
        }
        const uint16_t word = in.U16();
        if (word == kUnicodeMarker) {
            if (unicode)
                return Status::kBadLength;
            unicode = true;
            continue;
        }
        length = word == kHugeLength ? static_cast<uint32_t>(in.I32()) : word;
        break;
    }
    if (in.failed())
        return Status::kTruncated;

    // The length is checked against what is left before anything is allocated, so a
    // damaged length cannot ask for gigabytes.
    const uint64_t bytes = unicode ? length * 2 : length;
    if (bytes > in.remaining()) {
        in.Bytes(in.remaining() + 1); // marks the reader failed, as any read past the end
        return Status::kTruncated;
    }
    const auto raw = in.Bytes(static_cast<size_t>(bytes));
    if (!unicode) {
        text = TextCodec::Utf8FromCp1252({reinterpret_cast<const char*>(raw.data()), raw.size()});
        return Status::kOk;
    }
    std::vector<char16_t> units(static_cast<size_t>(length));
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    text = TextCodec::Utf8FromUtf16(units);
    return Status::kOk;
}

} // namespace mb
