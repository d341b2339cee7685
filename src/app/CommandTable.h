#pragma once

#include <memory>

#include "panel/MenuCommandHandler.h"

class QMenu;

namespace mb {

class MainWindow;

// The program's menus and its command table. Each menu is built fresh from its table at
// every showing and prepared from the setup at that moment (enabled items, check marks,
// the sound list); every command runs here, from a menu or an accelerator alike, so an
// accelerator reaches its command even where the menu would show it disabled.
// Window thread only.
class CommandTable : public MenuCommandHandler {
public:
    static constexpr int kFileMenu = 161;
    static constexpr int kEditMenu = 162;
    static constexpr int kThirdMenu = 163;
    static constexpr int kSoundMenu = 164;

    static constexpr int kOpenSetup = 21001;
    static constexpr int kSaveSetup = 21002;
    static constexpr int kSaveSetupAs = 21003;
    static constexpr int kExit = 21004;
    static constexpr int kExportAudio = 21005;
    static constexpr int kImportSounds = 32771;
    static constexpr int kQuickFade = 32772;
    static constexpr int kChangeColor = 32775;
    static constexpr int kAbout = 32776;
    static constexpr int kHighResTimer = 32777;
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
    // Sound i of the sound list is command kFirstSound + i.
    static constexpr int kFirstSound = 500;
    static constexpr const char* kNoSounds = "*No Sounds Loaded*";

    explicit CommandTable(MainWindow& window);

    // MenuCommandHandler.
    void ShowMenu(int menuId, const QPoint& screenPos, QWidget& target) override;
    void OnCommand(int command) override;

    // Menu menuId, prepared from the setup as it would be shown now; each action's data
    // is its command id. Nothing for an unknown menu.
    std::unique_ptr<QMenu> BuildMenu(int menuId) const;

private:
    void PrepareSoundMenu(QMenu& menu) const;

    MainWindow& window_;
};

} // namespace mb
