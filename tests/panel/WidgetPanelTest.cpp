// The whole face: what the panel builds, where, in which colours, and how many columns a
// width holds.
#include <cstdlib>
#include <random>

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

#include "PanelTestSupport.h"
#include "model/Setup.h"
#include "model/StepParam.h"
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

TEST_F(WidgetPanelTest, BuildsEveryWidgetInItsPlaceWithItsFirstState) {
    struct Case {
        const MWnd& widget;
        int id;
        Rect rect;
    };
    const Case cases[] = {
        {panel.Background(), 0, {0, 0, 79, 166}},
        {panel.PlayButton(), 1000, {36, 60, 60, 84}},
        {panel.MuteButton(), 1001, {40, 92, 57, 109}},
        {panel.TempoField().UpArrow(), 1006, {18, 146, 25, 155}},
        {panel.TempoField().DownArrow(), 1007, {18, 155, 25, 164}},
        {panel.MasterDialM().Slider(), 1054, {2, 2, 8, 137}},
        {panel.MasterDialM().UpArrow(), 1051, {2, 146, 9, 155}},
        {panel.MasterDialE().Slider(), 1064, {10, 2, 16, 137}},
        {panel.MasterDialE().DownArrow(), 1062, {10, 155, 17, 164}},
        {panel.LoopStrip(), 20000, {79, 4, 89, 162}},
        {panel.Column(0), 10000, {94, 2, 131, 164}},
        {panel.Column(15), 11500, {664, 2, 701, 164}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.widget.GetId(), c.id);
        EXPECT_EQ(c.widget.GetRect(), c.rect) << c.id;
    }
    EXPECT_EQ(panel.TempoField().Field().GetRect(), (Rect{25, 149, 78, 162}));
    EXPECT_EQ(panel.TempoField().Field().GetText(), "126");
    EXPECT_FALSE(panel.PlayButton().GetState());
    EXPECT_TRUE(panel.MuteButton().GetState());
    EXPECT_TRUE(panel.IsSoundOn());
    EXPECT_EQ(panel.MasterDialM().GetValue(), 100);
    EXPECT_EQ(panel.MasterDialE().GetValue(), 67);
    EXPECT_TRUE(panel.MasterDialM().Field().isHidden());
    EXPECT_EQ(panel.StatusField().GetRect(), (Rect{30, 171, 330, 186}));
    EXPECT_EQ(panel.StatusField().focusPolicy(), Qt::ClickFocus);
    for (int i = 1; i <= 7; ++i) {
        EXPECT_FALSE(panel.Swatch(i).IsVisible()) << i;
        EXPECT_EQ(panel.Swatch(i).GetRect().left, 200 + 20 * (i - 1));
    }
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(panel.Column(k).Label().GetText(), std::to_string(k + 1));
    EXPECT_TRUE(panel.GetLoopPopup().isHidden());
    EXPECT_TRUE(panel.IsReady());
}

TEST_F(WidgetPanelTest, PartsLieAboveThePicturesTheyCover) {
    owner.Mouse(WidgetEvent::kLeftPress, 3, 147);
    owner.Mouse(WidgetEvent::kLeftRelease, 3, 147);
    owner.Mouse(WidgetEvent::kLeftPress, 95 + 38 * 4 + 12, 2 + 30 + 2);
    ASSERT_EQ(owner.reports.size(), 3u);
    EXPECT_EQ(owner.reports[1], (Report{WidgetEvent::kLeftRelease, 1051}));
    EXPECT_EQ(owner.reports[2].id, 10410);
}

TEST_F(WidgetPanelTest, WidthDecidesTheColumnsAndTheStepCount) {
    struct Case {
        int width;
        int columns; // 0: nothing changes
    };
    const Case cases[] = {{707, 16}, {400, 8},  {169, 1},  {132, 1}, {131, 0},
                          {0, 0},    {702, 16}, {701, 15}, {900, 0}};
    int expected = 16;
    for (const Case& c : cases) {
        owner.resize(c.width, 166);
        panel.FitColumnsToWidth();
        if (c.columns != 0)
            expected = c.columns;
        EXPECT_EQ(setup.stepCount, expected) << c.width;
        for (int k = 0; k < 16; ++k)
            EXPECT_EQ(panel.Column(k).IsVisible(), k < expected) << c.width << " column " << k;
    }
}

TEST_F(WidgetPanelTest, ResizeToColumnsSetsTheClientWidth) {
    panel.ResizeToColumns(8);
    EXPECT_EQ(owner.width(), 403);
    EXPECT_EQ(setup.stepCount, 8);
    panel.ResizeToColumns(16);
    EXPECT_EQ(owner.width(), 707);
    EXPECT_EQ(owner.height(), 166);
    EXPECT_EQ(setup.stepCount, 16);
    panel.ResizeToColumns(40);
    EXPECT_EQ(owner.width(), 707);
}

TEST_F(WidgetPanelTest, ColourChangeAssignsTheSchemeColours) {
    panel.ApplyColor(kBase);
    const ColorScheme& s = panel.Scheme();
    auto c = [&](int n) { return s.GetColor(n); };
    EXPECT_EQ(panel.Background().GetInk(), c(5));
    EXPECT_EQ(panel.Background().GetPaper(), c(7));
    EXPECT_EQ(panel.PlayButton().GetPressedInk(), c(4));
    EXPECT_EQ(panel.PlayButton().GetPressedPaper(), c(6));
    EXPECT_EQ(panel.MuteButton().GetInk(), c(6));
    EXPECT_EQ(panel.MuteButton().GetPaper(), c(5));
    EXPECT_EQ(panel.MasterDialE().Slider().GetPaper(), c(4));
    EXPECT_EQ(panel.LoopStrip().Button(3)->GetPressedPaper(), c(2));
    EXPECT_EQ(panel.StatusField().GetInk(), c(1));
    EXPECT_EQ(panel.Column(0).GetPaper(), c(2));
    EXPECT_EQ(panel.Column(0).GetInk(), c(5));
    for (int i = 1; i <= 7; ++i) {
        EXPECT_EQ(panel.Swatch(i).GetPaper(), c(i));
        EXPECT_FALSE(panel.Swatch(i).IsVisible());
    }
    // The number fields paint on the shared brush of colour 5.
    EXPECT_EQ(panel.Column(5).Dial(20)->Field().palette().base().color(), ToQColor(c(5)));
    // The same base twice gives the same face.
    const QImage first = owner.Grab();
    panel.ApplyColor(kBase);
    EXPECT_EQ(owner.Grab(), first);
}

TEST_F(WidgetPanelTest, HighContrastMakesEveryTextReadableInAnyScheme) {
    const auto contrast = [](const QWidget& field) {
        const QPalette& p = field.palette();
        return ColorScheme::Contrast(FromQColor(p.color(QPalette::Text)),
                                     FromQColor(p.brush(QPalette::Base).color()));
    };
    std::mt19937 random(20261209);
    panel.SetHighContrast(true);
    for (int scheme = 0; scheme < 20; ++scheme) {
        const Color base = static_cast<Color>(random() & 0xFFFFFFu);
        panel.ApplyColor(base);
        SCOPED_TRACE(base);
        EXPECT_GE(contrast(panel.TempoField().Field()), ColorScheme::kReadableContrast);
        EXPECT_GE(contrast(panel.StatusField()), ColorScheme::kReadableContrast);
        EXPECT_GE(contrast(panel.GetLoopPopup().SwingDial().Field()),
                  ColorScheme::kReadableContrast);
        for (const MWnd* w : {static_cast<MWnd*>(&panel.Background()),
                              static_cast<MWnd*>(&panel.GetMenuBar().EditButton())})
            EXPECT_GE(ColorScheme::Contrast(w->GetInk(), w->GetPaper()),
                      ColorScheme::kReadableContrast);
        for (int k = 0; k < WidgetPanel::kColumnCount; ++k) {
            MStepColumn& column = panel.Column(k);
            for (int code : {kParamPitch, kParamSound})
                EXPECT_GE(contrast(column.Dial(code)->Field()), ColorScheme::kReadableContrast);
            column.SetLit(k % 2 == 0);
            EXPECT_GE(ColorScheme::Contrast(column.Label().GetInk(), column.Label().GetPaper()),
                      ColorScheme::kReadableContrast);
            EXPECT_GE(ColorScheme::Contrast(column.GetInk(), column.GetPaper()),
                      ColorScheme::kReadableContrast);
        }
    }
}

TEST_F(WidgetPanelTest, EveryControlSaysWhatItIsAtItsCentre) {
    panel.FitColumnsToWidth();
    for (int id : panel.MarkOrder()) {
        const Rect r = panel.MarkRect(id);
        const std::string tip = panel.ToolTipAt((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        EXPECT_FALSE(WidgetPanel::ToolTipOf(id).empty()) << id;
        EXPECT_EQ(tip.substr(0, WidgetPanel::ToolTipOf(id).size()), WidgetPanel::ToolTipOf(id))
            << id;
    }
    const Rect label = panel.Column(2).Label().GetRect();
    EXPECT_EQ(panel.ToolTipAt(label.left + 1, label.top + 1), "Step 3; it lights while it plays");
}

TEST_F(WidgetPanelTest, ColourChangePutsOutTheStepLight) {
    panel.ApplyColor(kBase);
    panel.SetStepLit(6, true);
    EXPECT_TRUE(panel.Column(6).IsLit());
    panel.ApplyColor(MakeColor(200, 200, 30));
    for (int k = 0; k < 16; ++k)
        EXPECT_FALSE(panel.Column(k).IsLit()) << k;
    panel.SetStepLit(16, true);
    panel.SetStepLit(-1, true);
}

TEST_F(WidgetPanelTest, LoopPopupOpensBesideTheButtonOnePixelAboveIt) {
    panel.ShowLoopPopup(2);
    const Rect button = panel.LoopStrip().ButtonRect(2);
    EXPECT_EQ(button, (Rect{79, 104, 89, 122}));
    EXPECT_FALSE(panel.GetLoopPopup().isHidden());
    EXPECT_EQ(panel.GetLoopPopup().pos(), owner.mapToGlobal(QPoint(89, 103)));
    EXPECT_EQ(panel.GetLoopPopup().GetLoop(), 2);
}

TEST_F(WidgetPanelTest, PlaybackFaceReachesTheButtonsAndTheStrip) {
    panel.SetPlayButton(true);
    EXPECT_TRUE(panel.PlayButton().GetState());
    panel.SetPlayingLoop(3);
    EXPECT_TRUE(panel.LoopStrip().Button(3)->IsPlaying());
    panel.SetPlayingLoop(-1);
    EXPECT_FALSE(panel.LoopStrip().Button(3)->IsPlaying());
    panel.ShowStatusText("42");
    EXPECT_EQ(panel.StatusField().GetText(), "42");
}

} // namespace
} // namespace mb
