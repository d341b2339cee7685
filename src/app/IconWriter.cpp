// Writes the program icon as PNG files at the usual desktop sizes, for installing:
// marrowbeat-icons OUTDIR writes OUTDIR/NxN/apps/marrowbeat.png.
#include <filesystem>
#include <iostream>

#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include "widgets/MonoPicture.h"

namespace {

constexpr int kSizes[] = {16, 24, 32, 48, 64, 128, 256};
// The icon's colours: dark ink on a light ground.
constexpr mb::Color kInk = 0x00402010;
constexpr mb::Color kPaper = 0x00E0D0B0;

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: marrowbeat-icons OUTDIR\n";
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QIcon icon = mb::MonoPicture::ProgramIcon(kInk, kPaper);
    if (icon.isNull()) {
        std::cerr << "marrowbeat-icons: the icon picture is missing\n";
        return 1;
    }
    for (int size : kSizes) {
        const std::string name = std::to_string(size) + "x" + std::to_string(size);
        const std::filesystem::path folder = std::filesystem::path(argv[1]) / name / "apps";
        std::filesystem::create_directories(folder);
        const QString file = QString::fromStdString((folder / "marrowbeat.png").string());
        if (!icon.pixmap(size, size).scaled(size, size).save(file)) {
            std::cerr << "marrowbeat-icons: cannot write " << file.toStdString() << "\n";
            return 1;
        }
    }
    return 0;
}
