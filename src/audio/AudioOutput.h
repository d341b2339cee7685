#pragma once

#include "audio/OutputChoice.h"

namespace mb {

// Whatever pulls the device's sound out (a real-time stream): stopped before the device
// goes away. The defaults are those of an output that is always there.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Window thread: plays through another back end, device or buffer from now on; the
    // change happens in the background.
    virtual void Apply(const OutputChoice& /*choice*/) {}
    // Any thread.
    virtual OutputStatus Status() const { return {}; }
    // Any thread, lock-free: the stream stands still because nothing has sounded for a
    // while; Wake makes it run again.
    virtual bool Paused() const { return false; }
    virtual void Wake() {}
    // Any thread, lock-free: sound is about to be played (a run starts a moment ahead):
    // a stream that stands still runs again, and a running one does not stop meanwhile.
    virtual void KeepAwake() {}
    // Any thread, lock-free: while held, a stream whose sound has ended goes on flowing
    // (silently) instead of standing still. Other copies of the program may start a
    // common run at any moment, and a stream that flows meets it soonest and on the same
    // frame as theirs.
    virtual void HoldFlowing(bool /*hold*/) {}
    // Any thread, lock-free: a step has been sent; an output that can write its queue
    // again looks at it now.
    virtual void Nudge() {}
};

} // namespace mb
