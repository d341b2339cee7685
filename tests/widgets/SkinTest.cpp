// The one-bit pictures: sizes, inverse pairs, two-colour drawing, cursors and the reader.
#include <string>

#include <gtest/gtest.h>

#include "WidgetTestSupport.h"
#include "widgets/MImage.h"
#include "widgets/MonoPicture.h"
#include "widgets/SkinBitmap.h"

namespace mb {
namespace {

using test::PixelAt;
using test::TestOwner;

constexpr Color kInk = MakeColor(20, 40, 60);
constexpr Color kPaper = MakeColor(240, 230, 200);

class SkinTest : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureApplication(); }
};

TEST_F(SkinTest, EverySkinHasItsSize) {
    struct Case {
        std::string name;
        int width, height;
    };
    std::vector<Case> cases = {
        {"GLOBALBMP", 79, 166}, {"LOOPBKGBMP", 125, 41}, {"MEASURESBMP", 10, 166},
        {"NOTEBMP", 37, 162},   {"PLAYUP", 24, 24},      {"PLAYDN", 24, 24},
        {"ONOFFUP", 17, 17},    {"ONOFFDN", 17, 17},     {"UPARROWUP", 7, 9},
        {"UPARROWDN", 7, 9},    {"DNARROWUP", 7, 9},     {"DNARROWDN", 7, 9},
        {"FILEUP", 16, 15},     {"FILEDN", 16, 15},      {"EDITUP", 16, 15},
        {"EDITDN", 16, 15},     {"MIDIUP", 16, 15},      {"MIDIDN", 16, 15},
        {"PLAIN", 2, 2},
    };
    for (int n = 1; n <= 8; ++n) {
        cases.push_back({"LOOPSCTRL" + std::to_string(n) + "UP", 10, 18});
        cases.push_back({"LOOPSCTRL" + std::to_string(n) + "DN", 10, 18});
    }
    for (const Case& c : cases) {
        SkinBitmap skin;
        skin.SetName(c.name);
        EXPECT_FALSE(skin.IsPlaceholder()) << c.name;
        EXPECT_EQ(skin.GetSize(), QSize(c.width, c.height)) << c.name;
    }
}

TEST_F(SkinTest, DownImagesAreExactInversesOrDifferentShapes) {
    auto load = [](const std::string& name) { return *MonoPicture::LoadSkin(name); };
    auto inverse = [](const QImage& a, const QImage& b) {
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                if (a.pixelIndex(x, y) == b.pixelIndex(x, y))
                    return false;
        return true;
    };
    for (const char* pair : {"PLAY", "FILE", "EDIT", "MIDI"})
        EXPECT_TRUE(inverse(load(std::string(pair) + "UP"), load(std::string(pair) + "DN")))
            << pair;
    for (std::string pair : {"ONOFF", "UPARROW", "DNARROW", "LOOPSCTRL3"}) {
        const QImage up = load(pair + "UP");
        const QImage down = load(pair + "DN");
        EXPECT_NE(up, down) << pair;
        EXPECT_FALSE(inverse(up, down)) << pair;
    }
}

TEST_F(SkinTest, DarkPixelsTakeInkAndSwappingColoursGivesTheInverseImage) {
    TestOwner owner;
    MImage picture;
    picture.Create(0, "PLAYUP", 3, 4, &owner, "PLAYUP");
    ASSERT_EQ(picture.GetRect(), (Rect{3, 4, 27, 28}));
    const QImage bits = *MonoPicture::LoadSkin("PLAYUP");

    picture.SetColors(kInk, kPaper);
    const QImage first = owner.Render(30, 30);
    picture.SetColors(kPaper, kInk);
    const QImage swapped = owner.Render(30, 30);
    int dark = 0;
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            const bool isDark = bits.pixelIndex(x, y) == 0;
            dark += isDark;
            EXPECT_EQ(PixelAt(first, 3 + x, 4 + y), isDark ? kInk : kPaper);
            EXPECT_EQ(PixelAt(swapped, 3 + x, 4 + y), isDark ? kPaper : kInk);
        }
    }
    EXPECT_GT(dark, 0);
    EXPECT_LT(dark, 24 * 24);
}

TEST_F(SkinTest, MissingNameGivesAOnePixelPlaceholderInPaper) {
    TestOwner owner;
    MImage picture;
    picture.Create(0, "", 5, 6, &owner, "NOSUCHBMP");
    picture.SetColors(kInk, kPaper);
    EXPECT_TRUE(picture.GetBitmap().IsPlaceholder());
    EXPECT_EQ(picture.GetRect(), (Rect{5, 6, 6, 7}));
    const QImage image = owner.Render(10, 10, 0x00808080);
    EXPECT_EQ(PixelAt(image, 5, 6), kPaper);
    EXPECT_EQ(PixelAt(image, 6, 6), 0x00808080u);
}

TEST_F(SkinTest, ReaderRefusesDamagedText) {
    const char* damaged[] = {
        "",
        "P4\n2 2\n0101",        // binary form
        "P1\n2 2\n010",         // too few pixels
        "P1\n0 5\n",            // no width
        "P1\n99999 1\n0",       // absurd size
        "P1\n2 1\n0x",          // stray character
        "P1\n# only a comment", // no size
    };
    for (const char* text : damaged)
        EXPECT_FALSE(MonoPicture::Parse(QByteArray(text)).has_value()) << text;
}

TEST_F(SkinTest, ReaderTakesPixelsWithOrWithoutSpacesAndTheHotSpot) {
    QPoint hotspot;
    const auto image =
        MonoPicture::Parse("P1\n# arrow\n# hotspot 2 1\n3 2\n1 0 1\n011\n", &hotspot);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(3, 2));
    EXPECT_EQ(hotspot, QPoint(2, 1));
    EXPECT_EQ(image->pixelIndex(0, 0), 0); // 1 is dark: colour index 0, drawn in ink
    EXPECT_EQ(image->pixelIndex(1, 0), 1);
    EXPECT_EQ(image->pixelIndex(0, 1), 1);
    EXPECT_EQ(image->pixelIndex(2, 1), 0);
}

TEST_F(SkinTest, EveryCursorLoadsWithItsHotSpotOnThePicture) {
    for (const char* name : {"NOCUR", "SIZECUR", "PUSHCUR", "TEXTCUR", "UPCUR", "DNCUR", "BARVCUR",
                             "BARHCUR", "GENCUR", "FCUR", "ECUR", "MCUR", "HANDCUR"}) {
        const std::optional<QCursor> cursor = MonoPicture::LoadCursor(name);
        ASSERT_TRUE(cursor.has_value()) << name;
        const QSize size = cursor->bitmap().size();
        EXPECT_TRUE(QRect(QPoint(0, 0), size).contains(cursor->hotSpot())) << name;
    }
    EXPECT_FALSE(MonoPicture::LoadCursor("NOSUCHCUR").has_value());
}

TEST_F(SkinTest, CursorMaskFillsEnclosedPixelsAndRimsTheShape) {
    // A closed square with a light inside, on a clear ground.
    const auto shape = MonoPicture::Parse("P1 7 7\n"
                                          "0000000\n"
                                          "0000000\n"
                                          "0011100\n"
                                          "0010100\n"
                                          "0011100\n"
                                          "0000000\n"
                                          "0000000\n");
    ASSERT_TRUE(shape.has_value());
    const QImage mask = MonoPicture::CursorMask(*shape);
    EXPECT_EQ(mask.pixelIndex(3, 3), 1); // enclosed: opaque white
    EXPECT_EQ(mask.pixelIndex(1, 1), 1); // rim
    EXPECT_EQ(mask.pixelIndex(0, 0), 0); // outside: clear
    EXPECT_EQ(mask.pixelIndex(6, 3), 0);
}

TEST_F(SkinTest, IconAndAboutPictureLoadWithTheVersionCentredOnItsLine) {
    EXPECT_FALSE(MonoPicture::ProgramIcon(kInk, kPaper).isNull());
    const std::string versions[] = {"0.1.0", "10.20.30"};
    const QImage a = MonoPicture::AboutPicture(kInk, kPaper, versions[0]);
    const QImage b = MonoPicture::AboutPicture(kInk, kPaper, versions[1]);
    EXPECT_EQ(a.size(), QSize(214, 230));
    ASSERT_EQ(a.size(), b.size());
    const int top = MonoPicture::kVersionTop;
    const int bottom = top + MonoPicture::kGlyphHeight;
    int differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) {
                EXPECT_TRUE(y >= top && y < bottom) << x << ", " << y;
                ++differing;
            }
    EXPECT_GT(differing, 0);
    // Inside the picture's double frame, the ink of the line spans the whole text, one
    // glyph cell per character, centred.
    constexpr int kFrame = 3;
    for (const auto& [picture, version] :
         {std::pair{&a, versions[0]}, std::pair{&b, versions[1]}}) {
        int left = a.width();
        int right = -1;
        for (int y = top; y < bottom; ++y)
            for (int x = kFrame; x < a.width() - kFrame; ++x)
                if (picture->pixel(x, y) == ToQColor(kInk).rgb()) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        const std::string text = MonoPicture::kVersionPrefix + version;
        EXPECT_EQ(right - left + 1, static_cast<int>(text.size()) * MonoPicture::kGlyphAdvance - 1)
            << version;
        EXPECT_LE(std::abs(left + right - a.width()), 2) << version;
    }
}

} // namespace
} // namespace mb
