// Draws every skin in two colour schemes, every cursor (with its hot spot marked), the
// icon and the About picture into one PNG, at 100 % and at 200 % (nearest neighbour), so
// that the pictures can be looked at together.
//
//   contact_sheet OUTPUT.png
#include <cstdio>
#include <string>
#include <vector>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPainter>

#include "Version.h"
#include "widgets/Canvas.h"
#include "widgets/ColorScheme.h"
#include "widgets/MonoPicture.h"

namespace {

const std::vector<std::string> kSkins = {
    "GLOBALBMP",    "NOTEBMP",      "MEASURESBMP",  "LOOPBKGBMP",   "PLAYUP",       "PLAYDN",
    "ONOFFUP",      "ONOFFDN",      "UPARROWUP",    "UPARROWDN",    "DNARROWUP",    "DNARROWDN",
    "FILEUP",       "FILEDN",       "EDITUP",       "EDITDN",       "MIDIUP",       "MIDIDN",
    "LOOPSCTRL1UP", "LOOPSCTRL1DN", "LOOPSCTRL2UP", "LOOPSCTRL2DN", "LOOPSCTRL3UP", "LOOPSCTRL3DN",
    "LOOPSCTRL4UP", "LOOPSCTRL4DN", "LOOPSCTRL5UP", "LOOPSCTRL5DN", "LOOPSCTRL6UP", "LOOPSCTRL6DN",
    "LOOPSCTRL7UP", "LOOPSCTRL7DN", "LOOPSCTRL8UP", "LOOPSCTRL8DN", "PLAIN"};

const std::vector<std::string> kCursors = {"NOCUR", "SIZECUR", "PUSHCUR", "TEXTCUR", "UPCUR",
                                           "DNCUR", "BARVCUR", "BARHCUR", "GENCUR",  "FCUR",
                                           "ECUR",  "MCUR",    "HANDCUR"};

// Lays pictures out left to right, wrapping at the sheet's width.
class Sheet {
public:
    Sheet(QImage& image, int scale) : image_(image), painter_(&image), scale_(scale) {}

    void Put(const QImage& picture) {
        const QSize size = picture.size() * scale_;
        if (x_ + size.width() > image_.width() - kMargin) {
            x_ = kMargin;
            y_ += rowHeight_ + kGap;
            rowHeight_ = 0;
        }
        painter_.drawImage(QRect(QPoint(x_, y_), size), picture);
        x_ += size.width() + kGap;
        rowHeight_ = std::max(rowHeight_, size.height());
    }
    void NewRow() {
        x_ = kMargin;
        y_ += rowHeight_ + kGap * 2;
        rowHeight_ = 0;
    }
    int Bottom() const { return y_ + rowHeight_; }

private:
    static constexpr int kMargin = 8;
    static constexpr int kGap = 6;
    QImage& image_;
    QPainter painter_;
    int scale_;
    int x_ = kMargin;
    int y_ = kMargin;
    int rowHeight_ = 0;
};

QImage CursorPicture(const std::string& name) {
    QPoint hotspot;
    QFile file(QString::fromStdString(":/cursors/" + name + ".pbm"));
    file.open(QIODevice::ReadOnly);
    std::optional<QImage> shape = mb::MonoPicture::Parse(file.readAll(), &hotspot);
    if (!shape)
        return QImage();
    const QImage mask = mb::MonoPicture::CursorMask(*shape);
    // Drawn on a grey ground: clear pixels grey, light white, dark black, hot spot red.
    QImage out(shape->size(), QImage::Format_RGB32);
    for (int y = 0; y < shape->height(); ++y) {
        for (int x = 0; x < shape->width(); ++x) {
            QRgb c = qRgb(160, 160, 170);
            if (mask.pixelIndex(x, y) == 1)
                c = shape->pixelIndex(x, y) == 0 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
            out.setPixel(x, y, c);
        }
    }
    out.setPixel(hotspot, qRgb(255, 0, 0));
    return out;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: contact_sheet OUTPUT.png\n");
        return 2;
    }
    mb::ColorScheme dark;
    dark.SetBase(mb::MakeColor(40, 60, 120));
    mb::ColorScheme light;
    light.SetBase(mb::MakeColor(230, 190, 120));
    const std::vector<std::pair<mb::Color, mb::Color>> inks = {
        {dark.GetColor(5), dark.GetColor(7)}, {light.GetColor(5), light.GetColor(7)}};

    QImage image(1400, 3000, QImage::Format_RGB32);
    image.fill(qRgb(128, 128, 136));
    int top = 0;
    for (int scale : {1, 2}) {
        QImage part(1400, 1400, QImage::Format_RGB32);
        part.fill(qRgb(128, 128, 136));
        Sheet sheet(part, scale);
        for (const auto& [ink, paper] : inks) {
            for (const std::string& name : kSkins) {
                sheet.Put(mb::Canvas::Colorize(*mb::MonoPicture::LoadSkin(name), ink, paper));
            }
            sheet.NewRow();
        }
        for (const std::string& name : kCursors)
            sheet.Put(CursorPicture(name));
        sheet.NewRow();
        sheet.Put(mb::MonoPicture::ProgramIcon(inks[0].first, inks[0].second)
                      .pixmap(QSize(32, 32))
                      .toImage());
        if (scale == 1)
            sheet.Put(mb::MonoPicture::AboutPicture(inks[1].first, inks[1].second, mb::kVersion));
        QPainter(&image).drawImage(0, top, part.copy(0, 0, 1400, sheet.Bottom() + 8));
        top += sheet.Bottom() + 8;
    }
    image = image.copy(0, 0, 1400, top);
    if (!image.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
