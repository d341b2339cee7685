// The link label: texts, colours, underline modes, failures and the browser command.
#include <string>

#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

#include "WidgetTestSupport.h"
#include "widgets/HyperlinkLabel.h"
#include "widgets/LinkOpener.h"

namespace mb {
namespace {

constexpr const char* kAddress = "https://marrowbeat.example/";

class HyperlinkLabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApplication();
        parent.resize(300, 100);
        label = new HyperlinkLabel(&parent);
        label->setGeometry(10, 10, 200, 20);
        QFont font("Liberation Sans");
        font.setPixelSize(14);
        font.setStyleStrategy(QFont::NoAntialias);
        label->setFont(font);
        label->SetOpener([this](const std::string& address) {
            opened.push_back(address);
            return result;
        });
        label->SetFailureReport([this](const std::string& message) { reports.push_back(message); });
    }

    // Number of pixels of the label drawn in exactly colour c.
    int PixelsIn(Color c) {
        QImage image(label->size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        label->render(&image);
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += test::PixelAt(image, x, y) == c;
        return n;
    }
    void Hover() {
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(15, 15), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(label, &move);
    }

    test::TestOwner parent; // any window: the label's dialog
    HyperlinkLabel* label = nullptr;
    int result = LinkOpener::kOpened;
    std::vector<std::string> opened;
    std::vector<std::string> reports;
};

TEST_F(HyperlinkLabelTest, EmptyTextShowsTheAddressAndEmptyAddressTakesTheText) {
    label->SetAddress(kAddress);
    label->Attach();
    EXPECT_EQ(label->text().toStdString(), kAddress);
    EXPECT_EQ(label->toolTip().toStdString(), kAddress);

    HyperlinkLabel second(&parent);
    second.setText("https://other.example/");
    second.Attach();
    EXPECT_EQ(second.GetAddress(), "https://other.example/");
    second.SetAddress(kAddress);
    EXPECT_EQ(second.toolTip().toStdString(), kAddress);
    EXPECT_EQ(second.text().toStdString(), "https://other.example/");
}

TEST_F(HyperlinkLabelTest, TextIsDrawnInLinkHoverAndVisitedColours) {
    label->setText("Marrowbeat");
    label->SetAddress(kAddress);
    label->Attach();
    EXPECT_GT(PixelsIn(HyperlinkLabel::kLinkColor), 20);

    Hover();
    EXPECT_TRUE(label->IsHovering());
    EXPECT_GT(PixelsIn(HyperlinkLabel::kHoverColor), 20);
    EXPECT_EQ(PixelsIn(HyperlinkLabel::kLinkColor), 0);

    label->Click();
    EXPECT_EQ(opened, (std::vector<std::string>{kAddress}));
    EXPECT_TRUE(label->IsVisited());
    EXPECT_GT(PixelsIn(HyperlinkLabel::kVisitedColor), 20);
    Hover();
    EXPECT_EQ(label->TextColor(), HyperlinkLabel::kHoverColor);
    EXPECT_GT(PixelsIn(HyperlinkLabel::kHoverColor), 20);
    EXPECT_TRUE(reports.empty());
}

TEST_F(HyperlinkLabelTest, FailureBeepsExplainsAndForgetsTheVisit) {
    label->SetAddress(kAddress);
    label->Attach();
    label->Click();
    ASSERT_TRUE(label->IsVisited());
    result = 26;
    label->Click();
    EXPECT_FALSE(label->IsVisited());
    EXPECT_EQ(label->TextColor(), HyperlinkLabel::kLinkColor);
    EXPECT_EQ(reports, (std::vector<std::string>{
                           "Unable to open hyperlink:\n\nA sharing violation occurred. "}));
}

TEST_F(HyperlinkLabelTest, FailureMessagesCoverKnownAndUnknownResults) {
    EXPECT_EQ(LinkOpener::FailureMessage(2),
              "Unable to open hyperlink:\n\nThe specified file was not found.");
    EXPECT_EQ(LinkOpener::FailureMessage(31),
              "Unable to open hyperlink:\n\nThere is no application associated\nwith the "
              "given filename extension.");
    EXPECT_EQ(LinkOpener::FailureMessage(99),
              "Unable to open hyperlink:\n\nUnknown Error (99) occurred.");
}

TEST_F(HyperlinkLabelTest, UnderlineModes) {
    label->setText("Marrowbeat");
    label->Attach();
    EXPECT_FALSE(label->font().underline());
    Hover();
    EXPECT_TRUE(label->font().underline()); // mode -1: while hovering

    HyperlinkLabel never(&parent);
    never.setText("x");
    never.Attach();
    never.SetUnderline(HyperlinkLabel::kUnderlineNever);
    QMouseEvent move(QEvent::MouseMove, QPointF(1, 1), QPointF(1, 1), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(&never, &move);
    EXPECT_TRUE(never.IsHovering());
    EXPECT_FALSE(never.font().underline());

    HyperlinkLabel always(&parent);
    always.setText("x");
    always.Attach();
    always.SetUnderline(HyperlinkLabel::kUnderlineAlways);
    EXPECT_TRUE(always.font().underline());
}

TEST_F(HyperlinkLabelTest, HoverEndsWhenThePollFindsThePointerOutside) {
    label->setText("Marrowbeat");
    label->Attach();
    parent.show();
    QCursor::setPos(label->mapToGlobal(QPoint(5, 5)));
    Hover();
    ASSERT_TRUE(label->IsHovering());
    QCursor::setPos(label->mapToGlobal(QPoint(-100, -100)));
    EXPECT_TRUE(QTest::qWaitFor([this] { return !label->IsHovering(); }, 2000));
    EXPECT_FALSE(label->font().underline());
    EXPECT_EQ(label->TextColor(), HyperlinkLabel::kLinkColor);
}

TEST_F(HyperlinkLabelTest, AutoSizeFitsTheText) {
    label->setText("Marrowbeat");
    label->SetAutoSize(true);
    label->Attach();
    QFont underlined = label->font();
    underlined.setUnderline(true);
    EXPECT_EQ(label->width(), QFontMetrics(underlined).horizontalAdvance("Marrowbeat"));
    EXPECT_EQ(label->x(), 10);
    EXPECT_TRUE(label->HasLinkCursor());
}

TEST_F(HyperlinkLabelTest, BrowserCommandIsCutAtThePlaceholder) {
    struct Case {
        const char* command;
        QStringList arguments;
    };
    const QString a = kAddress;
    const Case cases[] = {
        {"firefox", {"firefox", a}},
        {"firefox %s", {"firefox", a}},
        {"\"/opt/web browser/run\" --new-window \"%1\"",
         {"/opt/web browser/run", "--new-window", a}},
        {"browse %1 --quiet", {"browse", a}},
        {"lynx -dump", {"lynx", "-dump", a}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LinkOpener::BrowserArguments(c.command, a), c.arguments) << c.command;
}

} // namespace
} // namespace mb
