#pragma once

namespace mb {

// What happened, as the first argument of OnMouse, Dispatch and an owner's OnWidgetEvent.
struct WidgetEvent {
    static constexpr int kFieldLeave = 0; // a text field lost the focus
    static constexpr int kLeftPress = 1;  // also a left double-click
    static constexpr int kLeftRelease = 2;
    static constexpr int kRightPress = 4;
    static constexpr int kMove = 64;
    static constexpr int kFieldRightClick = 11021;
    static constexpr int kFieldLeftClick = 11022;
    static constexpr int kFieldCommit = 11023;
};

// What a widget did with an event, returned by OnMouse and Dispatch; anything but
// kNotTaken makes the registry report the widget's id to the owner.
struct WidgetResult {
    static constexpr int kNotTaken = 0;
    static constexpr int kPressTaken = 1;
    static constexpr int kReleaseTaken = 16; // a click, or the end or a step of a drag
    static constexpr int kRightPressTaken = 32;
};

} // namespace mb
