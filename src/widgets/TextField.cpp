#include "widgets/TextField.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QValidator>

#include "widgets/MonoPicture.h"
#include "widgets/SystemColors.h"
#include "widgets/TenthPointFont.h"
#include "widgets/WidgetOwner.h"

namespace mb {

namespace {

// Size used for a requested size of 0, in tenths of a point.
static constexpr int kFallbackSize = 90;
// QLineEdit keeps this many pixels free on each side of the text.
static constexpr int kLineEditMargin = 2;

// Refuses an edit that makes the text wider than the field shows; the field never scrolls.
// A text that is already too wide (set by the program) may still get shorter.
class WidthLimit : public QValidator {
public:
    explicit WidthLimit(QLineEdit& edit) : QValidator(&edit), edit_(edit) {
        // The edit's text is already the new one while it is validated; remember the last
        // accepted one to compare against.
        connect(&edit, &QLineEdit::textChanged, this,
                [this](const QString& text) { last_ = text; });
    }

    State validate(QString& input, int&) const override {
        const QFontMetrics metrics(edit_.font());
        const QMargins margins = edit_.textMargins();
        const int room = edit_.contentsRect().width() - margins.left() - margins.right() -
                         2 * kLineEditMargin - 1;
        const int wanted = metrics.horizontalAdvance(input);
        if (wanted > room && wanted > metrics.horizontalAdvance(last_))
            return Invalid;
        return Acceptable;
    }

private:
    QLineEdit& edit_;
    QString last_;
};

} // namespace

TextField::TextField() {
    setFrame(false);
    setValidator(new WidthLimit(*this));
    setContextMenuPolicy(Qt::NoContextMenu);
}

TextField::~TextField() = default;

void TextField::Create(int id,
                       WidgetOwner* owner,
                       Color ink,
                       Color paper,
                       int x,
                       int y,
                       int width,
                       int height,
                       const std::string& alignment) {
    rect_ = {x, y, x + width, y + height};
    id_ = id;
    owner_ = owner;
    ink_ = ink == 0 ? SystemColors::Highlight() : ink;
    paper_ = paper == 0 ? SystemColors::ButtonFace() : paper;
    brush_ = QBrush(ToQColor(paper_));
    if (owner != nullptr)
        setParent(owner->NativeWindow());
    setGeometry(rect_.ToQRect());
    SetTabStop(width >= 1 && height >= 1);
    if (alignment == kAlignRight)
        setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    else if (alignment == kAlignCenter)
        setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    else
        setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ApplyPalette();
    SetFont(kDefaultFace, kDefaultSize);
    const std::optional<QCursor> cursor = MonoPicture::LoadCursor(kCursorName);
    hasCursor_ = cursor.has_value();
    if (cursor)
        setCursor(*cursor);
    show();
}

void TextField::SetTabStop(bool flag) {
    setFocusPolicy(flag ? Qt::StrongFocus : Qt::ClickFocus);
}

void TextField::SetColors(Color ink, Color paper) {
    ink_ = ink;
    paper_ = paper;
    if (!sharedBrush_)
        brush_ = QBrush(ToQColor(paper));
    ApplyPalette();
}

void TextField::ShareBrush(const QBrush& brush) {
    sharedBrush_ = true;
    brush_ = brush;
    ApplyPalette();
}

void TextField::ApplyPalette() {
    QPalette p = palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setBrush(group, QPalette::Base, brush_);
        p.setColor(group, QPalette::Text, ToQColor(ink_));
    }
    setPalette(p);
}

void TextField::SetFont(const std::string& name, int size) {
    const int tenths = size == 0 ? kFallbackSize : size;
    setFont(TenthPointFont(name.empty() ? kDefaultFace : name, tenths, logicalDpiY()));
    sharedFont_ = false;
}

void TextField::ShareFont(const QFont& font) {
    setFont(font);
    sharedFont_ = true;
}

void TextField::SetTextQuiet(const std::string& text) {
    setText(QString::fromStdString(text));
    setModified(false);
}

void TextField::CollapseSelection() {
    deselect();
    // Moving the caret onto itself scrolls it into view.
    setCursorPosition(cursorPosition());
}

void TextField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    CollapseSelection();
}

} // namespace mb
