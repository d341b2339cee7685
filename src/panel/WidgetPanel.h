#pragma once

#include <array>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <QBrush>
#include <QFont>
#include <QPoint>

#include "engine/SequencerPorts.h"
#include "panel/LoopPopup.h"
#include "panel/MDial.h"
#include "panel/MLoopStrip.h"
#include "panel/MStepColumn.h"
#include "panel/MTempoField.h"
#include "panel/MenuBar.h"
#include "widgets/ColorScheme.h"
#include "widgets/MImage.h"
#include "widgets/MToggleButton.h"
#include "widgets/MWnd.h"
#include "widgets/TextField.h"

class QPainter;

namespace mb {

class OwnerWindow;
class Setup;

// The whole face of the main window: the control area's picture, the play and sound
// buttons, the tempo field, the master dials M and E, the menu bar, the loop strip,
// sixteen step columns, the (unseen) status field, the loop popup and seven colour
// swatches. Every widget's owner is the main window; the panel only builds, lays out and
// recolours them. It must be destroyed before the owner's window (its fields and the
// popup are child windows of it). Window thread only.
// The keyboard mark: two one-pixel rings around `around`, the darkest of `colours` outside
// and the lightest inside, so that one of them stands out on whatever lies there.
void PaintKeyboardMark(QPainter& painter, const Rect& around, std::span<const Color> colours);

class WidgetPanel : public PlaybackFace {
public:
    static constexpr int kBackgroundId = 0;
    static constexpr int kPlayButtonId = 1000;
    static constexpr int kMuteButtonId = 1001;
    static constexpr int kTempoFieldId = 1005;
    static constexpr int kMasterDialMId = 1050;
    static constexpr int kMasterDialEId = 1060;
    static constexpr int kLoopStripId = 20000;
    static constexpr int kStatusFieldId = 3;
    static constexpr int kFirstColumnId = 10000;
    static constexpr int kColumnIdStep = 100;
    static constexpr int kColumnCount = 16;
    static constexpr int kLoopButtonCount = 8;
    static constexpr int kSwatchCount = 7;
    // The row: control area and loop strip left of kColumnsLeft, then one column every
    // kColumnPitch pixels.
    static constexpr int kColumnsLeft = 94;
    static constexpr int kColumnPitch = 38;
    static constexpr int kColumnTop = 2;
    static constexpr int kHeight = 166;
    // Client width for n columns: kColumnPitch * n + kWidthBeyondColumns.
    static constexpr int kWidthBeyondColumns = 99;
    // The keyboard mark is on no control.
    static constexpr int kNoMark = 0;
    // How the keyboard mark moves: through every control in order (Tab, Shift+Tab), or to
    // the same control of the step beside (Left, Right; elsewhere as Shift+Tab and Tab).
    enum MarkMove { kMarkNext, kMarkPrevious, kMarkLeft, kMarkRight };
    static constexpr const char* kTextFace = "Arial";
    static constexpr int kTextSize = 70; // tenths of a point

    // Builds every widget on owner, in stacking order; the setup receives stepCount and
    // is the one the loop popup edits. Both must outlive the panel.
    WidgetPanel(OwnerWindow& owner, Setup& setup);
    ~WidgetPanel() override;
    WidgetPanel(const WidgetPanel&) = delete;
    WidgetPanel& operator=(const WidgetPanel&) = delete;

    // Derives the scheme from base and recolours every widget.
    void ApplyColor(Color base);
    // Shows the columns the owner's client width holds ((width - 94) / 38), hides the
    // others and stores their number as the setup's stepCount. A width that holds none or
    // more than sixteen changes nothing.
    void FitColumnsToWidth();
    // Resizes the owner's window to hold n columns (1 to 16; others are taken as the
    // nearer end), then fits the columns.
    void ResizeToColumns(int n);
    // Readable text: every text in black or white where its colours give less than
    // ColorScheme::kReadableContrast; off, the scheme's colours as they are.
    void SetHighContrast(bool on);
    bool IsHighContrast() const { return highContrast_; }

    // The keyboard mark: the control the keys act on, by the id of its widget (a step's
    // toggle or dial, a loop button, play, sound, the tempo, M, E, a menu button), or
    // kNoMark. It is drawn as a ring in the scheme's darkest and lightest colours around
    // the control; without it the face is drawn as before.
    int Mark() const { return mark_; }
    // Marks control id (kNoMark: none), repaints both places and tells onFocusMoved.
    void SetMark(int id);
    // From no mark, the next move marks the first control (the previous one the last).
    void MoveMark(MarkMove how);
    // Every control the mark can reach, left to right; a step's from top to bottom; only
    // the steps shown.
    std::vector<int> MarkOrder();
    // The part of the window control id covers (window pixels); empty for no control.
    Rect MarkRect(int id);
    void PaintMark(QPainter& painter);
    // Below the marked control's left edge, in screen pixels: where its own menu opens.
    QPoint MarkMenuPoint();
    // The dial of control id (a step's dial, the tempo, M or E), or nullptr.
    MDial* DialOf(int id);
    // Told the control id whenever the mark moves (kNoMark when it goes away).
    std::function<void(int controlId)> onFocusMoved;

    // What the control or label at (x, y) (window pixels) is and which keys it takes;
    // empty where there is none. The number fields carry the same as their own tooltips.
    std::string ToolTipAt(int x, int y);
    static std::string ToolTipOf(int id);
    // The step (0 to 15) whose control id is, or -1.
    static int StepOf(int id);

    // Shows the loop popup beside loop button index.
    void ShowLoopPopup(int index);
    void ShowStatusText(const std::string& text);

    // PlaybackFace: what the step clock changes on the face.
    void SetPlayButton(bool state) override;
    bool IsSoundOn() const override;
    void SetStepLit(int column, bool lit) override;
    void SetPlayingLoop(int loop) override;

    MToggleButton& PlayButton() { return playButton_; }
    MToggleButton& MuteButton() { return muteButton_; }
    MTempoField& TempoField() { return tempoField_; }
    MDial& MasterDialM() { return masterDialM_; }
    MDial& MasterDialE() { return masterDialE_; }
    MenuBar& GetMenuBar() { return *menuBar_; }
    MLoopStrip& LoopStrip() { return loopStrip_; }
    // Column k, 0 to 15.
    MStepColumn& Column(int k) { return *columns_.at(static_cast<size_t>(k)); }
    const ColorScheme& Scheme() const { return scheme_; }
    const QFont& TextFont() const { return textFont_; }
    LoopPopup& GetLoopPopup() { return loopPopup_; }
    MImage& Background() { return background_; }
    TextField& StatusField() { return statusField_; }
    MWnd& Swatch(int i) { return swatches_.at(static_cast<size_t>(i - 1)); }
    bool IsReady() const { return ready_; }

private:
    OwnerWindow& owner_;
    Setup& setup_;
    MImage background_;
    MToggleButton playButton_;
    MToggleButton muteButton_;
    MTempoField tempoField_;
    MDial masterDialM_;
    MDial masterDialE_;
    std::unique_ptr<MenuBar> menuBar_;
    MLoopStrip loopStrip_;
    std::array<std::unique_ptr<MStepColumn>, kColumnCount> columns_;
    ColorScheme scheme_;
    TextField statusField_;
    QFont textFont_;
    QBrush textBrush_;
    bool ready_ = false;
    Color base_ = 0;
    bool highContrast_ = false;
    int mark_ = kNoMark;
    LoopPopup loopPopup_;
    std::array<MWnd, kSwatchCount> swatches_;
};

} // namespace mb
