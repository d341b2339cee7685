#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include <QCursor>
#include <QDialog>

#include "app/AudioExporter.h"
#include "app/CommandRunner.h"
#include "app/SetupController.h"
#include "app/WindowActions.h"
#include "connections/LinkSession.h"
#include "devices/JackTransport.h"
#include "engine/SessionSwitch.h"
#include "connections/LocalInstanceLink.h"
#include "devices/MidiConnection.h"
#include "dialogs/PromptGate.h"
#include "engine/Sequencer.h"
#include "engine/SoundEngine.h"
#include "midi/ClockFollower.h"
#include "files/DocumentWindow.h"
#include "model/Setup.h"
#include "panel/KeyboardStateQt.h"
#include "platform/Doorbell.h"
#include "widgets/Color.h"
#include "widgets/OwnerWindow.h"

class QPushButton;
class QSize;
class QSocketNotifier;
class QTimer;

namespace mb {

class FaceAccessible;
class Prompts;
class SettingsStore;
class WidgetPanel;

// The program's one window: it owns the setup, the controller that edits it, the step
// clock and the sound engine, and the panel that draws the whole face. It takes the
// keys first (an event filter on the application) and routes the mouse to the widgets;
// every input that asks something of the program (keys, widgets, menus, drops, MIDI
// Start/Stop, Link's tempo, other instances) becomes a Command that its CommandRunner
// carries out. The step clock's news goes to the sequencer before anything else.
//
// Threads: everything here runs on the window thread, except TakeStep, which the step
// clock calls after each step, and the MIDI input's transport hook (OnMidiTransport).
// Both only store what they say in atomics and ring the window's doorbell, which never
// blocks, allocates or locks, and whose rings merge into one wake-up: the window takes
// in the news when it wakes (TakeNews), however many rings there were.
class MainWindow : public QDialog,
                   public OwnerWindow,
                   public DocumentWindow,
                   public MessagePoster,
                   public StepFollower,
                   private WindowActions {
public:
    static constexpr int kClientWidth = 707;
    static constexpr int kClientHeight = 166;
    static constexpr int kMinClientWidth = 133;
    // The focus sink: a flat button that takes the keyboard focus back, so that keys reach
    // the window's own handling and not a text field. It takes no mouse event: the arrows
    // and fields it lies over get their clicks.
    static constexpr int kFocusSinkId = 1;
    static constexpr const char* kFocusSinkText = "C";
    static constexpr int kFocusSinkX = 4;
    static constexpr int kFocusSinkY = 144;
    static constexpr int kFocusSinkSize = 27;

    struct Options {
        // Where every prompt goes; nullptr: the desktop's dialogs.
        Prompts* prompts = nullptr;
        // Opens the audio output; empty: the real one.
        SoundEngine::DeviceOpener audio;
        // Listen for and talk to the other instances.
        bool linkInstances = true;
        // Join a Link session for this run, whatever the setting says.
        bool link = false;
        // Follow the JACK transport for this run, whatever the setting says.
        bool jackTransport = false;
        // A fixed base colour instead of a random one.
        std::optional<Color> color;
        // The settings file; empty: the user's.
        std::string settingsPath;
        // Where the sound goes for this run, over the stored choice (from the command
        // line); the stored choice is not changed.
        std::optional<std::string> audioApi;
        std::optional<std::string> audioDevice;
        std::optional<int> bufferFrames;
    };

    explicit MainWindow(Options options);
    ~MainWindow() override;

    // The start-up proper, in order: size, face, colour, controller, step clock, sound,
    // file type, the setup named on the command line (when not empty), timer setting,
    // Link.
    void Start(const std::string& commandLinePath);

    // Every command, from whatever input, runs here; a session manager's client is
    // served through it.
    CommandRunner& Commands() { return commands_; }
    // Where every prompt passes; start-up under a session manager goes through it
    // unattended.
    PromptGate& Gate() { return gate_; }
    const SoundEngine& GetSoundEngine() const { return soundEngine_; }

    // The window in which a point of a file's window position would be visible, or the
    // nearest place on the nearest screen.
    static QPoint VisiblePosition(const QPoint& wanted, const QSize& size);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void reject() override;
    void accept() override;

private:
    // Runs the MIDI keeper while the chosen output is a JACK port, and stops it otherwise.
    void KeepMidiWhileJack();
    // The window's look at the followed JACK transport.
    void FollowTransport();
    // After every MIDI choice: the step clock follows the MIDI clock while it is chosen.
    void FollowMidiClock();
    // Every kTransportPollMs while following: what the MIDI clock did.
    void PollMidiClock();
    // Link or the JACK transport is chosen: the MIDI clock is no longer followed (and the
    // choice is kept), said in the status field.
    void StopFollowingMidiClock();
    // Reaches the window's parts in tests.
    friend class WindowProbe;

    // OwnerWindow.
    void OnWidgetEvent(int event, int x, int y, int id) override;

    // DocumentWindow.
    void SetTitle(const std::string& title) override;
    uint32_t SchemeColor5() const override;
    void ApplyColor(uint32_t color) override;
    int32_t WindowX() const override;
    int32_t WindowY() const override;
    void MoveTo(int32_t x, int32_t y) override;
    void Hide() override;
    void Show() override;
    void ResizeToColumns(int n) override;
    void FitColumnsToWidth() override;
    void SetTempoUnit(int unit) override;
    void SetTempo(double bpm) override;
    void SetMasterVolume(int volume) override;
    void SetEValue(int value) override;
    void SelectLoop(int n) override;
    void SetSoundToggle(bool on) override;
    void RestoreFocus() override;
    void ShowStatus(const std::string& text) override;

    // MessagePoster: window thread.
    void PostMessage(int message, intptr_t wParam, intptr_t lParam) override;
    // StepFollower: any thread, lock-free; wakes the window to take the news in.
    void TakeStep(const StepEvent& step) override;

    // WindowActions.
    void CloseWindow() override;
    void ChangeColour() override;
    void ShowAbout() override;
    void ChooseSoundOutput() override;
    void ChooseMidi() override;
    void ExportAudio() override;
    void ExportMidi(int channel) override;
    bool IsLinkOn() const override { return link_.IsOn(); }
    // While it is on, the caption shows the number of peers.
    void SetLinkOn(bool on) override;
    bool IsJackTransportOn() const override { return jackTransport_ != nullptr; }
    void SetJackTransportOn(bool on) override;
    bool KeysGoToSink() const override;
    void LeaveField(bool restore) override;
    void ShowWindow(bool shown) override;
    bool IsShown() const override;

    // Any thread (the MIDI input's), lock-free: MIDI Start (true) or Stop was received.
    // Only the latest counts: the window starts or stops once it wakes, however many
    // came meanwhile.
    void OnMidiTransport(bool start);
    // The focus reset of every left press: the last column's pitch field loses its
    // selection and the focus sink takes the focus.
    void ResetFocus();

    bool PreTranslateKey(QObject* watched, QKeyEvent* key);
    // The real output, as outputChoice_ says; *note tells of a fall-back.
    std::unique_ptr<AudioDevice> OpenOutput(std::string* note);
    // Keeps the output flowing while other copies of the program are open.
    void HoldOutputForOthers();
    bool BelongsHere(QObject* watched) const;
    void TakeColors();
    // The document's caption, and the Link session's peers while it is on.
    void ShowTitle();
    LinkSession::Hooks LinkHooks();
    // What the command runner acts on: members built before it.
    CommandRunner::Parts CommandParts();
    // Woken by the doorbell: takes in the step clock's news and the latest MIDI Start or
    // Stop.
    void TakeNews();

    std::unique_ptr<Prompts> ownPrompts_;
    PromptGate gate_;
    Prompts& prompts_;
    Options options_;
    std::unique_ptr<SettingsStore> settings_;
    // Rung by the step clock and the MIDI input; before everything that rings it.
    Doorbell bell_;
    std::unique_ptr<QSocketNotifier> bellNotifier_;
    // The latest MIDI transport message: 0 none, kMidiStart or kMidiStop.
    std::atomic<int> midiTransport_{0};
    // Wake-ups the window has had from its doorbell.
    uint64_t newsWakeups_ = 0;
    std::unique_ptr<WidgetPanel> panel_;
    Setup setup_;
    SetupController controller_;
    Sequencer sequencer_;
    SoundEngine soundEngine_;
    // Before the MIDI input that feeds it, so that it outlives it.
    ClockFollower clockFollower_;
    QTimer* clockTimer_ = nullptr;
    MidiConnection midi_;
    // Looks after a JACK MIDI output while one is chosen (see KeepMidiWhileJack).
    QTimer* midiKeeper_ = nullptr;
    KeyboardStateQt keyboard_;
    LocalInstanceLink instances_;
    // After everything its calls reach: its threads end first.
    LinkSession link_;
    // The JACK transport while it is followed, and the timer that looks at it.
    std::unique_ptr<JackTransport> jackTransport_;
    QTimer* transportTimer_ = nullptr;
    // What the step clock follows: Link, the JACK transport or nothing.
    SessionSwitch session_;
    CommandRunner commands_;
    // Where the sound goes: the stored choice with this run's command-line overrides.
    OutputChoice outputChoice_;
    AudioExporter exporter_;
    std::string documentTitle_;
    Color background_ = 0;
    Color textColor_ = 0;
    std::optional<QCursor> noCursor_;
    std::optional<QCursor> sizeCursor_;
    QPushButton* focusSink_ = nullptr;
    // The face as assistive tools see it; its values are set through commands_.
    std::unique_ptr<FaceAccessible> access_;
    QSize lastSize_;
    bool initialised_ = false;
    bool filterInstalled_ = false;
};

} // namespace mb
