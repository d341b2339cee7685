#pragma once

#include "widgets/MToggleButton.h"

namespace mb {

// A loop strip button: a toggle that, while its loop is playing, draws its bitmaps in the
// playing colours instead of the normal and pressed ones. Window thread only.
class MLoopButton : public MToggleButton {
public:
    MLoopButton();
    ~MLoopButton() override;
    void Paint(Canvas& dc) override;

    // Stores the flag only; the caller shows the button.
    void SetPlaying(bool flag) { playing_ = flag; }
    bool IsPlaying() const { return playing_; }
    using MToggleButton::SetColors;
    // The four normal colours, then the playing colours of the up and the down look.
    void SetColors(Color ink,
                   Color paper,
                   Color pressedInk,
                   Color pressedPaper,
                   Color playUpInk,
                   Color playUpPaper,
                   Color playDownInk,
                   Color playDownPaper);

private:
    bool playing_ = false;
    Color playUpInk_;
    Color playUpPaper_;
    Color playDownInk_;
    Color playDownPaper_;
};

} // namespace mb
