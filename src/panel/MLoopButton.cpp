#include "panel/MLoopButton.h"

#include "widgets/SystemColors.h"

namespace mb {

MLoopButton::MLoopButton()
    : playUpInk_(SystemColors::ButtonFace()), playUpPaper_(SystemColors::Highlight()),
      playDownInk_(SystemColors::ButtonFace()), playDownPaper_(SystemColors::Highlight()) {}

MLoopButton::~MLoopButton() = default;

void MLoopButton::SetColors(Color ink,
                            Color paper,
                            Color pressedInk,
                            Color pressedPaper,
                            Color playUpInk,
                            Color playUpPaper,
                            Color playDownInk,
                            Color playDownPaper) {
    playUpInk_ = playUpInk;
    playUpPaper_ = playUpPaper;
    playDownInk_ = playDownInk;
    playDownPaper_ = playDownPaper;
    MToggleButton::SetColors(ink, paper, pressedInk, pressedPaper);
}

void MLoopButton::Paint(Canvas& dc) {
    if (!playing_) {
        MToggleButton::Paint(dc);
        return;
    }
    const Rect rect = GetRect();
    if (!IsVisible() || !dc.RectVisible(rect))
        return;
    if (IsPressed() != GetState())
        GetDownBitmap().Draw(dc, playDownInk_, playDownPaper_, rect.left, rect.top);
    else
        GetUpBitmap().Draw(dc, playUpInk_, playUpPaper_, rect.left, rect.top);
    dc.ExcludeClipRect(rect);
}

} // namespace mb
