#pragma once

#include "widgets/MBmpButton.h"

namespace mb {

// A bitmap button that flips its state on every completed click. It shows the down look
// when pressed and state differ: a toggle that is on looks pressed at rest and pops up
// while it is held. Toggles have no group behaviour. Window thread only.
class MToggleButton : public MBmpButton {
public:
    static constexpr const char* kTypeName = "MToggleButton";

    MToggleButton();
    ~MToggleButton() override;
    void Paint(Canvas& dc) override;
    int OnMouse(int event, int x, int y) override;

    bool GetState() const { return state_; }
    // Stores the state and shows the toggle (which also repaints it).
    void SetState(bool flag);

private:
    bool state_ = false;
};

} // namespace mb
