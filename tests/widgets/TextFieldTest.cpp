// Native number fields: look, typing limits, and the order of what owner and companion hear.
#include <string>
#include <vector>

#include <QFocusEvent>
#include <QFontInfo>
#include <QTest>
#include <gtest/gtest.h>

#include "WidgetTestSupport.h"
#include "widgets/EntryField.h"
#include "widgets/FieldCompanion.h"
#include "widgets/SystemColors.h"
#include "widgets/TextField.h"

namespace mb {
namespace {

constexpr int kId = 1008;

// An owner and a companion writing into one log, so that their order shows.
class FieldLog : public test::TestOwner, public FieldCompanion {
public:
    explicit FieldLog(EntryField* field = nullptr) : field_(field) {}
    void Watch(EntryField* field) { field_ = field; }

    void OnWidgetEvent(int event, int, int, int id) override {
        log.push_back(std::to_string(event) + "/" + std::to_string(id));
        if (field_ != nullptr)
            caretAtReport.push_back(field_->cursorPosition());
    }
    void OnFieldText(const std::string& text) override { log.push_back("text " + text); }
    void OnFieldLeave() override { log.push_back("leave"); }

    std::vector<std::string> log;
    std::vector<int> caretAtReport;

private:
    EntryField* field_;
};

class TextFieldTest : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureApplication(); }

    static void LoseFocus(QWidget& w) {
        QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
        QCoreApplication::sendEvent(&w, &out);
    }
};

TEST_F(TextFieldTest, AlignmentWordsAreExact) {
    struct Case {
        const char* word;
        Qt::Alignment horizontal;
    };
    const Case cases[] = {{"right", Qt::AlignRight}, {"center", Qt::AlignHCenter},
                          {"left", Qt::AlignLeft},   {"Right", Qt::AlignLeft},
                          {"CENTER", Qt::AlignLeft}, {"", Qt::AlignLeft}};
    test::TestOwner owner;
    for (const Case& c : cases) {
        TextField field;
        field.Create(3, &owner, 0, 0, 0, 0, 50, 15, c.word);
        EXPECT_EQ(field.alignment() & Qt::AlignHorizontal_Mask, c.horizontal) << c.word;
    }
}

TEST_F(TextFieldTest, LooksLikeTheProgramsFields) {
    test::TestOwner owner;
    TextField field;
    field.Create(3, &owner, 0, 0, 30, 171, 300, 15, "left");
    EXPECT_FALSE(field.hasFrame());
    EXPECT_EQ(field.GetInk(), SystemColors::Highlight());
    EXPECT_EQ(field.GetPaper(), SystemColors::ButtonFace());
    EXPECT_EQ(field.palette().color(QPalette::Text), ToQColor(SystemColors::Highlight()));
    EXPECT_EQ(field.geometry(), QRect(30, 171, 300, 15));
    EXPECT_EQ(field.parentWidget(), &owner);
    EXPECT_TRUE(field.HasCursor());
    EXPECT_EQ(QFontInfo(field.font()).family(), QString("Liberation Sans"));
    EXPECT_EQ(field.font().pixelSize(), field.logicalDpiY() * 70 / 720);

    // Black can still be chosen afterwards.
    field.SetColors(0, MakeColor(1, 2, 3));
    EXPECT_EQ(field.palette().color(QPalette::Text), QColor(0, 0, 0));
    EXPECT_EQ(field.palette().color(QPalette::Base), QColor(1, 2, 3));

    // A shared brush stays when the colours change.
    field.ShareBrush(QBrush(QColor(9, 9, 9)));
    field.SetColors(0, MakeColor(1, 2, 3));
    EXPECT_EQ(field.palette().color(QPalette::Base), QColor(9, 9, 9));
}

TEST_F(TextFieldTest, FieldWithoutSizeIsNoTabStop) {
    test::TestOwner owner;
    TextField empty;
    empty.Create(3, &owner, 0, 0, 0, 0, 0, 0, "center");
    EXPECT_EQ(empty.focusPolicy(), Qt::ClickFocus);
    TextField sized;
    sized.Create(3, &owner, 0, 0, 0, 0, 20, 15, "center");
    EXPECT_EQ(sized.focusPolicy(), Qt::StrongFocus);
}

TEST_F(TextFieldTest, TypingStopsWhenTheTextFillsTheField) {
    test::TestOwner owner;
    EntryField field;
    field.Create(kId, &owner, 0, 0, 0, 0, 21, 15, "center", nullptr);
    QTest::keyClicks(&field, "88888888888888888888");
    const int shown = field.text().size();
    EXPECT_GT(shown, 0);
    EXPECT_LT(shown, 20);
    EXPECT_LE(QFontMetrics(field.font()).horizontalAdvance(field.text()), 21);
    // Deleting still works.
    QTest::keyClick(&field, Qt::Key_Backspace);
    EXPECT_EQ(field.text().size(), shown - 1);
}

TEST_F(TextFieldTest, ImmediateFieldCommitsEveryEditAfterTheCompanion) {
    FieldLog log;
    EntryField field;
    field.Create(kId, &log, 0, 0, 0, 0, 60, 15, "center", &log);
    QTest::keyClicks(&field, "12");
    const std::vector<std::string> expected = {"text 1", "11023/1008", "text 12", "11023/1008"};
    EXPECT_EQ(log.log, expected);
}

TEST_F(TextFieldTest, DeferredFieldCommitsOnceAfterFocusLeftEvent) {
    FieldLog log;
    EntryField field;
    field.Create(kId, &log, 0, 0, 0, 0, 60, 15, "center", &log);
    field.SetImmediate(false);
    QTest::keyClicks(&field, "126");
    EXPECT_TRUE(log.log.empty());
    EXPECT_TRUE(field.IsPending());
    LoseFocus(field);
    EXPECT_EQ(log.log, (std::vector<std::string>{"leave", "0/1008", "11023/1008"}));
    EXPECT_FALSE(field.IsPending());
    // Leaving again without typing: the focus event only.
    log.log.clear();
    LoseFocus(field);
    EXPECT_EQ(log.log, (std::vector<std::string>{"leave", "0/1008"}));
}

TEST_F(TextFieldTest, QuietTextCommitsNothingInEitherMode) {
    FieldLog log;
    for (bool immediate : {true, false}) {
        EntryField field;
        field.Create(kId, &log, 0, 0, 0, 0, 60, 15, "center", &log);
        field.SetImmediate(immediate);
        field.SetTextQuiet("64");
        field.OnTextChanged();
        EXPECT_EQ(field.GetText(), "64");
        EXPECT_FALSE(field.IsPending());
    }
    EXPECT_TRUE(log.log.empty());
}

TEST_F(TextFieldTest, ClicksAreReportedBeforeTheFieldMovesTheCaret) {
    FieldLog log;
    EntryField field;
    log.Watch(&field);
    field.Create(kId, &log, 0, 0, 0, 0, 60, 15, "left", &log);
    field.SetTextQuiet("12345");
    field.setCursorPosition(0);
    QTest::mouseClick(&field, Qt::LeftButton, {}, QPoint(58, 7));
    QTest::mouseClick(&field, Qt::RightButton, {}, QPoint(58, 7));
    EXPECT_EQ(log.log, (std::vector<std::string>{"11022/1008", "11021/1008"}));
    ASSERT_FALSE(log.caretAtReport.empty());
    EXPECT_EQ(log.caretAtReport[0], 0);
    EXPECT_EQ(field.cursorPosition(), 5);
}

TEST_F(TextFieldTest, RedrawOffKeepsTheFieldAsItIs) {
    test::TestOwner owner;
    EntryField field;
    field.Create(kId, &owner, 0, 0, 0, 0, 60, 15, "center", nullptr);
    field.SetRedraw(false);
    field.HideIfRedraw();
    EXPECT_FALSE(field.isHidden());
    field.SetRedraw(true);
    field.HideIfRedraw();
    EXPECT_TRUE(field.isHidden());
    field.ShowIfRedraw();
    EXPECT_FALSE(field.isHidden());
}

} // namespace
} // namespace mb
