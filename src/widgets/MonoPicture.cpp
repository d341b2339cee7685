#include "widgets/MonoPicture.h"

#include <cctype>
#include <map>
#include <vector>

#include <QBitmap>
#include <QFile>
#include <QPixmap>

#include "widgets/Canvas.h"

// Outside the namespace, as the resource system requires.
static void InitPictureResources() {
    Q_INIT_RESOURCE(marrowbeat);
}

namespace mb {

namespace {

// Largest picture the program draws; anything bigger is a damaged file, not a picture.
static constexpr int kMaxSide = 4096;

class PbmReader {
public:
    explicit PbmReader(const QByteArray& text) : text_(text) {}

    // Skips white space and comments, noting a hot spot comment on the way.
    void SkipSpace(QPoint* hotspot) {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '#') {
                const qsizetype end = text_.indexOf('\n', pos_);
                const QByteArray comment =
                    text_.mid(pos_ + 1, (end < 0 ? text_.size() : end) - pos_ - 1).trimmed();
                if (hotspot != nullptr && comment.startsWith("hotspot")) {
                    const QList<QByteArray> parts = comment.simplified().split(' ');
                    if (parts.size() == 3)
                        *hotspot = QPoint(parts[1].toInt(), parts[2].toInt());
                }
                pos_ = end < 0 ? text_.size() : end + 1;
            } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                ++pos_;
            } else {
                return;
            }
        }
    }

    std::optional<int> Number(QPoint* hotspot) {
        SkipSpace(hotspot);
        int value = 0;
        int digits = 0;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9' && digits < 6) {
            value = value * 10 + (text_[pos_] - '0');
            ++pos_;
            ++digits;
        }
        if (digits == 0)
            return std::nullopt;
        return value;
    }

    // The next pixel: 1 for dark, 0 for light; nothing at the end or at a stray character.
    std::optional<int> Bit(QPoint* hotspot) {
        SkipSpace(hotspot);
        if (pos_ >= text_.size())
            return std::nullopt;
        const char c = text_[pos_++];
        if (c == '0' || c == '1')
            return c - '0';
        return std::nullopt;
    }

    bool StartsWithMagic() {
        if (!text_.startsWith("P1"))
            return false;
        pos_ = 2;
        return true;
    }

private:
    const QByteArray& text_;
    qsizetype pos_ = 0;
};

} // namespace

std::optional<QImage> MonoPicture::Parse(const QByteArray& text, QPoint* hotspot) {
    PbmReader reader(text);
    if (!reader.StartsWithMagic())
        return std::nullopt;
    const std::optional<int> width = reader.Number(hotspot);
    const std::optional<int> height = reader.Number(hotspot);
    if (!width || !height || *width < 1 || *height < 1 || *width > kMaxSide || *height > kMaxSide)
        return std::nullopt;
    QImage image(*width, *height, QImage::Format_MonoLSB);
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < *height; ++y) {
        for (int x = 0; x < *width; ++x) {
            const std::optional<int> bit = reader.Bit(hotspot);
            if (!bit)
                return std::nullopt;
            image.setPixel(x, y, *bit == 1 ? 0 : 1);
        }
    }
    return image;
}

std::optional<QImage> MonoPicture::LoadResource(const QString& path, QPoint* hotspot) {
    static const bool initialised = (InitPictureResources(), true);
    (void)initialised;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return Parse(file.readAll(), hotspot);
}

std::optional<QImage> MonoPicture::LoadSkin(const std::string& name) {
    if (name.empty())
        return std::nullopt;
    return LoadResource(QStringLiteral(":/skins/%1.pbm").arg(QString::fromStdString(name)),
                        nullptr);
}

QImage MonoPicture::CursorMask(const QImage& shape) {
    const int w = shape.width();
    const int h = shape.height();
    auto dark = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < w && y < h && shape.pixelIndex(x, y) == 0;
    };
    // Light pixels that the outside reaches without crossing a dark one stay clear; those
    // that dark pixels enclose are the shape's white fill.
    std::vector<char> outside(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    std::vector<QPoint> todo;
    for (int x = 0; x < w; ++x) {
        todo.emplace_back(x, 0);
        todo.emplace_back(x, h - 1);
    }
    for (int y = 0; y < h; ++y) {
        todo.emplace_back(0, y);
        todo.emplace_back(w - 1, y);
    }
    while (!todo.empty()) {
        const QPoint p = todo.back();
        todo.pop_back();
        if (p.x() < 0 || p.y() < 0 || p.x() >= w || p.y() >= h || dark(p.x(), p.y()))
            continue;
        char& seen = outside[static_cast<size_t>(p.y()) * w + p.x()];
        if (seen)
            continue;
        seen = 1;
        todo.emplace_back(p.x() + 1, p.y());
        todo.emplace_back(p.x() - 1, p.y());
        todo.emplace_back(p.x(), p.y() + 1);
        todo.emplace_back(p.x(), p.y() - 1);
    }
    QImage mask(w, h, QImage::Format_MonoLSB);
    mask.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            bool opaque = !outside[static_cast<size_t>(y) * w + x];
            for (int dy = -1; dy <= 1 && !opaque; ++dy)
                for (int dx = -1; dx <= 1 && !opaque; ++dx)
                    opaque = dark(x + dx, y + dy);
            mask.setPixel(x, y, opaque ? 1 : 0);
        }
    }
    return mask;
}

std::optional<QCursor> MonoPicture::LoadCursor(const std::string& name) {
    // Cursors are shared by many widgets; each is built once.
    static std::map<std::string, std::optional<QCursor>> cache;
    if (auto it = cache.find(name); it != cache.end())
        return it->second;
    QPoint hotspot(0, 0);
    std::optional<QCursor> cursor;
    if (!name.empty()) {
        const std::optional<QImage> shape = LoadResource(
            QStringLiteral(":/cursors/%1.pbm").arg(QString::fromStdString(name)), &hotspot);
        if (shape) {
            // Both bitmaps keep index 1 for black (a set bit), so bit and colour agree:
            // shape set and mask set is black, shape clear and mask set white, mask clear
            // transparent.
            QImage bits(shape->size(), QImage::Format_MonoLSB);
            bits.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
            for (int y = 0; y < shape->height(); ++y)
                for (int x = 0; x < shape->width(); ++x)
                    bits.setPixel(x, y, shape->pixelIndex(x, y) == 0 ? 1 : 0);
            const QImage maskBits = CursorMask(*shape);
            cursor = QCursor(QBitmap::fromImage(bits), QBitmap::fromImage(maskBits), hotspot.x(),
                             hotspot.y());
        }
    }
    cache.emplace(name, cursor);
    return cursor;
}

QIcon MonoPicture::ProgramIcon(Color ink, Color paper) {
    QIcon icon;
    const std::optional<QImage> bits = LoadResource(QStringLiteral(":/icons/ICON128.pbm"), nullptr);
    if (!bits)
        return icon;
    const QImage colored = Canvas::Colorize(*bits, ink, paper);
    for (int scale : {1, 2, 4})
        icon.addPixmap(QPixmap::fromImage(
            colored.scaled(colored.size() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    return icon;
}

QImage MonoPicture::AboutPicture(Color ink, Color paper, const std::string& version) {
    std::optional<QImage> bits = LoadResource(QStringLiteral(":/pictures/ABOUTBMP.pbm"), nullptr);
    if (!bits)
        return QImage();
    const std::optional<QImage> glyphs =
        LoadResource(QStringLiteral(":/pictures/GLYPHS.pbm"), nullptr);
    const std::string glyphOrder = kGlyphs;
    if (glyphs && glyphs->width() >= static_cast<int>(glyphOrder.size()) * kGlyphAdvance &&
        glyphs->height() >= kGlyphHeight) {
        // Centred on the line as the picture's own lines are: the left edge at the centre
        // less half the text's width, rounded down.
        std::string text = std::string(kVersionPrefix) + version;
        for (char& c : text)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const int width = static_cast<int>(text.size()) * kGlyphAdvance - 1;
        int x = bits->width() / 2 - width / 2;
        for (const char c : text) {
            const size_t cell = glyphOrder.find(c);
            for (int gy = 0; cell != std::string::npos && gy < kGlyphHeight; ++gy)
                for (int gx = 0; gx < kGlyphWidth; ++gx)
                    if (glyphs->pixelIndex(static_cast<int>(cell) * kGlyphAdvance + gx, gy) == 0)
                        bits->setPixel(x + gx, kVersionTop + gy, 0);
            x += kGlyphAdvance;
        }
    }
    return Canvas::Colorize(*bits, ink, paper);
}

} // namespace mb
