#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/OutputChoice.h"
#include "files/DocumentQuestions.h"
#include "midi/MidiChoice.h"

namespace mb {

// What the export dialog asks for.
struct ExportChoice {
    // The WAV file to write.
    std::string path;
    // Rounds of the loop chain's cycle.
    int passes = 1;
    // 32-bit float samples instead of 16-bit.
    bool floatOutput = false;
    // What rings past the end sounds at the start, so that the file loops seamlessly.
    bool loopable = false;
};

// A progress display with a Cancel button, up while work goes on elsewhere: the window
// keeps running under it. It closes when the object goes. Window thread only.
class ProgressPrompt {
public:
    static constexpr int kFull = 1000;

    virtual ~ProgressPrompt() = default;
    // Progress from 0 to kFull.
    virtual void SetProgress(int value) = 0;
    // The user pressed Cancel.
    virtual bool Cancelled() const = 0;
};

// Every message box and dialog the window shows goes through this interface: the window
// implements it with Qt dialogs, tests with ScriptedPrompts. The messages (Notifier) are
// what the engine reports too; the command-line tool has those alone; the questions of
// opening and saving (DocumentQuestions) are what the setup document asks. All calls run
// on the window thread and, but for ShowNotice and ShowProgress, return only when the
// user has answered. The window passes them through a PromptGate, which answers at once,
// without asking, while it serves a session manager's request.
class Prompts : public DocumentQuestions {
public:
    // The title of every message and question the program asks on its own behalf; those
    // asked from inside a dialog bear that dialog's title.
    static constexpr const char* kTitle = "Marrowbeat";

    // The colour picker, opened on `current` (0x00BBGGRR); nothing when cancelled.
    virtual std::optional<uint32_t> PickColor(uint32_t current) = 0;
    // The "Sound Output" dialog, opened on the present choice and what the output does
    // now; the choice to play through from now on, nothing when cancelled.
    virtual std::optional<OutputChoice> ChooseSoundOutput(const OutputChoice& current,
                                                          const OutputStatus& status) = 0;
    // The export dialog, opened on `proposed`; nothing when cancelled. It has already
    // asked before an existing file is overwritten.
    virtual std::optional<ExportChoice> ExportAudioChoice(const ExportChoice& proposed) = 0;
    // The save dialog for a MIDI file, proposing `proposed`; nothing when cancelled. It
    // has already asked before an existing file is overwritten.
    virtual std::optional<std::string> ExportMidiPath(const std::string& proposed) = 0;
    // Opens a progress display showing `text` and returns at once (unlike every other
    // prompt); nothing where there is no display.
    virtual std::unique_ptr<ProgressPrompt> ShowProgress(const std::string& text) = 0;
    // The "MIDI Output" dialog, opened on the present choice, offering the ports there
    // are now (`outputs` take MIDI in, `inputs` give it out); the choice from now on,
    // nothing when cancelled.
    virtual std::optional<MidiChoice> ChooseMidi(const MidiChoice& current,
                                                 const std::vector<MidiPortId>& outputs,
                                                 const std::vector<MidiPortId>& inputs) = 0;
};

} // namespace mb
