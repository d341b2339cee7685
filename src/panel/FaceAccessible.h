#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <QAccessible>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "widgets/Rect.h"

namespace mb {

class Setup;
class WidgetPanel;

// What a screen reader learns of the face. The face is drawn by windowless widgets on one
// QWidget, so the window's accessible interface lists one child per control instead of its
// child widgets: the three menu buttons, the dials M and E, play, the sound toggle and the
// tempo, the loop buttons, every shown step's toggle, pitch, sound, volume, pan and D, and
// the status line. The number fields that stay (pitch, sound, tempo) are those controls
// themselves; hidden fields and the focus sink are left out. A value set through the
// accessible interface is handed to the window's setter, which runs it as a command: the
// face never writes into the setup itself.
//
// Changes reach the screen reader as events: after every repaint of the window and every
// change of a field's text the controls are compared with what was sent last (only while
// an assistive tool listens). News (play, stop, loop changes, status messages) goes out
// as the status line, a notification shown anew. Window thread only.
class FaceAccessible {
public:
    // One control as a screen reader meets it.
    struct Control {
        int id = 0;
        QAccessible::Role role = QAccessible::NoRole;
        std::string name;
        // What the control shows, in words ("12", "on", "4: kick.wav").
        std::string value;
        // Read and set through the value interface, in the units the face shows.
        bool hasNumber = false;
        double number = 0.0;
        double minimum = 0.0;
        double maximum = 0.0;
        bool checkable = false;
        bool checked = false;
        Rect rect;
        // The number field that is this control, or nullptr for a windowless one.
        QWidget* field = nullptr;
        // The window whose pixels rect counts in, and whose child the control is: the
        // main window (nullptr) or the loop popup.
        QWidget* host = nullptr;
    };

    struct Hooks {
        // Sets control id to value (in the units of Control::number): runs it as a command.
        std::function<void(int id, double value)> setValue;
        // Presses a control that has no value (a menu button): runs it as a command.
        std::function<void(int id)> press;
    };

    // Serves window's accessible tree from now on; the panel comes with SetPanel.
    FaceAccessible(QWidget& window, const Setup& setup, Hooks hooks);
    ~FaceAccessible();
    FaceAccessible(const FaceAccessible&) = delete;
    FaceAccessible& operator=(const FaceAccessible&) = delete;

    // The face whose controls are listed (nullptr: none, before the panel is destroyed).
    void SetPanel(WidgetPanel* panel);
    // A widget of the window that assistive tools must not see (the focus sink).
    void HideWidget(QWidget* widget);

    // The keyboard focus mark moved to the widget of that id (0: the mark is gone): the
    // screen reader reads its control. A dial's part (arrow, field, slider) stands for the
    // dial; an id of no shown control clears the mark.
    void NotifyFocus(int widgetId);
    // The control a widget id belongs to, or 0.
    int ControlOfWidget(int widgetId) const;
    // Compares every control with what was sent last and sends the changes; the window
    // calls it through a zero timer after repaints.
    void Refresh();
    // A tool reads the face: what it reads now is what later changes are compared with.
    void Watch();
    // Says text to the screen reader: the status line shows it anew.
    void Announce(const std::string& text);

    // The window's name as read aloud: the program and its setup's file.
    std::string WindowName() const;
    // The chain settings of the loop popup, as controls of the popup while it is shown.
    static constexpr int kChainNextId = 20100;
    static constexpr int kChainRepeatsId = 20101;
    static constexpr int kChainSwingId = 20102;

    // The controls shown now, in reading order; empty without a panel.
    std::vector<Control> Controls() const;
    // The loop popup's controls while it is shown, and the popup (nullptr without a panel).
    std::vector<Control> PopupControls() const;
    QWidget* Popup() const;
    std::optional<Control> Find(int id) const;
    int FocusedControl() const { return focused_; }
    bool IsHidden(const QObject* widget) const;
    void SetValue(int id, double value) const;
    void Press(int id) const;

    // The face serving window, or nullptr.
    static FaceAccessible* Of(const QObject* window);
    // The id of the control a number field stands for (its dial's id), or 0.
    static int ControlOfField(const QObject* field);
    // The interface of control id; windowless ones are made once and kept.
    QAccessibleInterface* Interface(int id);

    // Puts control id's value into the panel's widget as a hand edit would leave it, and
    // returns the widget id whose change the window then runs (as a mouse edit), or 0 when
    // nothing changes. Play, the sound toggle and loop buttons take 1 for on or selected.
    static int ApplyValue(WidgetPanel& panel, int id, double value);

private:
    void ScheduleRefresh();
    // The status line's next news; it is sent with the next comparison.
    void News(std::string text);
    void ForgetInterfaces();

    QWidget& window_;
    const Setup& setup_;
    Hooks hooks_;
    WidgetPanel* panel_ = nullptr;
    std::vector<QPointer<QWidget>> hidden_;
    std::map<int, QAccessible::Id> made_;
    std::map<int, Control> sent_;
    // The latest news for the status line, and the status field's text at the last
    // comparison.
    std::string announced_;
    std::string statusShown_;
    bool newsPending_ = false;
    int focused_ = 0;
    QTimer refresh_;
    QObject* filter_ = nullptr;
};

} // namespace mb
