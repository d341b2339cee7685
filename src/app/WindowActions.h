#pragma once

namespace mb {

// What commands ask of the window itself: the dialogs it opens, its focus, its place on
// the screen, the Link session it keeps. The main window implements it for the
// CommandRunner. Window thread only.
class WindowActions {
public:
    virtual ~WindowActions() = default;
    // Closes through the save-changes check of the close box.
    virtual void CloseWindow() = 0;
    // Asks for a colour, opened on the background colour, applies it and marks the setup
    // modified. Cancel, or the background colour itself, changes nothing and marks
    // nothing.
    virtual void ChangeColour() = 0;
    virtual void ShowAbout() = 0;
    // Asks where the sound goes, keeps the answer in the settings and plays through it
    // from now on.
    virtual void ChooseSoundOutput() = 0;
    // Asks for the MIDI ports and what goes through them, keeps the answer in the
    // settings and opens the ports; says what did not open.
    virtual void ChooseMidi() = 0;
    // Starts an export of the setup to a sound file, asking where.
    virtual void ExportAudio() = 0;
    // Starts an export of one pass of the setup to a MIDI file on `channel`, asking where.
    virtual void ExportMidi(int channel) = 0;
    virtual bool IsLinkOn() const = 0;
    // Joins or leaves the Link session (the setting is the caller's business).
    virtual void SetLinkOn(bool on) = 0;
    virtual bool IsJackTransportOn() const = 0;
    // Follows the JACK transport or stops following it (the setting is the caller's
    // business); says in the status field why it cannot follow.
    virtual void SetJackTransportOn(bool on) = 0;
    // True while the focus sink has the keyboard focus (no text field is being edited).
    virtual bool KeysGoToSink() const = 0;
    // The text field with the focus keeps (Enter) or restores (Escape) its value, and the
    // focus goes back to the sink.
    virtual void LeaveField(bool restore) = 0;
    virtual void ShowWindow(bool shown) = 0;
    virtual bool IsShown() const = 0;
};

} // namespace mb
