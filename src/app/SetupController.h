#pragma once

#include <functional>
#include <memory>
#include <string>

#include "model/MeasureEdits.h"

class QWidget;

namespace mb {

class DocumentWindow;
class Prompts;
class Sequencer;
class Setup;
class SetupDocument;
class SoundEngine;
class SoundFolder;
class WidgetPanel;

// Applies the widgets' edits to the setup: step edits with the Shift and Shift+Alt group
// edits, the master dials, the tempo and the loop strip; one level of undo; the measure
// clipboard; randomising and rotating the steps; and the file commands, which it hands to
// the setup document. Window thread only.
class SetupController {
public:
    // The modifier keys held right now, as the group edits see them.
    struct Modifiers {
        bool shift = false;
        bool alt = false;
    };
    using ModifierSource = std::function<Modifiers()>;

    // The clipboard format of one measure (Qt's name for a registered format, so that it
    // is exchanged between instances) and the block's length.
    static constexpr const char* kMeasureMimeType =
        "application/x-qt-windows-mime;value=\"HexwrightLoopv2\"";
    static constexpr int kMeasureBytes = 192;
    static constexpr const char* kCouldNotCopy = "Could not copy to the clipboard...";
    static constexpr const char* kMeasureTooShort =
        "The measure on the clipboard is damaged: it holds fewer than 192 bytes. "
        "Nothing was pasted.";

    // The note that Open Setup, Save Setup As and a dropped file give while a session
    // manager owns the setup's file; the file's path comes between the two parts.
    static constexpr const char* kUnderSession =
        "This setup belongs to a session of the session manager, which opens and saves it:\n";
    static constexpr const char* kUnderSessionSave =
        "\nSave Setup saves it there. Opening another setup or saving it under another name "
        "is left to the session manager.";

    static constexpr int kDefaultMasterVolume = 80;
    static constexpr int kDefaultEValue = 0;

    explicit SetupController(Prompts& prompts);
    ~SetupController();
    SetupController(const SetupController&) = delete;
    SetupController& operator=(const SetupController&) = delete;

    // Binds the controller to the face, the setup and the window's parts, and shows loop 0
    // in the columns. focusScope is the window whose focused text field Copy and Paste
    // act on when it has a selection or the clipboard holds no measure.
    void Init(WidgetPanel& panel,
              Setup& setup,
              DocumentWindow& window,
              const QWidget& focusScope,
              Sequencer& sequencer,
              SoundEngine& soundEngine);
    // Replaces where the group edits read Shift and Alt (tests).
    void SetModifierSource(ModifierSource source) { modifiers_ = std::move(source); }
    // Replaces the random source of Randomize (tests).
    void SetRandomSource(RandomSource source) { random_ = std::move(source); }
    // Told of every tempo stored here: typed, stepped, loaded or undone.
    void SetTempoObserver(std::function<void(double bpm)> observer) {
        tempoObserver_ = std::move(observer);
    }

    void LoadLoopIntoColumns(int n);
    void SelectLoop(int n);
    void SetTempo(double bpm);
    void SetMasterVolume(int v);
    void SetEValue(int v);
    void ShowValue(int n);

    // A widget's edits of the setup (the widgets that stand for a command are
    // CommandTable's): id pressed, changed, right-clicked.
    void OnWidgetPress(int id);
    void OnWidgetChange(int id);
    void OnWidgetRightClick(int id);
    void ApplyStepEdit(int k, int code);

    void TakeUndoSnapshot();
    void UndoEdit();
    void CopyMeasure();
    void PasteMeasure();
    void Randomize();
    void ShiftSteps(bool right);
    // The sound list's command: step k of the selected loop plays sound i; the setup is
    // modified when that is another sound. No undo point is taken.
    void ChooseSound(int k, int i);
    // The condition menu's command: step k of the selected loop plays under condition
    // `code` (a StepCondition code); an undo point is taken when it changes.
    void SetCondition(int k, int code);
    // The D and E dial submenus: what the dials play from now on (DDial, EDial values);
    // an undo point is taken when either changes.
    void SetDials(int dDial, int eDial);

    // File commands. Once a session manager has opened the setup (SetSessionFile with
    // its file), OpenPath, OpenSetup and SaveSetupAs only show the session note; Save
    // Setup saves to the session's file, which is the setup's file.
    void SetSessionFile(const std::string& path);
    bool ConfirmDiscard();
    void OpenPath(const std::string& path);
    void OpenSetup();
    void SaveSetup();
    void SaveSetupAs();
    void ImportSounds();

    SetupDocument& Document() { return *document_; }
    SoundFolder& Sounds() { return *sounds_; }
    bool IsInitialised() const { return initialised_; }

    // Column k whose id range holds id, or -1.
    static int ColumnOf(int id);

private:
    void AssignVoice(int loop, int step, int sound);
    void AssignAllVoices();
    void ShowGlobalValues();
    // Shows the session note and returns true when a session owns the setup's file.
    bool LeftToSession();
    // A new bpm is stored: a running step clock and the observer hear of it.
    void TempoStored();

    Prompts& prompts_;
    WidgetPanel* panel_ = nullptr;
    Setup* setup_ = nullptr;
    const QWidget* focusScope_ = nullptr;
    Sequencer* sequencer_ = nullptr;
    SoundEngine* soundEngine_ = nullptr;
    std::unique_ptr<SoundFolder> sounds_;
    std::unique_ptr<SetupDocument> document_;
    ModifierSource modifiers_;
    RandomSource random_;
    std::string sessionFile_;
    std::function<void(double bpm)> tempoObserver_;
    bool initialised_ = false;
};

} // namespace mb
