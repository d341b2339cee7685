#include "panel/FaceAccessible.h"

#include <algorithm>
#include <cmath>

#include <QAccessibleWidget>
#include <QEvent>
#include <QLineEdit>

#include "model/Groove.h"
#include "model/Setup.h"
#include "model/StepParam.h"
#include "panel/WidgetPanel.h"
#include "widgets/EntryField.h"
#include "widgets/WidgetEvent.h"

namespace mb {

namespace {

std::map<const QObject*, FaceAccessible*>& Faces() {
    static std::map<const QObject*, FaceAccessible*> faces;
    return faces;
}

std::string StepName(int k) {
    return "Step " + std::to_string(k + 1);
}

bool IsColumnControl(int id) {
    return id >= WidgetPanel::kFirstColumnId &&
           id <
               WidgetPanel::kFirstColumnId + WidgetPanel::kColumnCount * WidgetPanel::kColumnIdStep;
}

// One windowless control of the face, or one of its number fields: everything is read
// from the face at the moment it is asked, by the control's id.
class ControlInterface : public QAccessibleInterface,
                         public QAccessibleValueInterface,
                         public QAccessibleActionInterface,
                         public QAccessibleTextInterface {
public:
    ControlInterface(QWidget* window, int id, QWidget* field)
        : window_(window), id_(id), field_(field), isField_(field != nullptr) {}

    bool isValid() const override { return window_ && (!isField_ || field_); }
    QObject* object() const override { return field_; }
    QWindow* window() const override { return window_ ? window_->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        const std::optional<FaceAccessible::Control> c = Now();
        QWidget* host = c && c->host != nullptr ? c->host : window_.data();
        return host != nullptr ? QAccessible::queryAccessibleInterface(host) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        const std::optional<FaceAccessible::Control> c = Now();
        if (!c)
            return {};
        switch (t) {
        case QAccessible::Name:
            return QString::fromStdString(c->name);
        case QAccessible::Value:
            return QString::fromStdString(c->value);
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        const std::optional<FaceAccessible::Control> c = Now();
        if (!c || !window_)
            return {};
        const QRect local = c->field != nullptr ? c->field->geometry() : c->rect.ToQRect();
        const QWidget* host = c->host != nullptr ? c->host : window_.data();
        return QRect(host->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override {
        const std::optional<FaceAccessible::Control> c = Now();
        return c ? c->role : QAccessible::NoRole;
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        const std::optional<FaceAccessible::Control> c = Now();
        if (!c) {
            s.invisible = true;
            return s;
        }
        s.focusable = c->role != QAccessible::Notification;
        s.focused =
            Face()->FocusedControl() == c->id || (c->field != nullptr && c->field->hasFocus());
        s.checkable = c->checkable;
        s.checked = c->checked;
        s.readOnly = c->role == QAccessible::Notification;
        s.hasPopup = c->role == QAccessible::ButtonMenu;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        const std::optional<FaceAccessible::Control> c = Now();
        if (!c)
            return nullptr;
        if (type == QAccessible::ValueInterface && c->hasNumber)
            return static_cast<QAccessibleValueInterface*>(this);
        if (type == QAccessible::ActionInterface && !actionNames().isEmpty())
            return static_cast<QAccessibleActionInterface*>(this);
        if (type == QAccessible::TextInterface && Edit() != nullptr)
            return static_cast<QAccessibleTextInterface*>(this);
        return nullptr;
    }

    // QAccessibleTextInterface: a number field's text, as typed.
    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (const QLineEdit* e = Edit(); e != nullptr && index == 0 && e->hasSelectedText()) {
            *start = e->selectionStart();
            *end = e->selectionEnd();
        }
    }
    int selectionCount() const override {
        const QLineEdit* e = Edit();
        return e != nullptr && e->hasSelectedText() ? 1 : 0;
    }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override {
        if (QLineEdit* e = Edit())
            e->deselect();
    }
    void setSelection(int, int start, int end) override {
        if (QLineEdit* e = Edit())
            e->setSelection(start, end - start);
    }
    int cursorPosition() const override {
        const QLineEdit* e = Edit();
        return e != nullptr ? e->cursorPosition() : 0;
    }
    void setCursorPosition(int position) override {
        if (QLineEdit* e = Edit())
            e->setCursorPosition(position);
    }
    QString text(int start, int end) const override {
        const QLineEdit* e = Edit();
        return e != nullptr ? e->text().mid(start, end - start) : QString();
    }
    int characterCount() const override {
        const QLineEdit* e = Edit();
        return e != nullptr ? static_cast<int>(e->text().size()) : 0;
    }
    QRect characterRect(int) const override { return rect(); }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return {};
    }

    // QAccessibleValueInterface, in the units the face shows.
    QVariant currentValue() const override {
        const std::optional<FaceAccessible::Control> c = Now();
        return c ? QVariant(c->number) : QVariant();
    }
    void setCurrentValue(const QVariant& value) override {
        if (const std::optional<FaceAccessible::Control> c = Now(); c && c->hasNumber)
            Face()->SetValue(c->id, std::clamp(value.toDouble(), c->minimum, c->maximum));
    }
    QVariant maximumValue() const override {
        const std::optional<FaceAccessible::Control> c = Now();
        return c ? QVariant(c->maximum) : QVariant();
    }
    QVariant minimumValue() const override {
        const std::optional<FaceAccessible::Control> c = Now();
        return c ? QVariant(c->minimum) : QVariant();
    }
    QVariant minimumStepSize() const override { return 1.0; }

    // QAccessibleActionInterface: toggles and buttons press, menus open, numbers step.
    QStringList actionNames() const override {
        const std::optional<FaceAccessible::Control> c = Now();
        if (!c)
            return {};
        if (c->role == QAccessible::ButtonMenu)
            return {showMenuAction()};
        if (c->role == QAccessible::RadioButton)
            return {pressAction(), showMenuAction()};
        if (c->checkable)
            return {toggleAction()};
        if (c->hasNumber)
            return {increaseAction(), decreaseAction()};
        return {};
    }
    void doAction(const QString& action) override {
        const std::optional<FaceAccessible::Control> c = Now();
        if (!c)
            return;
        FaceAccessible* face = Face();
        if (action == showMenuAction() || action == pressAction()) {
            // A loop's menu is its chain settings.
            if (c->role == QAccessible::ButtonMenu || action == showMenuAction())
                face->Press(c->id);
            else if (c->checkable)
                face->SetValue(c->id, 1.0);
        } else if (action == toggleAction()) {
            face->SetValue(c->id, c->checked ? 0.0 : 1.0);
        } else if (action == increaseAction() || action == decreaseAction()) {
            const double step = action == increaseAction() ? 1.0 : -1.0;
            face->SetValue(c->id, std::clamp(c->number + step, c->minimum, c->maximum));
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    int Id() const { return isField_ ? FaceAccessible::ControlOfField(field_) : id_; }

private:
    FaceAccessible* Face() const { return FaceAccessible::Of(window_); }
    QLineEdit* Edit() const { return qobject_cast<QLineEdit*>(field_.data()); }

    // The control as the face has it now; nothing when it is not shown, or when this is
    // a field its dial does not show.
    std::optional<FaceAccessible::Control> Now() const {
        FaceAccessible* face = isValid() ? Face() : nullptr;
        if (face == nullptr)
            return std::nullopt;
        std::optional<FaceAccessible::Control> c = face->Find(Id());
        if (c && c->field != field_)
            return std::nullopt;
        return c;
    }

    QPointer<QWidget> window_;
    int id_;
    QPointer<QWidget> field_;
    bool isField_;
};

// The window: its children are the face's controls, and it is a window, not a dialog.
class WindowInterface : public QAccessibleWidget {
public:
    explicit WindowInterface(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) {}

    // The caption's picture of symbols reads badly aloud: the program and its file instead.
    QString text(QAccessible::Text t) const override {
        const FaceAccessible* face = FaceAccessible::Of(object());
        if (t != QAccessible::Name || face == nullptr)
            return QAccessibleWidget::text(t);
        return QString::fromStdString(face->WindowName());
    }

    int childCount() const override {
        FaceAccessible* face = FaceAccessible::Of(object());
        if (face == nullptr)
            return 0;
        face->Watch();
        return static_cast<int>(face->Controls().size());
    }
    QAccessibleInterface* child(int index) const override {
        FaceAccessible* face = FaceAccessible::Of(object());
        if (face == nullptr || index < 0)
            return nullptr;
        const std::vector<FaceAccessible::Control> controls = face->Controls();
        if (index >= static_cast<int>(controls.size()))
            return nullptr;
        return face->Interface(controls[static_cast<size_t>(index)].id);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const FaceAccessible* face = FaceAccessible::Of(object());
        const auto* control = dynamic_cast<const ControlInterface*>(child);
        if (face == nullptr || control == nullptr)
            return -1;
        const std::vector<FaceAccessible::Control> controls = face->Controls();
        for (size_t i = 0; i < controls.size(); ++i)
            if (controls[i].id == control->Id())
                return static_cast<int>(i);
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (int i = 0, n = childCount(); i < n; ++i) {
            QAccessibleInterface* c = child(i);
            if (c != nullptr && c->rect().contains(x, y))
                return c;
        }
        return nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        FaceAccessible* face = FaceAccessible::Of(object());
        if (face != nullptr && face->FocusedControl() != 0)
            return face->Interface(face->FocusedControl());
        return QAccessibleWidget::focusChild();
    }
};

// The loop popup: its chain settings.
class PopupInterface : public QAccessibleWidget {
public:
    explicit PopupInterface(QWidget* popup) : QAccessibleWidget(popup, QAccessible::Dialog) {}

    QString text(QAccessible::Text t) const override {
        const auto* popup = static_cast<const LoopPopup*>(object());
        if (t != QAccessible::Name)
            return QAccessibleWidget::text(t);
        return QStringLiteral("Loop %1 chain settings").arg(popup->GetLoop() + 1);
    }
    int childCount() const override {
        const FaceAccessible* face = Face();
        return face != nullptr ? static_cast<int>(face->PopupControls().size()) : 0;
    }
    QAccessibleInterface* child(int index) const override {
        FaceAccessible* face = Face();
        if (face == nullptr || index < 0 || index >= childCount())
            return nullptr;
        return face->Interface(face->PopupControls()[static_cast<size_t>(index)].id);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* control = dynamic_cast<const ControlInterface*>(child);
        const FaceAccessible* face = Face();
        if (face == nullptr || control == nullptr)
            return -1;
        const std::vector<FaceAccessible::Control> controls = face->PopupControls();
        for (size_t i = 0; i < controls.size(); ++i)
            if (controls[i].id == control->Id())
                return static_cast<int>(i);
        return -1;
    }

private:
    FaceAccessible* Face() const {
        return FaceAccessible::Of(static_cast<const QWidget*>(object())->parentWidget());
    }
};

// A widget that only serves the window's keys (the focus sink) or the layout: not shown to
// assistive tools.
class HiddenInterface : public QAccessibleWidget {
public:
    explicit HiddenInterface(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Client) {}
    QString text(QAccessible::Text) const override { return {}; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.invisible = true;
        return s;
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
};

QAccessibleInterface* Factory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr)
        return nullptr;
    if (FaceAccessible::Of(widget) != nullptr)
        return new WindowInterface(widget);
    if (auto* popup = dynamic_cast<LoopPopup*>(widget);
        popup != nullptr && FaceAccessible::Of(popup->parentWidget()) != nullptr)
        return new PopupInterface(popup);
    if (widget->isWindow())
        return nullptr;
    const FaceAccessible* face = FaceAccessible::Of(widget->window());
    if (face == nullptr)
        return nullptr;
    if (face->IsHidden(widget))
        return new HiddenInterface(widget);
    if (dynamic_cast<TextField*>(widget) != nullptr)
        return new ControlInterface(widget->window(), 0, widget);
    return nullptr;
}

// Wakes the face's comparison after every repaint of the window or the loop popup.
class RepaintWatch : public QObject {
public:
    RepaintWatch(QObject* parent, std::function<void()> changed)
        : QObject(parent), changed_(std::move(changed)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint || event->type() == QEvent::Hide)
            changed_();
        return false;
    }

private:
    std::function<void()> changed_;
};

FaceAccessible::Control
MakeControl(int id, QAccessible::Role role, std::string name, std::string value) {
    FaceAccessible::Control c;
    c.id = id;
    c.role = role;
    c.name = std::move(name);
    c.value = std::move(value);
    return c;
}

bool IsNumber(const std::string& text) {
    const size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    return text.size() > start && text.find_first_not_of("0123456789", start) == std::string::npos;
}

// A dial's value in words.
std::string DialText(MDial& dial) {
    return std::to_string(dial.GetValue());
}

} // namespace

FaceAccessible::FaceAccessible(QWidget& window, const Setup& setup, Hooks hooks)
    : window_(window), setup_(setup), hooks_(std::move(hooks)) {
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
    Faces()[&window_] = this;
    refresh_.setSingleShot(true);
    refresh_.setInterval(0);
    QObject::connect(&refresh_, &QTimer::timeout, &refresh_, [this] { Refresh(); });
    filter_ = new RepaintWatch(&refresh_, [this] { ScheduleRefresh(); });
    window_.installEventFilter(filter_);
}

FaceAccessible::~FaceAccessible() {
    ForgetInterfaces();
    Faces().erase(&window_);
}

void FaceAccessible::ForgetInterfaces() {
    for (const auto& [id, made] : made_)
        if (QAccessible::accessibleInterface(made) != nullptr)
            QAccessible::deleteAccessibleInterface(made);
    made_.clear();
    sent_.clear();
}

void FaceAccessible::SetPanel(WidgetPanel* panel) {
    if (panel == nullptr)
        ForgetInterfaces();
    panel_ = panel;
    if (panel_ == nullptr)
        return;
    // Every shown number field wakes the comparison when its text changes, and carries its
    // control's name for tools that read the widgets themselves.
    const auto watch = [this](TextField& field, const std::string& name) {
        field.setAccessibleName(QString::fromStdString(name));
        QObject::connect(&field, &QLineEdit::textChanged, &refresh_, [this] { ScheduleRefresh(); });
    };
    for (int k = 0; k < WidgetPanel::kColumnCount; ++k) {
        watch(panel_->Column(k).Dial(kParamPitch)->Field(), StepName(k) + " pitch");
        watch(panel_->Column(k).Dial(kParamSound)->Field(), StepName(k) + " sound");
    }
    watch(panel_->TempoField().Field(), "Tempo");
    watch(panel_->StatusField(), "Status");
    panel_->GetLoopPopup().installEventFilter(filter_);
    HideWidget(&panel_->GetMenuBar());
}

void FaceAccessible::HideWidget(QWidget* widget) {
    hidden_.emplace_back(widget);
}

bool FaceAccessible::IsHidden(const QObject* widget) const {
    return std::any_of(hidden_.begin(), hidden_.end(),
                       [widget](const QPointer<QWidget>& w) { return w == widget; });
}

FaceAccessible* FaceAccessible::Of(const QObject* window) {
    const auto it = Faces().find(window);
    return it != Faces().end() ? it->second : nullptr;
}

int FaceAccessible::ControlOfField(const QObject* field) {
    if (const auto* entry = dynamic_cast<const EntryField*>(field))
        return entry->GetId() - MDial::kFieldPart;
    if (const auto* text = dynamic_cast<const TextField*>(field))
        return text->GetId();
    return 0;
}

void FaceAccessible::SetValue(int id, double value) const {
    if (hooks_.setValue)
        hooks_.setValue(id, value);
}

void FaceAccessible::Press(int id) const {
    // A menu runs its own event loop: it opens once the tool's call has been answered.
    if (hooks_.press)
        QTimer::singleShot(0, &window_, [press = hooks_.press, id] { press(id); });
}

std::vector<FaceAccessible::Control> FaceAccessible::Controls() const {
    std::vector<Control> out;
    if (panel_ == nullptr || !panel_->IsReady())
        return out;
    WidgetPanel& p = *panel_;
    const auto add = [&out](Control c) { out.push_back(std::move(c)); };
    const auto number = [](Control c, double v, double minimum, double maximum) {
        c.hasNumber = true;
        c.number = v;
        c.minimum = minimum;
        c.maximum = maximum;
        return c;
    };
    const auto dial = [&number](int id, QAccessible::Role role, std::string name, MDial& d,
                                std::string value) {
        Control c = MakeControl(id, role, std::move(name), std::move(value));
        c.rect = d.GetRect();
        return number(c, d.GetValue(), d.GetMinimum(), d.GetMaximum());
    };
    const auto toggle = [&number](int id, QAccessible::Role role, std::string name,
                                  MToggleButton& b, bool on, std::string value) {
        Control c = MakeControl(id, role, std::move(name), std::move(value));
        c.rect = b.GetRect();
        c.checkable = true;
        c.checked = on;
        return number(c, on ? 1 : 0, 0, 1);
    };

    MenuBar& menus = p.GetMenuBar();
    const std::pair<MBmpButton*, const char*> menuButtons[] = {
        {&menus.FileButton(), "File menu"},
        {&menus.EditButton(), "Edit menu"},
        {&menus.ThirdButton(), "Options menu"}};
    for (const auto& [button, name] : menuButtons) {
        Control c = MakeControl(button->GetId(), QAccessible::ButtonMenu, name, "");
        c.rect = button->GetRect();
        add(c);
    }
    add(dial(WidgetPanel::kMasterDialMId, QAccessible::Slider, "Master volume", p.MasterDialM(),
             DialText(p.MasterDialM())));
    add(dial(WidgetPanel::kMasterDialEId, QAccessible::Slider,
             std::string("Dial E, ") +
                 EDialText(static_cast<EDial>(static_cast<int>(setup_.eDial))),
             p.MasterDialE(), DialText(p.MasterDialE())));
    const bool playing = p.PlayButton().GetState();
    add(toggle(WidgetPanel::kPlayButtonId, QAccessible::Button,
               playing ? "Play, playing" : "Play, stopped", p.PlayButton(), playing,
               playing ? "playing" : "stopped"));
    const bool soundOn = p.MuteButton().GetState();
    add(toggle(WidgetPanel::kMuteButtonId, QAccessible::Button,
               soundOn ? "Sound, on" : "Sound, off", p.MuteButton(), soundOn,
               soundOn ? "on" : "off"));

    MTempoField& tempo = p.TempoField();
    const bool samples = tempo.GetUnit() == kTempoUnitSamples;
    Control t = MakeControl(WidgetPanel::kTempoFieldId, QAccessible::SpinBox,
                            samples ? "Tempo, samples per measure" : "Tempo, beats per minute",
                            tempo.Field().text().toStdString());
    t.field = &tempo.Field();
    if (samples)
        add(number(t, MTempoField::kConversion / tempo.GetTempo(),
                   MTempoField::kConversion / MTempoField::kMaximum,
                   MTempoField::kConversion / MTempoField::kMinimum));
    else
        add(number(t, tempo.GetTempo(), MTempoField::kMinimum, MTempoField::kMaximum));

    MLoopStrip& strip = p.LoopStrip();
    for (int i = 0; i < strip.GetCount(); ++i) {
        const Loop& loop = setup_.loop(i);
        const int repeats = std::max<int>(1, loop.repeatCount);
        const bool selected = strip.GetSelected() == i;
        std::string name = "Loop " + std::to_string(i + 1);
        if (selected)
            name += ", selected";
        if (strip.GetPlaying() == i)
            name += ", playing";
        name += ", next loop " + std::to_string(loop.nextLoop + 1) + ", " +
                std::to_string(repeats) + (repeats == 1 ? " repeat" : " repeats");
        add(toggle(WidgetPanel::kLoopStripId + 1 + i, QAccessible::RadioButton, name,
                   *strip.Button(i), selected, selected ? "selected" : "not selected"));
    }

    const std::string dFunction = DDialText(static_cast<DDial>(static_cast<int>(setup_.dDial)));
    for (int k = 0; k < WidgetPanel::kColumnCount; ++k) {
        MStepColumn& column = p.Column(k);
        if (!column.IsVisible())
            continue;
        const int id = WidgetPanel::kFirstColumnId + WidgetPanel::kColumnIdStep * k;
        const std::string step = StepName(k);
        const bool on = column.Toggle().GetState();
        add(toggle(id + kParamOn, QAccessible::CheckBox, step + (on ? ", on" : ", off"),
                   column.Toggle(), on, on ? "on" : "off"));

        MDial& pitch = *column.Dial(kParamPitch);
        Control c = dial(id + kParamPitch, QAccessible::SpinBox, step + " pitch", pitch,
                         pitch.Field().text().toStdString());
        c.field = &pitch.Field();
        add(c);

        // The sound as the field numbers it (from 1), with its name.
        MDial& sound = *column.Dial(kParamSound);
        const int index = sound.GetValue();
        std::string soundName = step + " sound";
        std::string soundText = sound.Field().text().toStdString();
        if (index >= 0 && index < static_cast<int>(setup_.soundNames.size())) {
            soundName += ", " + setup_.soundNames[static_cast<size_t>(index)];
            soundText += ": " + setup_.soundNames[static_cast<size_t>(index)];
        }
        c = dial(id + kParamSound, QAccessible::SpinBox, soundName, sound, soundText);
        c = number(c, index + 1, sound.GetMinimum() + 1, sound.GetMaximum() + 1);
        c.field = &sound.Field();
        add(c);

        MDial& volume = *column.Dial(kParamVolume);
        add(dial(id + kParamVolume, QAccessible::Slider, step + " volume", volume,
                 DialText(volume)));
        MDial& pan = *column.Dial(kParamPan);
        const int panValue = pan.GetValue();
        add(dial(id + kParamPan, QAccessible::Slider, step + " pan", pan,
                 std::to_string(panValue) + (panValue == kCentrePan
                                                 ? " centre"
                                                 : (panValue < kCentrePan ? " left" : " right"))));
        MDial& d = *column.Dial(kParamDValue);
        add(dial(id + kParamDValue, QAccessible::Slider, step + " D, " + dFunction, d,
                 DialText(d)));
    }

    Control status =
        MakeControl(WidgetPanel::kStatusFieldId, QAccessible::Notification,
                    announced_.empty() ? "Status" : "Status: " + announced_, announced_);
    status.field = &p.StatusField();
    add(status);
    return out;
}

QWidget* FaceAccessible::Popup() const {
    return panel_ != nullptr ? &panel_->GetLoopPopup() : nullptr;
}

std::vector<FaceAccessible::Control> FaceAccessible::PopupControls() const {
    std::vector<Control> out;
    if (panel_ == nullptr || !panel_->GetLoopPopup().isVisible())
        return out;
    LoopPopup& popup = panel_->GetLoopPopup();
    const std::string loop = "Loop " + std::to_string(popup.GetLoop() + 1);
    const std::pair<int, MDial*> dials[] = {{kChainNextId, &popup.NextDial()},
                                            {kChainRepeatsId, &popup.RepeatDial()},
                                            {kChainSwingId, &popup.SwingDial()}};
    const char* names[] = {" next loop", " repeats", " swing, percent"};
    for (size_t i = 0; i < std::size(dials); ++i) {
        MDial& dial = *dials[i].second;
        Control c =
            MakeControl(dials[i].first, QAccessible::SpinBox, loop + names[i], DialText(dial));
        c.rect = dial.GetRect();
        c.host = &popup;
        c.hasNumber = true;
        c.number = dial.GetValue();
        c.minimum = dial.GetMinimum();
        c.maximum = dial.GetMaximum();
        out.push_back(c);
    }
    return out;
}

std::optional<FaceAccessible::Control> FaceAccessible::Find(int id) const {
    for (Control& c : Controls())
        if (c.id == id)
            return c;
    for (Control& c : PopupControls())
        if (c.id == id)
            return c;
    return std::nullopt;
}

QAccessibleInterface* FaceAccessible::Interface(int id) {
    const std::optional<Control> c = Find(id);
    if (!c)
        return nullptr;
    if (c->field != nullptr)
        return QAccessible::queryAccessibleInterface(c->field);
    if (const auto it = made_.find(id); it != made_.end())
        if (QAccessibleInterface* known = QAccessible::accessibleInterface(it->second))
            return known;
    auto* made = new ControlInterface(&window_, id, nullptr);
    made_[id] = QAccessible::registerAccessibleInterface(made);
    return made;
}

int FaceAccessible::ControlOfWidget(int widgetId) const {
    if (Find(widgetId))
        return widgetId;
    // A part of a dial (its arrows, field or slider) stands for the dial.
    int base = widgetId;
    if (IsColumnControl(widgetId)) {
        const int column = WidgetPanel::kFirstColumnId + (widgetId - WidgetPanel::kFirstColumnId) /
                                                             WidgetPanel::kColumnIdStep *
                                                             WidgetPanel::kColumnIdStep;
        base = column + (widgetId - column) / 10 * 10;
    } else {
        for (int dial :
             {WidgetPanel::kTempoFieldId, WidgetPanel::kMasterDialMId, WidgetPanel::kMasterDialEId})
            if (widgetId > dial && widgetId <= dial + MDial::kIdSpan)
                base = dial;
    }
    return Find(base) ? base : 0;
}

void FaceAccessible::NotifyFocus(int widgetId) {
    const int controlId = widgetId != 0 ? ControlOfWidget(widgetId) : 0;
    focused_ = controlId;
    if (controlId == 0 || !QAccessible::isActive())
        return;
    if (QAccessibleInterface* iface = Interface(controlId)) {
        QAccessibleEvent event(iface, QAccessible::Focus);
        QAccessible::updateAccessibility(&event);
    }
}

void FaceAccessible::Announce(const std::string& text) {
    if (text.empty())
        return;
    News(text);
    ScheduleRefresh();
}

std::string FaceAccessible::WindowName() const {
    const std::string& path = setup_.filePath;
    if (path.empty())
        return "Marrowbeat";
    return "Marrowbeat, " + path.substr(path.find_last_of('/') + 1);
}

void FaceAccessible::Watch() {
    if (sent_.empty())
        ScheduleRefresh();
}

void FaceAccessible::ScheduleRefresh() {
    if (!QAccessible::isActive()) {
        sent_.clear();
        return;
    }
    if (!refresh_.isActive())
        refresh_.start();
}

void FaceAccessible::Refresh() {
    if (!QAccessible::isActive() || panel_ == nullptr) {
        sent_.clear();
        return;
    }
    // What changed since the last comparison becomes the status line's news first: the
    // play state, the playing and the selected loop, and a new status message.
    const auto before = [this](int id) -> const Control* {
        const auto it = sent_.find(id);
        return it != sent_.end() ? &it->second : nullptr;
    };
    if (!sent_.empty()) {
        MLoopStrip& strip = panel_->LoopStrip();
        const std::string playingLoop = "Loop " + std::to_string(strip.GetPlaying() + 1);
        const bool playing = panel_->PlayButton().GetState();
        const Control* play = before(WidgetPanel::kPlayButtonId);
        const bool started = play != nullptr && !play->checked && playing;
        if (started)
            News("Playing, " + playingLoop);
        else if (play != nullptr && play->checked && !playing)
            News("Stopped");
        for (int i = 0; i < strip.GetCount(); ++i) {
            const Control* loop = before(WidgetPanel::kLoopStripId + 1 + i);
            if (loop == nullptr)
                continue;
            const bool wasPlaying = loop->name.find(", playing") != std::string::npos;
            if (strip.GetPlaying() == i && !wasPlaying && !started)
                News(playingLoop + " playing");
            if (strip.GetSelected() == i && !loop->checked)
                News("Loop " + std::to_string(i + 1) + " selected");
        }
        // A bare number on the status line echoes the value being edited, which its control
        // reports itself; only messages are news.
        const std::string status = panel_->StatusField().text().toStdString();
        if (status != statusShown_ && !status.empty() && !IsNumber(status))
            News(status);
        statusShown_ = status;
    } else {
        statusShown_ = panel_->StatusField().text().toStdString();
    }

    std::map<int, Control> now;
    for (Control& c : Controls())
        now.emplace(c.id, std::move(c));
    for (Control& c : PopupControls())
        now.emplace(c.id, std::move(c));
    if (!sent_.empty()) {
        for (const auto& [key, c] : now) {
            // A plain variable: clang 14 cannot capture a structured binding in a lambda.
            const int id = key;
            const Control* old = before(id);
            QAccessibleInterface* iface = nullptr;
            const auto face = [this, &iface, id] {
                if (iface == nullptr)
                    iface = Interface(id);
                return iface;
            };
            if (old == nullptr) {
                if (QAccessibleInterface* i = face()) {
                    QAccessibleEvent event(i, QAccessible::ObjectShow);
                    QAccessible::updateAccessibility(&event);
                }
                continue;
            }
            if (old->name != c.name) {
                if (QAccessibleInterface* i = face()) {
                    QAccessibleEvent event(i, QAccessible::NameChanged);
                    QAccessible::updateAccessibility(&event);
                }
            }
            // News: a notification that shows anew is read out by screen readers wherever
            // the focus is, the same news again too.
            if (c.role == QAccessible::Notification && newsPending_) {
                if (QAccessibleInterface* i = face()) {
                    QAccessibleEvent shown(i, QAccessible::ObjectShow);
                    QAccessible::updateAccessibility(&shown);
                }
            }
            if (c.hasNumber && old->number != c.number) {
                if (QAccessibleInterface* i = face()) {
                    QAccessibleValueChangeEvent event(i, c.number);
                    QAccessible::updateAccessibility(&event);
                }
            }
            if (old->checked != c.checked) {
                if (QAccessibleInterface* i = face()) {
                    QAccessible::State changed;
                    changed.checked = true;
                    QAccessibleStateChangeEvent event(i, changed);
                    QAccessible::updateAccessibility(&event);
                }
            }
        }
        for (const auto& [id, c] : sent_) {
            if (now.count(id) != 0)
                continue;
            // A hidden column's controls: their interfaces stay, marked invisible.
            if (const auto it = made_.find(id); it != made_.end())
                if (QAccessibleInterface* i = QAccessible::accessibleInterface(it->second)) {
                    QAccessibleEvent event(i, QAccessible::ObjectHide);
                    QAccessible::updateAccessibility(&event);
                }
        }
    }
    sent_ = std::move(now);
    newsPending_ = false;
}

void FaceAccessible::News(std::string text) {
    announced_ = std::move(text);
    newsPending_ = true;
}

int FaceAccessible::ApplyValue(WidgetPanel& panel, int id, double value) {
    const bool on = value >= 0.5;
    const int n = static_cast<int>(std::lround(value));
    const auto flip = [id, on](MToggleButton& button) {
        if (button.GetState() == on)
            return 0;
        button.SetState(on);
        return id;
    };
    if (id == WidgetPanel::kPlayButtonId)
        return flip(panel.PlayButton());
    if (id == WidgetPanel::kMuteButtonId)
        return flip(panel.MuteButton());
    MLoopStrip& strip = panel.LoopStrip();
    if (id > WidgetPanel::kLoopStripId && id <= WidgetPanel::kLoopStripId + strip.GetCount()) {
        const int index = id - WidgetPanel::kLoopStripId - 1;
        return on && strip.GetSelected() != index ? id : 0;
    }
    if (id == WidgetPanel::kTempoFieldId) {
        MTempoField& tempo = panel.TempoField();
        if (!(value > 0.0))
            return 0;
        tempo.SetTempo(tempo.GetUnit() == kTempoUnitSamples ? MTempoField::kConversion / value
                                                            : value);
        return id + MDial::kFieldPart;
    }
    if (id == WidgetPanel::kMasterDialMId || id == WidgetPanel::kMasterDialEId) {
        MDial& dial = id == WidgetPanel::kMasterDialMId ? panel.MasterDialM() : panel.MasterDialE();
        dial.SetValue(n);
        return id + MDial::kFieldPart;
    }
    if (id >= kChainNextId && id <= kChainSwingId) {
        // The popup edits its loop itself, as after a change by hand.
        LoopPopup& popup = panel.GetLoopPopup();
        if (!popup.isVisible())
            return 0;
        MDial& dial = id == kChainNextId      ? popup.NextDial()
                      : id == kChainRepeatsId ? popup.RepeatDial()
                                              : popup.SwingDial();
        dial.SetValue(n);
        popup.OnWidgetEvent(WidgetEvent::kFieldCommit, 0, 0, dial.GetId() + MDial::kFieldPart);
        return 0;
    }
    if (!IsColumnControl(id))
        return 0;
    const int k = (id - WidgetPanel::kFirstColumnId) / WidgetPanel::kColumnIdStep;
    MStepColumn& column = panel.Column(k);
    const int code = id - WidgetPanel::kFirstColumnId - WidgetPanel::kColumnIdStep * k;
    if (code == kParamOn)
        return flip(column.Toggle());
    MDial* dial = column.Dial(code);
    if (dial == nullptr)
        return 0;
    // The sound is numbered from 1 on the face, from 0 in the dial.
    dial->SetValue(code == kParamSound ? n - 1 : n);
    return id + MDial::kFieldPart;
}

} // namespace mb
