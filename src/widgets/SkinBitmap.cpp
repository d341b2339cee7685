#include "widgets/SkinBitmap.h"

#include "widgets/MonoPicture.h"

namespace mb {

QImage SkinBitmap::Placeholder() {
    QImage image(1, 1, QImage::Format_MonoLSB);
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    image.setPixel(0, 0, 1);
    return image;
}

void SkinBitmap::SetName(const std::string& name) {
    name_ = name;
    std::optional<QImage> loaded = MonoPicture::LoadSkin(name);
    placeholder_ = !loaded.has_value();
    bits_ = loaded ? *loaded : Placeholder();
    colored_ = QImage();
}

void SkinBitmap::Draw(Canvas& dc, Color ink, Color paper, int x, int y) {
    if (colored_.isNull() || ink != coloredInk_ || paper != coloredPaper_) {
        colored_ = Canvas::Colorize(bits_, ink, paper);
        coloredInk_ = ink;
        coloredPaper_ = paper;
    }
    dc.DrawColoredImage(colored_, x, y);
}

} // namespace mb
