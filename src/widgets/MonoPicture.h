#pragma once

#include <optional>
#include <string>

#include <QByteArray>
#include <QCursor>
#include <QIcon>
#include <QImage>
#include <QPoint>

#include "widgets/Color.h"

namespace mb {

// The program's one-bit pictures: skins, cursors, the icon and the About picture. Each is a
// plain PBM text file ("P1": 1 is a dark pixel, 0 a light one) compiled in as a Qt resource.
// A loaded picture is a QImage in Format_MonoLSB whose colour index 0 is dark and index 1
// light, so that drawing maps index 0 to ink and index 1 to paper.
class MonoPicture {
public:
    // Parses PBM text. A comment "# hotspot X Y" gives a cursor's hot spot. Nothing when
    // the text is not a well-formed plain PBM.
    static std::optional<QImage> Parse(const QByteArray& text, QPoint* hotspot = nullptr);

    // The skin bitmap of that name (":/skins/NAME.pbm"); nothing when there is none.
    static std::optional<QImage> LoadSkin(const std::string& name);
    // The cursor of that name (":/cursors/NAME.pbm"): dark pixels black, light pixels
    // enclosed by dark ones white, a one-pixel white rim around the shape, the rest clear.
    static std::optional<QCursor> LoadCursor(const std::string& name);
    // The program icon in two colours.
    static QIcon ProgramIcon(Color ink, Color paper);
    // The About box picture in two colours (a null image when it is missing), with the line
    // "VERSION <version>" written into it in the picture's own letters (":/pictures/
    // GLYPHS.pbm"), centred on the picture's third line of text. Letters are written in
    // capitals; a character the glyphs lack is left blank.
    static QImage AboutPicture(Color ink, Color paper, const std::string& version);
    static constexpr const char* kVersionPrefix = "VERSION ";
    // The characters of GLYPHS.pbm in its order, each a cell of kGlyphWidth x kGlyphHeight
    // pixels, kGlyphAdvance apart; tools/draw_pictures.py draws them in this order.
    static constexpr const char* kGlyphs = " .0123456789ABCDEFGHIKLMNOPQRSTUVWXY";
    static constexpr int kGlyphWidth = 5;
    static constexpr int kGlyphHeight = 7;
    static constexpr int kGlyphAdvance = 6;
    // The top of the version's line in the About picture.
    static constexpr int kVersionTop = 156;
    // The cursor's mask as described for LoadCursor (index 1 = opaque); for the contact sheet.
    static QImage CursorMask(const QImage& shape);

private:
    static std::optional<QImage> LoadResource(const QString& path, QPoint* hotspot);
};

} // namespace mb
