#pragma once

#include <optional>
#include <string>

#include <QCursor>

#include "widgets/MWnd.h"
#include "widgets/WidgetEvent.h"

namespace mb {

// A flat text button and the base of every input-capable widget. It hears the mouse only
// through Dispatch, called by the registry's walk, and reports only through the result
// code (WidgetResult), which makes the registry hand its id to the owner.
// Window thread only.
class MButton : public MWnd {
public:
    static constexpr const char* kTypeName = "MButton";

    MButton();
    ~MButton() override;
    void Create(int id,
                const std::string& text,
                int x,
                int y,
                int width,
                int height,
                WidgetOwner* owner) override;
    void CreateInRect(int id,
                      const std::string& text,
                      int left,
                      int top,
                      int right,
                      int bottom,
                      WidgetOwner* owner) override;
    void SetColors(Color ink, Color paper) override;
    void Paint(Canvas& dc) override;
    // What the button does with an event at (x, y); a WidgetResult.
    virtual int OnMouse(int event, int x, int y);
    // The registry's entry point: the press, drag and release rules; a WidgetResult.
    virtual int Dispatch(int event, int x, int y);

    // Also sets the colours of the pressed look of bitmap buttons.
    void SetColors(Color ink, Color paper, Color pressedInk, Color pressedPaper);
    // The program's cursor of that name; a name that does not load leaves no cursor.
    void SetCursorName(const std::string& name);

    bool IsPressed() const { return pressed_; }
    void SetPressed(bool flag) { pressed_ = flag; }
    Color GetPressedInk() const { return pressedInk_; }
    Color GetPressedPaper() const { return pressedPaper_; }
    const std::optional<QCursor>& GetCursor() const { return cursor_; }

    // Pressed look, repainted now; becomes the pressed widget. Returns kPressTaken.
    int Press();
    // Up look, repainted now; no pressed widget any more. kReleaseTaken when it was
    // pressed, else kNotTaken.
    int Release();

protected:
    bool IsInside() const { return inside_; }
    void SetInside(bool flag) { inside_ = flag; }
    bool IsPressedWidget() const;
    void BecomePressedWidget();
    void ClearPressedWidget();

private:
    bool pressed_ = false;
    bool inside_ = false;
    Color pressedInk_ = 0;
    Color pressedPaper_ = 0;
    std::optional<QCursor> cursor_;
};

} // namespace mb
