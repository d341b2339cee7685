#pragma once

#include <cstdint>
#include <string>

namespace mb {

// What opening and saving a setup needs from the main window, its panel and the setup
// controller. The window implements it and hands it to the document. Window thread
// only.
class DocumentWindow {
public:
    virtual ~DocumentWindow() = default;

    // The window's title (the setup's caption).
    virtual void SetTitle(const std::string& title) = 0;

    // The colour scheme's colour 5, 0x00BBGGRR: what a setup file stores.
    virtual uint32_t SchemeColor5() const = 0;
    // Makes color (0x00BBGGRR) the panel's new base colour; the window takes its
    // background, text colour and brush from the panel.
    virtual void ApplyColor(uint32_t color) = 0;

    // The window's left and top edge, screen pixels.
    virtual int32_t WindowX() const = 0;
    virtual int32_t WindowY() const = 0;
    // Moves the window without changing its size or z-order.
    virtual void MoveTo(int32_t x, int32_t y) = 0;
    // While a setup is applied as a whole: Hide stops the window painting, so that no
    // half-applied face is seen, and Show paints it again. Neither takes the window off
    // the screen or puts it on.
    virtual void Hide() = 0;
    virtual void Show() = 0;
    // Resizes the window to show n step columns (1 to 16).
    virtual void ResizeToColumns(int n) = 0;
    // Lays the columns out for the window's width; sets the setup's stepCount from it.
    virtual void FitColumnsToWidth() = 0;

    // The tempo field's unit: 1 samples per measure, 0 beats per minute.
    virtual void SetTempoUnit(int unit) = 0;
    // The controller's setters: store the value in the setup and show it.
    virtual void SetTempo(double bpm) = 0;
    virtual void SetMasterVolume(int volume) = 0;
    virtual void SetEValue(int value) = 0;
    // Selects loop n (0 to 7): the loop strip marks it and the columns show it.
    virtual void SelectLoop(int n) = 0;
    // The sound toggle (widget 1001) shows on or off, without changing the mute state
    // of sounds already playing.
    virtual void SetSoundToggle(bool on) = 0;
    // Gives the keyboard focus back to the window's focus target.
    virtual void RestoreFocus() = 0;
    // Shows a one-line remark in the window's status field.
    virtual void ShowStatus(const std::string& text) = 0;
};

} // namespace mb
