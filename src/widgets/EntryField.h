#pragma once

#include <string>

#include "widgets/TextField.h"

namespace mb {

class FieldCompanion;

// A TextField that reports to its owner (OnWidgetEvent with its own id and the point
// (0, 0)) and to a companion. Clicks are reported before the edit acts on them. An
// immediate field commits every user edit at once, after the companion has seen the
// text; a deferred field commits a run of edits once, when it loses the focus, after the
// companion has reformatted it and after the focus-lost event 0. Window thread only.
class EntryField : public TextField {
public:
    EntryField();
    ~EntryField() override;

    void Create(int id,
                WidgetOwner* owner,
                Color ink,
                Color paper,
                int x,
                int y,
                int width,
                int height,
                const std::string& alignment,
                FieldCompanion* companion);
    void SetImmediate(bool flag) { immediate_ = flag; }
    bool IsImmediate() const { return immediate_; }
    bool IsPending() const { return pending_; }
    // While redraw is off the field is neither repainted nor shown or hidden by the
    // *IfRedraw operations.
    void SetRedraw(bool flag);
    void ShowIfRedraw();
    void HideIfRedraw();

    // What a user edit does: the companion hears the text and the owner a commit, or,
    // deferred, the commit waits for the focus to leave. Called for every user edit.
    void OnTextChanged();
    // Ends the user's edit by putting back the text the program showed before it began;
    // an immediate field commits that text again, as its edits were committed one by one.
    // Nothing when the user has not edited since the program last set the text.
    void CancelEdit();

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void Report(int event);

    FieldCompanion* companion_ = nullptr;
    bool immediate_ = true;
    bool pending_ = false;
    bool redraw_ = true;
    // The user has edited the text since the program last set it or the field last lost
    // the focus; shown_ is the text the program set before that edit.
    bool editing_ = false;
    std::string shown_;
};

} // namespace mb
