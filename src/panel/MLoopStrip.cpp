#include "panel/MLoopStrip.h"

namespace mb {

namespace {

static constexpr const char* kCursorName = "GENCUR";
static constexpr int kBottomButtonY = 144;
static constexpr int kOwnSize = 10;

} // namespace

MLoopStrip::MLoopStrip() = default;

MLoopStrip::~MLoopStrip() = default;

void MLoopStrip::Create(int id,
                        const std::string& name,
                        int x,
                        int y,
                        WidgetOwner* owner,
                        int count,
                        bool sharedNames) {
    MWnd::Create(id, name, x, y, kOwnSize, kOwnSize, owner);
    Hide();
    sharedNames_ = sharedNames;
    ownRectHidden_ = true;
    count_ = count < 0 ? 0 : count;
    buttons_.clear();
    Rect all;
    for (int i = 0; i < count_; ++i) {
        const std::string stem = sharedNames_ ? name : name + std::to_string(i + 1);
        auto button = std::make_unique<MLoopButton>();
        button->Create(id + i + 1, "", x, kBottomButtonY - kButtonSpacing * i, owner, stem + "UP",
                       stem + "DN");
        button->SetCursorName(kCursorName);
        button->SetState(true);
        button->SetPlaying(false);
        all = all.United(button->GetRect());
        buttons_.push_back(std::move(button));
    }
    SetRect(all);
    Select(0);
    SetPlaying(kNoLoop);
    if (IsValid(0))
        buttons_[0]->SetState(false);
    Show();
}

void MLoopStrip::Show() {
    if (!ownRectHidden_)
        MWnd::Show();
    for (auto& button : buttons_)
        button->Show();
}

void MLoopStrip::Hide() {
    MWnd::Hide();
    for (auto& button : buttons_)
        button->Hide();
}

void MLoopStrip::Select(int index) {
    if (IsValid(selected_)) {
        buttons_[static_cast<size_t>(selected_)]->SetState(true);
        buttons_[static_cast<size_t>(selected_)]->Show();
    }
    if (IsValid(index)) {
        buttons_[static_cast<size_t>(index)]->SetState(false);
        buttons_[static_cast<size_t>(index)]->Show();
    }
    selected_ = index;
}

void MLoopStrip::SetPlaying(int index) {
    if (buttons_.empty())
        return;
    if (IsValid(playing_)) {
        buttons_[static_cast<size_t>(playing_)]->SetPlaying(false);
        buttons_[static_cast<size_t>(playing_)]->Show();
    }
    if (IsValid(index)) {
        buttons_[static_cast<size_t>(index)]->SetPlaying(true);
        buttons_[static_cast<size_t>(index)]->Show();
    }
    playing_ = index;
}

void MLoopStrip::OnChild(int id) {
    Select(id - GetId() - 1);
}

Rect MLoopStrip::ButtonRect(int index) const {
    if (!IsValid(index))
        return {};
    return buttons_[static_cast<size_t>(index)]->GetRect();
}

MLoopButton* MLoopStrip::Button(int index) {
    return IsValid(index) ? buttons_[static_cast<size_t>(index)].get() : nullptr;
}

void MLoopStrip::SetColors(Color ink,
                           Color paper,
                           Color pressedInk,
                           Color pressedPaper,
                           Color playUpInk,
                           Color playUpPaper,
                           Color playDownInk,
                           Color playDownPaper,
                           Color stripColour) {
    for (auto& button : buttons_)
        button->SetColors(ink, paper, pressedInk, pressedPaper, playUpInk, playUpPaper, playDownInk,
                          playDownPaper);
    MWnd::SetColors(stripColour, stripColour);
}

} // namespace mb
