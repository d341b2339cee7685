#pragma once

#include <optional>
#include <string>

#include <QBrush>
#include <QCursor>
#include <QFont>
#include <QLineEdit>

#include "widgets/Color.h"
#include "widgets/Rect.h"

namespace mb {

class WidgetOwner;

// A native single-line edit on an owner window, with the program's colours, font and text
// pointer: no frame, and typing stops when the text fills the visible width. Its parent is
// the owner's window, so a field must be destroyed before that window (fields are members
// of objects that the window outlives). Window thread only.
class TextField : public QLineEdit {
public:
    static constexpr const char* kAlignRight = "right";
    static constexpr const char* kAlignCenter = "center";
    static constexpr const char* kDefaultFace = "Arial";
    static constexpr int kDefaultSize = 70; // tenths of a point
    static constexpr const char* kCursorName = "TEXTCUR";

    TextField();
    ~TextField() override;

    // rect = (x, y, x + width, y + height). An ink or paper of 0 means the desktop's
    // highlight or button-face colour. Alignment "right" or "center" (exactly so), else
    // left. A field without width or height is not a tab stop.
    void Create(int id,
                WidgetOwner* owner,
                Color ink,
                Color paper,
                int x,
                int y,
                int width,
                int height,
                const std::string& alignment);
    void SetColors(Color ink, Color paper);
    // The background brush from now on belongs to somebody else; SetColors keeps it.
    void ShareBrush(const QBrush& brush);
    // Face and size in tenths of a point: size 0 means 90, an empty face "Arial".
    void SetFont(const std::string& name, int size);
    void ShareFont(const QFont& font);
    // Sets the text without it counting as a user edit: nothing is committed.
    void SetTextQuiet(const std::string& text);
    std::string GetText() const { return text().toStdString(); }
    Rect GetRect() const { return rect_; }
    void SetTabStop(bool flag);

    int GetId() const { return id_; }
    WidgetOwner* GetOwner() const { return owner_; }
    Color GetInk() const { return ink_; }
    Color GetPaper() const { return paper_; }
    bool HasSharedBrush() const { return sharedBrush_; }
    bool HasSharedFont() const { return sharedFont_; }
    bool HasCursor() const { return hasCursor_; }

protected:
    void focusOutEvent(QFocusEvent* event) override;
    // Collapses the selection and puts the caret in view, as every field does on leaving.
    void CollapseSelection();

private:
    void ApplyPalette();

    Color ink_ = 0;
    Color paper_ = 0;
    Rect rect_;
    int id_ = 0;
    WidgetOwner* owner_ = nullptr;
    QBrush brush_;
    bool sharedBrush_ = false;
    bool sharedFont_ = false;
    bool hasCursor_ = false;
};

} // namespace mb
