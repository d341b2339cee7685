#pragma once

#include <memory>
#include <string>
#include <vector>

#include "panel/MLoopButton.h"
#include "widgets/MWnd.h"

namespace mb {

// A column of loop buttons, loop 1 at the bottom, 20 pixels apart. The selected loop's
// button rests up (state false), every other one down; the playing loop's button wears
// the playing colours. The strip itself is passive and never shows its own rect; its
// buttons report ids strip id + 1 + index. Window thread only.
class MLoopStrip : public MWnd {
public:
    static constexpr int kButtonSpacing = 20;
    static constexpr int kNoLoop = -1;

    MLoopStrip();
    ~MLoopStrip() override;
    void Show() override;
    void Hide() override;

    using MWnd::Create;
    // Buttons at (x, 144 - 20 i) with the bitmaps name + (i + 1) + "UP" / "DN", or name +
    // "UP" / "DN" for all when sharedNames; loop 1 selected, none playing.
    void Create(int id,
                const std::string& name,
                int x,
                int y,
                WidgetOwner* owner,
                int count,
                bool sharedNames);

    // An index outside 0 to count - 1 touches no button but is stored.
    void Select(int index);
    void SetPlaying(int index);
    void OnChild(int id);
    int GetSelected() const { return selected_; }
    int GetPlaying() const { return playing_; }
    int GetCount() const { return count_; }
    // A copy of button index's rect; an empty rect for an invalid index.
    Rect ButtonRect(int index) const;
    MLoopButton* Button(int index);
    using MWnd::SetColors;
    void SetColors(Color ink,
                   Color paper,
                   Color pressedInk,
                   Color pressedPaper,
                   Color playUpInk,
                   Color playUpPaper,
                   Color playDownInk,
                   Color playDownPaper,
                   Color stripColour);

private:
    bool IsValid(int index) const { return index >= 0 && index < count_; }

    std::vector<std::unique_ptr<MLoopButton>> buttons_;
    int count_ = 0;
    int selected_ = 0;
    int playing_ = kNoLoop;
    bool ownRectHidden_ = false;
    bool sharedNames_ = false;
};

} // namespace mb
