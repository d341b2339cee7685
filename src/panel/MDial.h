#pragma once

#include <optional>
#include <string>

#include <QBrush>
#include <QFont>

#include "widgets/EntryField.h"
#include "widgets/FieldCompanion.h"
#include "widgets/MBmpButton.h"
#include "widgets/MSlider.h"
#include "widgets/MWnd.h"

namespace mb {

class KeyboardState;

// A clamped integer edited through up to three parts: an up and a down arrow, a number
// field and a slider. The dial itself is passive; its parts report their own ids (dial id
// + 1 up, + 2 down, + 3 field, + 4 slider) to the owner, which hands them back through
// OnChild and then reads the value. Every part is created; a part the dial does not use
// (its has-flag is false) is left out of the dial's later Show and Hide, so an owner that
// hides it once keeps it hidden. Window thread only.
class MDial : public MWnd, public FieldCompanion {
public:
    static constexpr int kUpPart = 1;
    static constexpr int kDownPart = 2;
    static constexpr int kFieldPart = 3;
    static constexpr int kSliderPart = 4;
    // Owners route the ids from the dial's id to this many above it to the dial.
    static constexpr int kIdSpan = 5;

    // Where the parts go, as offsets from the dial's origin. An empty upName means no
    // arrows; a field or slider of width and height 0 means none.
    struct Layout {
        std::string upName;
        int upDx = 0;
        int upDy = 0;
        std::string downName;
        int downDx = 0;
        int downDy = 0;
        int fieldDx = 0;
        int fieldDy = 0;
        int fieldWidth = 0;
        int fieldHeight = 0;
        int minimum = 0;
        int maximum = 0;
        int ctrlStep = 1;
        int sliderDx = 0;
        int sliderDy = 0;
        int sliderWidth = 0;
        int sliderHeight = 0;
        int thumbWidth = 0;
        bool horizontal = false;
    };

    MDial();
    ~MDial() override;
    void Paint(Canvas& dc) override;
    void Show() override;
    void Hide() override;
    void SetAttached(bool flag) override;
    // The field's text changed: with clamp while typing, the value follows it.
    void OnFieldText(const std::string& text) override;
    // The field lost the focus: its text becomes the clamped, normalised value.
    void OnFieldLeave() override;
    // One arrow step (+1 or -1), times the Ctrl step while Ctrl is held.
    void StepBy(int delta) { Step(delta, IsCtrlDown()); }
    // One step (+1 or -1), times the Ctrl step when large.
    virtual void Step(int delta, bool large);

    using MWnd::Create;
    // Registers the dial, then its parts (so they lie above it), sets the middle of the
    // range and shows the dial.
    void Create(int id, int x, int y, const Layout& layout, WidgetOwner* owner);

    // Clamps v, stores it, moves the slider and rewrites the field.
    void SetValue(int v);
    // As SetValue, but the field's text stays as it is.
    void SetValueQuiet(int v);
    int GetValue() const { return value_; }
    // The field's number (leading blanks, a sign, digits up to the first other character)
    // minus the display offset, stored as the value without clamping; text that starts
    // with no number keeps the value.
    int ReadValue();
    // What a part's report does: arrows step, the slider sets the value; the field nothing.
    void OnChild(int id);

    // Recolours every part without showing a hidden one. kNoColor leaves that part of
    // the slider unpainted.
    void SetColors(Color arrowInk,
                   Color arrowPaper,
                   Color fieldInk,
                   Color ownColour,
                   Color sliderInk,
                   Color sliderPaper,
                   Color thumb);
    using MWnd::SetColors;
    // False: the dial fills its rect behind its parts.
    void SetTransparent(bool flag);
    // Clamp while typing; also whether the field commits every keystroke.
    void SetImmediate(bool flag);
    // Added to the value for display, subtracted from typed numbers; the field shows the
    // value with the new offset at once.
    void SetDisplayOffset(int n);

    void ShowField();
    void HideField();
    void ShowArrows();
    void HideArrows();
    void ShowSlider();
    void HideSlider();
    void ShareTextResources(const QFont& font, const QBrush& brush);

    EntryField& Field() { return field_; }
    MBmpButton& UpArrow() { return up_; }
    MBmpButton& DownArrow() { return down_; }
    MSlider& Slider() { return slider_; }
    int GetMinimum() const { return minimum_; }
    int GetMaximum() const { return maximum_; }

    // Where every dial reads the Ctrl key; the default asks Qt. The keyboard must outlive
    // the dials; nullptr restores the default.
    static void SetKeyboard(const KeyboardState* keyboard);

protected:
    static bool IsCtrlDown();

private:
    int Clamp(long long v) const;

    int dialId_ = 0;
    MBmpButton up_;
    MBmpButton down_;
    EntryField field_;
    MSlider slider_;
    int value_ = 0;
    int minimum_ = 0;
    int maximum_ = 0;
    int ctrlStep_ = 1;
    bool transparent_ = true;
    bool clampWhileTyping_ = false;
    bool created_ = false;
    bool hasArrows_ = true;
    bool hasSlider_ = true;
    bool hasField_ = true;
    int displayOffset_ = 0;
    bool fieldCreated_ = false;
};

// The decimal integer at the start of text as the C library's atoi reads it, but limited
// to the int range instead of overflowing.
int ParseLeadingInt(const std::string& text);
// The same, or nothing when text does not start with a number.
std::optional<int> LeadingInt(const std::string& text);

} // namespace mb
