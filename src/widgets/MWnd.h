#pragma once

#include <string>

#include "widgets/Canvas.h"
#include "widgets/Color.h"
#include "widgets/Rect.h"

namespace mb {

class WidgetOwner;

// A windowless widget: a rectangle in an owner window's client area that paints itself on
// the canvas the owner hands it. Create registers it in the WidgetRegistry, whose walks
// give painting, the pointer shape and mouse input their stacking order (newest on top).
//
// The type name decides who takes input: the registry's input and cursor walks skip every
// widget named "MWnd", so a class derived straight from MWnd is passive decoration.
// Only the button classes rename themselves. Window thread only.
class MWnd {
public:
    static constexpr const char* kTypeName = "MWnd";

    MWnd();
    MWnd(const MWnd&) = delete;
    MWnd& operator=(const MWnd&) = delete;

    // The virtual operations, in the order the widget classes rely on.
    virtual ~MWnd();
    // rect = (x, y, x + width, y + height); registers, colours, attaches and shows.
    virtual void Create(
        int id, const std::string& text, int x, int y, int width, int height, WidgetOwner* owner);
    virtual void CreateInRect(int id,
                              const std::string& text,
                              int left,
                              int top,
                              int right,
                              int bottom,
                              WidgetOwner* owner);
    // Stores both colours and repaints when visible.
    virtual void SetColors(Color ink, Color paper);
    virtual void Paint(Canvas& dc);
    // Both do nothing until the widget is attached to its owner.
    virtual void Show();
    virtual void Hide();
    virtual void SetAttached(bool flag);

    int GetId() const { return id_; }
    std::string GetText() const { return text_; }
    Rect GetRect() const { return rect_; }
    Color GetInk() const { return ink_; }
    Color GetPaper() const { return paper_; }
    bool IsVisible() const { return visible_; }
    bool IsAttached() const { return attached_; }
    WidgetOwner* GetOwner() const { return owner_; }
    std::string GetTypeName() const { return typeName_; }
    // The type name as the registry compares it, without a copy.
    const std::string& TypeName() const { return typeName_; }

    void SetInk(Color c);
    void SetPaper(Color c);
    // Repaints the widget now (through the owner) when visible.
    void Redraw();

protected:
    // For composites whose rectangle is the union of their parts.
    void SetRect(const Rect& rect) { rect_ = rect; }
    void SetText(const std::string& text) { text_ = text; }
    void SetTypeName(const char* name) { typeName_ = name; }
    void InvalidateOwner();

private:
    // The steps both Create operations share.
    void Register(int id, const std::string& text, const Rect& rect, WidgetOwner* owner);

    bool visible_ = false;
    Rect rect_;
    std::string text_;
    Color ink_ = 0;
    Color paper_ = 0;
    bool attached_ = false;
    int id_ = 0;
    WidgetOwner* owner_ = nullptr;
    std::string typeName_ = kTypeName;
    bool registered_ = false;
};

} // namespace mb
