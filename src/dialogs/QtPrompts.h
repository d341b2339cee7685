#pragma once

#include <memory>

#include <QString>

#include "dialogs/Prompts.h"

class QMessageBox;
class QWidget;

namespace mb {

// The prompts as desktop dialogs. Messages of the program's own have no owner window;
// the file dialogs, the save-changes and OK/Cancel dialogs and the colour picker are owned
// by the main window. Window thread only.
class QtPrompts : public Prompts {
public:
    static constexpr const char* kNoteCaption = Prompts::kTitle;
    static constexpr const char* kImportTitle = "Import Sounds";
    static constexpr const char* kWaveFilter = "Wave files (*.wav)";
    static constexpr const char* kExportMidiTitle = "Export MIDI";
    static constexpr const char* kMidiFilter = "MIDI files (*.mid)";
    static constexpr const char* kMidiExtension = "mid";

    explicit QtPrompts(QWidget* owner = nullptr);
    ~QtPrompts() override;
    void SetOwner(QWidget* owner) { owner_ = owner; }

    void ShowNote(const std::string& text) override;
    void ShowNotice(const std::string& text) override;
    int SaveChanges(const std::string& message) override;
    bool OkCancel(const std::string& message) override;
    std::optional<std::string> OpenSetupPath() override;
    std::optional<std::string> SaveSetupPath(const std::string& proposed) override;
    std::optional<std::string> ImportSoundFile() override;
    std::optional<uint32_t> PickColor(uint32_t current) override;
    std::optional<OutputChoice> ChooseSoundOutput(const OutputChoice& current,
                                                  const OutputStatus& status) override;
    std::optional<ExportChoice> ExportAudioChoice(const ExportChoice& proposed) override;
    std::optional<std::string> ExportMidiPath(const std::string& proposed) override;
    // A progress dialog owned by the main window but not modal: the window goes on.
    std::unique_ptr<ProgressPrompt> ShowProgress(const std::string& text) override;
    std::optional<MidiChoice> ChooseMidi(const MidiChoice& current,
                                         const std::vector<MidiPortId>& outputs,
                                         const std::vector<MidiPortId>& inputs) override;

    // The setup files' filter ("text|pattern|..." pairs) in the file dialogs' form.
    static QString FileDialogFilter();

private:
    QWidget* owner_;
    // The notice on show, if any.
    std::unique_ptr<QMessageBox> notice_;
};

} // namespace mb
