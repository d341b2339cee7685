#pragma once

#include "widgets/MButton.h"

namespace mb {

// A filled bar whose value follows the pointer: horizontal bars grow to the right,
// vertical ones upwards. A drag reaches the owner as a press, a run of moves and a
// release, all taken (kReleaseTaken) so that the owner reads GetValue each time. It keeps
// the type name "MButton". Window thread only.
class MSlider : public MButton {
public:
    ~MSlider() override;
    void Paint(Canvas& dc) override;
    int OnMouse(int event, int x, int y) override;
    int Dispatch(int event, int x, int y) override;
    // The thumb's colour, then ink and paper; the pressed colours are left alone.
    // kNoColor for a part of a vertical bar leaves that part unpainted.
    virtual void SetColors(Color ink, Color paper, Color thumb);

    using MButton::Create;
    using MButton::SetColors;
    void Create(int id,
                const std::string& text,
                int x,
                int y,
                int width,
                int height,
                WidgetOwner* owner,
                bool horizontal);

    // Store only; the next paint shows them.
    void SetRange(int minimum, int maximum);
    void SetThumbWidth(int width) { thumbWidth_ = width; }
    int GetValue() const { return value_; }
    // Stores v as it is (no clamping) and repaints when visible.
    void SetValue(int v);

    int GetMinimum() const { return minimum_; }
    int GetMaximum() const { return maximum_; }
    bool IsHorizontal() const { return horizontal_; }

private:
    // The value under the point, clamped to the range at the ends of the bar.
    int ValueAt(int x, int y) const;
    // Where value lies between minimum and maximum, 0 for an empty range.
    double Fraction() const;

    Color thumb_ = 0;
    bool horizontal_ = false;
    int value_ = 25;
    int minimum_ = 0;
    int maximum_ = 100;
    int thumbWidth_ = 2;
};

} // namespace mb
