#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace mb {

// One thing the world asks of the program, from whichever input it came: a key, an
// accelerator, a widget, a menu item, a dropped file, MIDI Start or Stop, the session
// manager, the Link session or another copy of the program. CommandTable says which
// input gives which command; CommandRunner carries every command out, in one place.
//
// The ids of menu items are the menus' own numbers (a menu item's data, an accelerator's
// target); the other inputs have small numbers of their own.
struct Command {
    // Menu items, and the accelerators that send them.
    static constexpr int kOpenSetup = 21001;
    static constexpr int kSaveSetup = 21002;
    static constexpr int kSaveSetupAs = 21003;
    static constexpr int kExit = 21004;
    static constexpr int kExportAudio = 21005;
    static constexpr int kExportMidi = 21006;
    static constexpr int kImportSounds = 32771;
    static constexpr int kQuickFade = 32772;
    static constexpr int kChangeColor = 32775;
    static constexpr int kAbout = 32776;
    static constexpr int kHighResTimer = 32777;
    static constexpr int kHighContrast = 32778;
    static constexpr int kUndo = 22001;
    static constexpr int kCopyMeasure = 22002;
    static constexpr int kPasteMeasure = 22003;
    static constexpr int kShiftLeft = 22004;
    static constexpr int kShiftRight = 22005;
    static constexpr int kSamplesPerMeasure = 23003;
    static constexpr int kBeatsPerMinute = 23004;
    static constexpr int kRandomize = 23005;
    static constexpr int kKillAllSound = 23006;
    static constexpr int kPolyphonic = 23007;
    static constexpr int kMute = 23008;
    static constexpr int kSoundOutput = 23010;
    static constexpr int kMidiOutput = 23011;
    static constexpr int kLink = 23012;
    static constexpr int kJackTransport = 23013;
    // The submenus of what the D and E dials play; function n of each is its first id + n
    // (see DDial, EDial).
    static constexpr int kDDialMenu = 23020;
    static constexpr int kEDialMenu = 23021;
    static constexpr int kFirstDDial = 23030;
    static constexpr int kFirstEDial = 23040;
    // Condition code c (see StepCondition) goes to the step whose conditions were shown
    // last as kFirstCondition + c.
    static constexpr int kFirstCondition = 24000;
    static constexpr int kLastCondition = 24099;
    // Sound i of the sound list is kFirstSound + i; it goes to the step whose list was
    // shown last.
    static constexpr int kFirstSound = 500;

    // Inputs that are no menu item.
    static constexpr int kNone = 0;
    // A key taken that does nothing (Space repeating while held).
    static constexpr int kSwallowKey = 1;
    // Space and MIDI Start/Stop: flips the play button, then as the button.
    static constexpr int kTogglePlayback = 2;
    // MIDI Start (arg 1) or Stop (arg 0): toggles only when that changes something.
    static constexpr int kMidiTransport = 3;
    // Digits 1 to 8: loop arg plays from the next step on, while playing and while no
    // text field has the focus; not taken otherwise.
    static constexpr int kJumpToLoop = 4;
    // Enter (arg 0) or Escape (arg 1) in a text field: commit or restore its value, and
    // give the focus back.
    static constexpr int kLeaveField = 5;
    // The keyboard mark (see WidgetPanel::SetMark). Tab, Shift+Tab and the arrows move it
    // (arg: a MarkMove); Up, Down and the page keys change the value of the marked control
    // or of the field being edited (arg +1 or -1; value 1: by the larger step); Enter
    // presses the marked control; Escape takes the mark away; Shift+F10 and the Menu key
    // open the marked control's own menu.
    static constexpr int kMoveMark = 6;
    static constexpr int kStepMarked = 7;
    static constexpr int kPressMarked = 8;
    static constexpr int kLeaveMark = 9;
    static constexpr int kMarkMenu = 19;
    // A widget's own ids (arg): pressed, changed, right-clicked.
    static constexpr int kWidgetPress = 10;
    static constexpr int kWidgetChange = 11;
    static constexpr int kWidgetRightClick = 12;
    // The play and sound-toggle buttons, already flipped by the click.
    static constexpr int kPlayButton = 13;
    static constexpr int kMuteButton = 14;
    // A menu button (arg: its widget id) opens its menu.
    static constexpr int kOpenMenu = 15;
    // The sound list of step arg, at the pointer.
    static constexpr int kShowSoundMenu = 16;
    // The conditions of step arg, at the pointer.
    static constexpr int kShowConditionMenu = 17;
    // An assistive tool (a screen reader) sets control arg of the face to value, in the
    // units the face shows (see FaceAccessible): carried out as the same edit by hand,
    // with its undo point.
    static constexpr int kSetValue = 18;
    // A file dropped on the window: opened as a setup.
    static constexpr int kOpenPath = 20;
    // The Link session's tempo (value) changed: taken as a typed one would be.
    static constexpr int kLinkTempo = 21;
    // The followed JACK transport's tempo (value) changed: shown, as Link's is.
    static constexpr int kTransportTempo = 24;
    // Another copy started (arg: the moment its first step is heard, or 0) or stopped.
    static constexpr int kRemoteStart = 22;
    static constexpr int kRemoteStop = 23;
    // The session manager: open (arg 0) or create (arg 1) the session's setup at path,
    // save it there, show or hide the window.
    static constexpr int kSessionOpen = 30;
    static constexpr int kSessionSave = 31;
    static constexpr int kShowWindow = 32;
    static constexpr int kHideWindow = 33;

    Command() = default;
    // Not explicit: a command is often written as its id alone.
    Command(int id, int64_t arg = 0) : id(id), arg(arg) {}
    Command(int id, int64_t arg, double value, std::string path = {})
        : id(id), arg(arg), value(value), path(std::move(path)) {}

    int id = kNone;
    int64_t arg = 0;
    double value = 0.0;
    std::string path;
};

} // namespace mb
