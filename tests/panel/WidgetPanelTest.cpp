// The whole face: what the panel builds, where, in which colours, and how many columns a
// width holds.
#include <cstdlib>

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

#include "PanelTestSupport.h"
#include "model/Setup.h"
#include "panel/WidgetPanel.h"
#include "widgets/WidgetEvent.h"

namespace mb {
namespace {

using test::PixelAt;
using test::Report;

// The base colour of the reference picture.
constexpr Color kBase = MakeColor(40, 90, 160);

class WidgetPanelTest : public ::testing::Test {
protected:
    test::PanelOwner owner;
    mb::Setup setup;
    WidgetPanel panel{owner, setup};
};

TEST_F(WidgetPanelTest, RendersLikeTheReferencePicture) {
    panel.ApplyColor(kBase);
    panel.FitColumnsToWidth();
    owner.background = panel.Column(0).GetPaper();
    const QImage image = owner.Grab();
    const QString reference = QStringLiteral(MARROWBEAT_PANEL_REFERENCE);
    if (std::getenv("MARROWBEAT_WRITE_REFERENCE") != nullptr) {
        ASSERT_TRUE(image.save(reference));
        ASSERT_TRUE(owner.Grab(2.0).save(QString(reference).replace(".png", "-2x.png")));
    }
    const QImage expected = QImage(reference).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(expected.isNull()) << "missing " << reference.toStdString();
    ASSERT_EQ(expected.size(), image.size());
    int differing = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != expected.pixel(x, y))
                ++differing;
    EXPECT_EQ(differing, 0) << "regenerate with MARROWBEAT_WRITE_REFERENCE=1 when the pictures "
                               "changed on purpose";
}

} // namespace
} // namespace mb
