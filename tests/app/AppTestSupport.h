#pragma once

#include <memory>
#include <string>

#include <QPoint>
#include <QTemporaryDir>

#include "ScriptedPrompts.h"
#include "WidgetTestSupport.h"
#include "app/MainWindow.h"

namespace mb {

// The window's parts, for tests that check what an input did to them or set them up.
class WindowProbe {
public:
    explicit WindowProbe(MainWindow& window) : w_(window) {}
    Setup& GetSetup() { return w_.setup_; }
    SetupController& Controller() { return w_.controller_; }
    Sequencer& GetSequencer() { return w_.sequencer_; }
    SoundEngine& GetSoundEngine() { return w_.soundEngine_; }
    MidiConnection& Midi() { return w_.midi_; }
    WidgetPanel& Panel() { return *w_.panel_; }
    AudioExporter& Exporter() { return w_.exporter_; }
    SettingsStore& Settings() { return *w_.settings_; }
    QPushButton& FocusSink() { return *w_.focusSink_; }
    FaceAccessible& Access() { return *w_.access_; }
    Color Background() const { return w_.background_; }
    uint64_t newsWakeups() const { return w_.newsWakeups_; }
    bool IsLinkOn() const { return w_.IsLinkOn(); }
    void OnMidiTransport(bool start) { w_.OnMidiTransport(start); }
    void ResetFocus() { w_.ResetFocus(); }
    DocumentWindow& Document() { return w_; }

private:
    MainWindow& w_;
};

inline WindowProbe Probe(MainWindow& window) {
    return WindowProbe(window);
}

} // namespace mb

namespace mb::test {

// The real main window on the offscreen platform: no audio device (the engine runs
// silent) unless the real output is asked for, prompts answered from a script, a fixed
// colour, settings in a scratch folder, no link to other instances.
class AppFixture {
public:
    static constexpr Color kColor = 0x00A05A28;

    explicit AppFixture(bool realOutput = false);
    // The sound through the device the opener gives.
    explicit AppFixture(SoundEngine::DeviceOpener audio);
    ~AppFixture();

    // A new window in place of the one there (not started yet).
    void NewWindow();
    // Starts the window on a setup path (empty: untitled) and shows it.
    void Start(const std::string& path = {});

    // The centre of a widget, in window pixels.
    static QPoint Centre(const Rect& rect);
    // The widget a real click at a window point reaches: a child window there (a text
    // field), or the window itself.
    QWidget* Under(const QPoint& at) const;
    // A click at the centre of rect, delivered to the widget under it.
    void Click(const Rect& rect,
               Qt::KeyboardModifiers mods = Qt::NoModifier,
               Qt::MouseButton button = Qt::LeftButton);
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier);
    // A setup file in the scratch folder with the demo groove on the kit folder given.
    std::string WriteDemo(const std::string& name, const std::string& soundFolder);
    std::string Scratch(const std::string& name) const;

    QTemporaryDir scratch;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;

private:
    SoundEngine::DeviceOpener audio_;
};

} // namespace mb::test
