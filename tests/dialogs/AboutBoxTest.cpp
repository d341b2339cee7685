// The About box: where it opens, what ends it, the link inside it and its pointers.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "WidgetTestSupport.h"
#include "dialogs/AboutBox.h"
#include "widgets/Color.h"
#include "widgets/HyperlinkLabel.h"
#include "widgets/LinkOpener.h"
#include "widgets/MonoPicture.h"

namespace mb {
namespace {

constexpr uint32_t kInk = 0x00402010;
constexpr uint32_t kPaper = 0x00E0D0B0;

class AboutBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApplication();
        parent.setGeometry(200, 150, 707, 166);
        // The parent stays hidden: offscreen pointer moves go to the first window under the
        // pointer, and the box must be the only one.
        box = std::make_unique<AboutBox>(&parent, kInk, kPaper);
        box->Link().SetOpener([this](const std::string& address) {
            opened.push_back(address);
            return LinkOpener::kOpened;
        });
        finished = std::make_unique<QSignalSpy>(box.get(), &QDialog::finished);
        box->open();
    }

    // A point of the box in its own coordinates.
    QPoint LinkCentre() const { return box->mapFromGlobal(box->LinkRect().center()); }
    QPoint PictureCentre() const { return QPoint(box->width() / 2, box->height() / 3); }

    QWidget parent;
    std::unique_ptr<AboutBox> box;
    std::unique_ptr<QSignalSpy> finished;
    std::vector<std::string> opened;
};

TEST_F(AboutBoxTest, OpensCentredOnItsParentHoldingTheMouse) {
    const QPoint offset = box->geometry().center() - parent.geometry().center();
    EXPECT_LE(offset.manhattanLength(), 1);
    EXPECT_EQ(QWidget::mouseGrabber(), box.get());
    EXPECT_TRUE(box->geometry().contains(box->LinkRect()));
    // No grey band: below the picture the box is the picture's paper.
    const QImage shown = box->grab().toImage();
    EXPECT_EQ(shown.pixel(box->width() - 1, box->height() - 1) & 0xFFFFFFu,
              ToQRgb(kPaper) & 0xFFFFFFu);
    const QString folder = qEnvironmentVariable("MARROWBEAT_DIALOG_PICTURES");
    if (!folder.isEmpty())
        box->grab().save(QDir(folder).filePath(QStringLiteral("AboutBox.png")));
}

TEST_F(AboutBoxTest, APressOutsideTheLinkEndsItWithOne) {
    QTest::mouseClick(box.get(), Qt::LeftButton, Qt::NoModifier, PictureCentre());
    ASSERT_EQ(finished->count(), 1);
    EXPECT_EQ(finished->at(0).at(0).toInt(), AboutBox::kResult);
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_TRUE(opened.empty());
}

TEST_F(AboutBoxTest, APressOnTheLinkOpensItAndKeepsTheBox) {
    QTest::mouseClick(box.get(), Qt::LeftButton, Qt::NoModifier, LinkCentre());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], AboutBox::ManualAddress());
    EXPECT_TRUE(box->Link().IsVisited());
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(finished->count(), 0);
    EXPECT_EQ(QWidget::mouseGrabber(), box.get());
}

TEST_F(AboutBoxTest, AFailedOpenIsExplainedWithTheMouseFreeAndTheBoxStays) {
    box->Link().SetOpener([](const std::string&) { return LinkOpener::kFileNotFound; });
    std::vector<std::string> reports;
    QWidget* grabberDuringReport = box.get();
    box->Link().SetFailureReport([&](const std::string& message) {
        reports.push_back(message);
        grabberDuringReport = QWidget::mouseGrabber();
    });
    QTest::mouseClick(box.get(), Qt::LeftButton, Qt::NoModifier, LinkCentre());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], LinkOpener::FailureMessage(LinkOpener::kFileNotFound));
    EXPECT_EQ(grabberDuringReport, nullptr);
    EXPECT_FALSE(box->Link().IsVisited());
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(QWidget::mouseGrabber(), box.get());
}

TEST_F(AboutBoxTest, APressThatReachesTheLinkItselfOpensItOnce) {
    // Without the mouse held, the press lands on the label; the box still decides.
    box->releaseMouse();
    QTest::mouseClick(&box->Link(), Qt::LeftButton, Qt::NoModifier, box->Link().rect().center());
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_TRUE(box->isVisible());
}

TEST_F(AboutBoxTest, OtherButtonsLeaveItOpen) {
    QTest::mouseClick(box.get(), Qt::RightButton, Qt::NoModifier, PictureCentre());
    QTest::mouseClick(box.get(), Qt::RightButton, Qt::NoModifier, LinkCentre());
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(opened.empty());
}

TEST_F(AboutBoxTest, EveryCommandKeyEndsItWithOne) {
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        box->open();
        finished->clear();
        QTest::keyClick(box.get(), key);
        ASSERT_EQ(finished->count(), 1) << key;
        EXPECT_EQ(finished->at(0).at(0).toInt(), AboutBox::kResult) << key;
    }
}

QImage Shape(const QCursor& cursor) {
    return cursor.bitmap().toImage().convertToFormat(QImage::Format_Mono);
}

TEST_F(AboutBoxTest, ThePointerIsTheHandOverTheLinkAndNoWhereElse) {
    const std::optional<QCursor> hand = MonoPicture::LoadCursor(AboutBox::kLinkCursorName);
    const std::optional<QCursor> plain = MonoPicture::LoadCursor(AboutBox::kCursorName);
    ASSERT_TRUE(hand && plain);
    ASSERT_NE(Shape(*hand), Shape(*plain));
    const struct {
        QPoint at;
        const QCursor& expected;
    } cases[] = {
        {LinkCentre(), *hand},
        {PictureCentre(), *plain},
        {LinkCentre(), *hand},
        {QPoint(1, box->height() - 2), *plain},
    };
    for (const auto& c : cases) {
        QTest::mouseMove(box.get(), c.at);
        EXPECT_EQ(Shape(box->cursor()), Shape(c.expected)) << c.at.x() << "," << c.at.y();
        EXPECT_EQ(box->cursor().hotSpot(), c.expected.hotSpot());
    }
}

} // namespace
} // namespace mb
