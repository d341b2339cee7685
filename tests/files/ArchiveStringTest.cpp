#include <gtest/gtest.h>

#include "files/ArchiveString.h"
#include "files/TextCodec.h"

namespace mb {
namespace {

std::vector<uint8_t> Written(const std::string& text) {
    ByteWriter out;
    ArchiveString::Write(out, text);
    return out.Take();
}

std::vector<uint8_t> Prefix(const std::vector<uint8_t>& bytes, size_t n) {
    return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)};
}

struct LengthCase {
    size_t length;
    std::vector<uint8_t> prefix;
};

// Windows-1252 text: the length form changes at 255 and at 65534 characters.
TEST(ArchiveString, AnsiLengthFormsAndRoundTrip) {
    const LengthCase cases[] = {
        {0, {0x00}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {300, {0xFF, 0x2C, 0x01}},
        {65533, {0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(c.length);
        std::string text(c.length, 'k');
        if (c.length > 0)
            text.back() = 'z';
        const std::vector<uint8_t> bytes = Written(text);
        ASSERT_EQ(bytes.size(), c.prefix.size() + c.length);
        EXPECT_EQ(Prefix(bytes, c.prefix.size()), c.prefix);

        ByteReader in(bytes);
        std::string back;
        ASSERT_EQ(ArchiveString::Read(in, back), ArchiveString::Status::kOk);
        EXPECT_EQ(back, text);
        EXPECT_EQ(in.remaining(), 0u);
    }
}

TEST(ArchiveString, Windows1252CharactersAreSingleBytesOnDisk) {
    // e acute, euro sign, and the unassigned byte 0x81, which comes back unchanged.
    const std::string text = "C:\\Kits\\Caf\u00E9 \u20AC\u0081";
    const std::vector<uint8_t> expected = {15,   'C', ':', '\\', 'K',  'i', 't',  's',
                                           '\\', 'C', 'a', 'f',  0xE9, ' ', 0x80, 0x81};
    const std::vector<uint8_t> bytes = Written(text);
    EXPECT_EQ(bytes, expected);
    ByteReader in(bytes);
    std::string back;
    ASSERT_EQ(ArchiveString::Read(in, back), ArchiveString::Status::kOk);
    EXPECT_EQ(back, text);
}

// A text the code page cannot hold is written in the UTF-16 form, with the same three
// length forms after the FF FE FF prefix, and reads back unchanged.
TEST(ArchiveString, Utf16FormForTextOutsideTheCodePage) {
    const LengthCase cases[] = {
        {3, {0xFF, 0xFE, 0xFF, 0x03}},
        {300, {0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01}},
        {65534, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(c.length);
        std::string text(c.length - 1, 'a');
        text += "\u97F3"; // one UTF-16 unit, not in Windows-1252
        const std::vector<uint8_t> bytes = Written(text);
        ASSERT_EQ(bytes.size(), c.prefix.size() + 2 * c.length);
        EXPECT_EQ(Prefix(bytes, c.prefix.size()), c.prefix);
        EXPECT_EQ(bytes[c.prefix.size()], 'a');
        EXPECT_EQ(bytes[c.prefix.size() + 1], 0);
        EXPECT_EQ(bytes[bytes.size() - 2], 0xF3);
        EXPECT_EQ(bytes[bytes.size() - 1], 0x97);

        ByteReader in(bytes);
        std::string back;
        ASSERT_EQ(ArchiveString::Read(in, back), ArchiveString::Status::kOk);
        EXPECT_EQ(back, text);
    }
}

TEST(ArchiveString, Utf16FormReadsSurrogatePairsAndRepairsLoneOnes) {
    struct Case {
        std::vector<uint8_t> bytes;
        std::string text;
    };
    const Case cases[] = {
        // A drum emoji as a surrogate pair.
        {{0xFF, 0xFE, 0xFF, 0x02, 0x3E, 0xD8, 0x41, 0xDD}, "\U0001F941"},
        // A lone high surrogate, then 'x'.
        {{0xFF, 0xFE, 0xFF, 0x02, 0x3E, 0xD8, 'x', 0x00}, "\uFFFDx"},
        // Plain Latin-1 text in the UTF-16 form.
        {{0xFF, 0xFE, 0xFF, 0x02, 0xE9, 0x00, '/', 0x00}, "\u00E9/"},
    };
    for (const Case& c : cases) {
        ByteReader in(c.bytes);
        std::string back;
        ASSERT_EQ(ArchiveString::Read(in, back), ArchiveString::Status::kOk);
        EXPECT_EQ(back, c.text);
    }
    // The emoji is written back in the UTF-16 form, unchanged.
    EXPECT_EQ(Written("\U0001F941"), cases[0].bytes);
}

TEST(ArchiveString, InvalidUtf8IsWrittenAsReplacementCharacters) {
    std::string back;
    const std::vector<uint8_t> bytes = Written("a\xC3");
    ByteReader in(bytes);
    ASSERT_EQ(ArchiveString::Read(in, back), ArchiveString::Status::kOk);
    EXPECT_EQ(back, "a\uFFFD");
}

// Lengths larger than the data are a truncated string, found before any allocation.
TEST(ArchiveString, DamagedLengthsFailWithoutChangingTheText) {
    struct Case {
        std::vector<uint8_t> bytes;
        ArchiveString::Status status;
    };
    const Case cases[] = {
        {{}, ArchiveString::Status::kTruncated},
        {{0x05, 'a', 'b'}, ArchiveString::Status::kTruncated},
        {{0xFF, 0x2C}, ArchiveString::Status::kTruncated},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}, ArchiveString::Status::kTruncated},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, ArchiveString::Status::kTruncated},
        {{0xFF, 0xFE, 0xFF, 0x02, 'a', 0x00, 'b'}, ArchiveString::Status::kTruncated},
        {{0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF, 0x00}, ArchiveString::Status::kBadLength},
    };
    for (const Case& c : cases) {
        ByteReader in(c.bytes);
        std::string text = "kept";
        EXPECT_EQ(ArchiveString::Read(in, text), c.status);
        EXPECT_EQ(text, "kept");
    }
}

TEST(TextCodec, EveryWindows1252ByteRoundTrips) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::string utf8 = TextCodec::Utf8FromCp1252(all);
    EXPECT_EQ(TextCodec::Cp1252FromUtf8(utf8), all);
    EXPECT_FALSE(TextCodec::Cp1252FromUtf8("\u0100").has_value());
}

} // namespace
} // namespace mb
