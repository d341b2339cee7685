#pragma once

#include "engine/SequencerPorts.h"

namespace mb {

// The keyboard as Qt sees it at this moment (not as of the event being handled): the
// state the arrows of a dial read to decide between a step and a Ctrl step.
// Window thread only (Qt's keyboard query is not thread-safe).
class KeyboardStateQt : public KeyboardState {
public:
    bool IsCtrlDown() const override;
};

} // namespace mb
