#pragma once

#include <string>

#include <QBrush>
#include <QFont>

#include "model/Groove.h"
#include "panel/MDial.h"
#include "panel/MLabel.h"
#include "widgets/ColorScheme.h"
#include "widgets/MToggleButton.h"
#include "widgets/MWnd.h"
#include "widgets/SkinBitmap.h"

namespace mb {

// One step of the selected loop: the skin "NOTEBMP" with a number label, an on/off toggle
// and five dials (pitch, sound, volume, pan, D). The column is passive; its children
// report ids column id + code (StepParam: 10 on, 20 pitch, ... 60 D) and up to + 5 for a
// dial's parts. The label doubles as the step light. Window thread only.
class MStepColumn : public MWnd {
public:
    static constexpr const char* kSkinName = "NOTEBMP";

    MStepColumn();
    ~MStepColumn() override;
    void Paint(Canvas& dc) override;
    // Label, toggle and dials, then the column itself; nothing before Create finished.
    void Show() override;
    void Hide() override;
    // Detached, setting a value shows no child: a hidden column stays hidden while a loop
    // is loaded into it.
    void SetAttached(bool flag) override;

    using MWnd::Create;
    // The column at (x, y), as large as its skin (37 x 162), with all its children.
    void Create(int id, const std::string& caption, int x, int y, WidgetOwner* owner);

    // Code 10: the toggle's state (value != 0); 20 to 60: the dial's value, clamped.
    void SetItem(int code, int value);
    // Code 10: 0 or 1; 20 to 60: the dial's value as read from its field (the sound dial
    // without its display offset); 0 for other codes.
    int GetItem(int code);
    // The child of that code, or nullptr.
    MWnd* Child(int code);
    // The dial of that code (20 to 60), or nullptr.
    MDial* Dial(int code);
    MToggleButton& Toggle() { return toggle_; }
    MLabel& Label() { return label_; }
    // Hands a reported id to the dial whose part sent it.
    void OnChildEvent(int id);
    // Recolours the column and its children from base, puts the step light out and shows
    // the column.
    void ApplyColor(Color base);
    void ShareTextResources(const QFont& font, const QBrush& brush);
    // Readable digits and number: taken at the next ApplyColor.
    void SetHighContrast(bool on) { highContrast_ = on; }
    // The step light: the label in colours 2 on 7 while lit, 6 on 5 otherwise.
    void SetLit(bool flag);
    bool IsLit() const { return lit_; }
    // The step's condition: a step that does not always play carries a small mark beside
    // its toggle, and the toggle's tooltip names the condition.
    void SetCondition(const StepCondition& condition);
    const StepCondition& Condition() const { return condition_; }
    // The tooltip of the child at (x, y) (window pixels), empty for none.
    std::string ToolTipAt(int x, int y) const;
    const ColorScheme& Scheme() const { return scheme_; }

private:
    MDial pitchDial_;
    SkinBitmap skin_;
    ColorScheme scheme_;
    MLabel label_;
    MToggleButton toggle_;
    MDial soundDial_;
    MDial volumeDial_;
    MDial panDial_;
    MDial dDial_;
    bool created_ = false;
    bool lit_ = false;
    bool highContrast_ = false;
    StepCondition condition_;
};

} // namespace mb
