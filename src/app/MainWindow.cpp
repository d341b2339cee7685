#include "app/MainWindow.h"

#include "platform/Clocks.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileSystemWatcher>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

#include "devices/DeviceOutput.h"
#include "devices/MidiPorts.h"
#include "dialogs/AboutBox.h"
#include "dialogs/QtPrompts.h"
#include "files/PersistedSettings.h"
#include "files/SettingsStore.h"
#include "files/SetupDocument.h"
#include "model/StepParam.h"
#include "panel/FaceAccessible.h"
#include "panel/WidgetPanel.h"
#include "widgets/EntryField.h"
#include "widgets/MonoPicture.h"
#include "widgets/WidgetEvent.h"

namespace mb {

namespace {

// A message of the step clock or of another instance, queued for the window thread. The
// event type is the message's own number.
class StepClockEvent : public QEvent {
public:
    StepClockEvent(int message, intptr_t wParam, intptr_t lParam)
        : QEvent(static_cast<QEvent::Type>(message)), wParam(wParam), lParam(lParam) {}
    const intptr_t wParam;
    const intptr_t lParam;
};

// What the sound output's keeper thread tells the window.
class OutputEvent : public QEvent {
public:
    static constexpr auto kType = static_cast<QEvent::Type>(QEvent::User + 1);
    explicit OutputEvent(OutputKeeper::Event event) : QEvent(kType), event(std::move(event)) {}
    const OutputKeeper::Event event;
};

constexpr const char* kOutputLostText =
    "The sound output was lost. Marrowbeat keeps playing in time, silently, and its sound "
    "comes back as soon as the output does.";

// How often the window looks whether a lost MIDI output can come back.
constexpr int kMidiKeeperMs = 500;
// How often the window looks at a followed JACK transport: a start is held back for the
// program until it has looked.
constexpr int kTransportPollMs = 10;
constexpr const char* kTransportNotJackText =
    "JACK Transport is on: starts, stops and the tempo follow the transport, but its steps "
    "are placed to the frame only with the JACK sound output (Sound Output...).";
constexpr const char* kLinkClearedByClockText =
    "Link is off: the program follows one clock at a time, now the MIDI clock.";
constexpr const char* kTransportClearedByClockText =
    "JACK Transport is off: the program follows one clock at a time, now the MIDI clock.";
constexpr const char* kClockClearedText =
    "Follow MIDI clock is off: the program follows one clock at a time.";
constexpr const char* kTransportLostText =
    "The JACK server went away: the JACK transport is no longer followed.";

// The latest MIDI transport message received.
constexpr int kMidiStart = 1;
constexpr int kMidiStop = 2;

bool IsStepClockMessage(int type) {
    return type == MSG_STEP_PLAYED || type == MSG_LOOP_STARTED;
}

constexpr int kColorChannel = 256;

} // namespace

MainWindow::MainWindow(Options options)
    : QDialog(nullptr,
              Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                  Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      OwnerWindow(this), ownPrompts_(options.prompts ? nullptr : std::make_unique<QtPrompts>(this)),
      gate_(options.prompts ? *options.prompts : *ownPrompts_), prompts_(gate_),
      options_(std::move(options)),
      settings_(options_.settingsPath.empty()
                    ? std::make_unique<SettingsStore>()
                    : std::make_unique<SettingsStore>(options_.settingsPath)),
      controller_(prompts_),
      clockFollower_({[this] {
          const AudioDevice* device = soundEngine_.device();
          return device != nullptr ? device->mixer().runDelayNs() : int64_t{0};
      }}),
      midi_(
          [this] {
              const AudioDevice* device = soundEngine_.device();
              return device != nullptr ? device->mixer().soundDelayNs() : int64_t{0};
          },
          [this](bool start) { OnMidiTransport(start); }, &clockFollower_),
      link_(*this, LinkHooks()), commands_(CommandParts()), exporter_(setup_, prompts_),
      documentTitle_(QString::fromUtf8(SetupDocument::kCaptionPrefix)
                         .left(SetupDocument::kCaptionMarkLength)
                         .toStdString()) {
    setAcceptDrops(true);
    access_ = std::make_unique<FaceAccessible>(
        *this, setup_,
        FaceAccessible::Hooks{
            [this](int id, double value) {
                commands_.Run(CommandTable::FromAccessibleValue(id, value));
            },
            [this](int id) { commands_.Run(CommandTable::FromAccessiblePress(id)); }});
    exporter_.OnWritten([this](const std::string& text) { ShowStatus(text); });
    bellNotifier_ = std::make_unique<QSocketNotifier>(bell_.fd(), QSocketNotifier::Read);
    connect(bellNotifier_.get(), &QSocketNotifier::activated, this, [this] { TakeNews(); });
    ShowTitle();
}

CommandRunner::Parts MainWindow::CommandParts() {
    return {setup_, controller_, sequencer_, soundEngine_, *settings_, gate_, *this};
}

LinkSession::Hooks MainWindow::LinkHooks() {
    LinkSession::Hooks hooks;
    hooks.tempo = [this](double bpm) { commands_.Run({Command::kLinkTempo, 0, bpm}); };
    hooks.peers = [this](int) { ShowTitle(); };
    hooks.latencyNs = [this] {
        const AudioDevice* device = soundEngine_.device();
        return device != nullptr ? device->mixer().LatencyNs() : int64_t{0};
    };
    return hooks;
}

void MainWindow::StopFollowingMidiClock() {
    if (!clockFollower_.IsOn())
        return;
    MidiChoice choice = midi_.choice();
    choice.followClock = false;
    PersistedSettings::WriteMidiChoice(*settings_, choice);
    midi_.Apply(choice);
    FollowMidiClock();
    prompts_.ShowNotice(kClockClearedText);
}

void MainWindow::SetLinkOn(bool on) {
    if (on)
        StopFollowingMidiClock();
    link_.SetOn(on, setup_.bpm);
    if (on) {
        session_.Follow(&link_);
    } else {
        sequencer_.LeaveSession();
        if (session_.Followed() == &link_)
            session_.Follow(nullptr);
    }
    ShowTitle();
}

void MainWindow::SetJackTransportOn(bool on) {
    if (jackTransport_) {
        // The run goes on at its own tempo before the transport's client goes.
        sequencer_.LeaveSession();
        if (session_.Followed() == jackTransport_.get())
            session_.Follow(nullptr);
        transportTimer_->stop();
        jackTransport_.reset();
        HoldOutputForOthers();
    }
    if (on) {
        StopFollowingMidiClock();
        JackTransport::Hooks hooks;
        hooks.runDelayNs = [this] {
            const AudioDevice* device = soundEngine_.device();
            return device != nullptr ? device->mixer().runDelayNs() : int64_t{0};
        };
        std::string error;
        jackTransport_ = JackTransport::Open(std::move(hooks), setup_.bpm, &error);
        if (!jackTransport_) {
        } else {
            session_.Follow(jackTransport_.get());
            transportTimer_->start(kTransportPollMs);
            HoldOutputForOthers();
            const AudioDevice* device = soundEngine_.device();
            const AudioOutput* output = device != nullptr ? device->output() : nullptr;
            if (output == nullptr || output->Status().api != "jack")
                prompts_.ShowNotice(kTransportNotJackText);
        }
    }
    ShowTitle();
}

void MainWindow::FollowTransport() {
    if (!jackTransport_)
        return;
    const JackTransport::News news = jackTransport_->Poll(sequencer_.running());
    // The master's tempo is shown; the program's own, as master, is the setup's already.
    if (news.bpm > 0.0 && !jackTransport_->IsMaster())
        commands_.Run({Command::kTransportTempo, 0, news.bpm});
    if (news.stop)
        commands_.Run({Command::kRemoteStop, 0});
    if (news.lost) {
        prompts_.ShowNotice(kTransportLostText);
        SetJackTransportOn(false);
        return;
    }
    if (news.start)
        commands_.Run({Command::kRemoteStart, 0});
}

void MainWindow::FollowMidiClock() {
    if (clockFollower_.IsOn()) {
        // One clock is followed at a time: the MIDI clock, chosen last, clears the others.
        if (link_.IsOn() || jackTransport_) {
            prompts_.ShowNotice(link_.IsOn() ? kLinkClearedByClockText : kTransportClearedByClockText);
            if (link_.IsOn()) {
                SetLinkOn(false);
                PersistedSettings::WriteLinkSetting(*settings_, false);
            }
            if (jackTransport_) {
                SetJackTransportOn(false);
                PersistedSettings::WriteJackTransportSetting(*settings_, false);
            }
        }
        if (session_.Followed() != &clockFollower_) {
            sequencer_.LeaveSession();
            session_.Follow(&clockFollower_);
        }
        clockTimer_->start(kTransportPollMs);
    } else {
        clockTimer_->stop();
        if (session_.Followed() == &clockFollower_) {
            sequencer_.LeaveSession();
            session_.Follow(nullptr);
        }
    }
    HoldOutputForOthers();
}

void MainWindow::PollMidiClock() {
    using Transport = ClockFollower::News::Transport;
    const ClockFollower::News news = clockFollower_.Poll(MonotonicNs());
    if (news.tempoChanged && news.bpm > 0.0)
        commands_.Run({Command::kTransportTempo, 0, news.bpm});
    if (news.lost)
        prompts_.ShowNotice(ClockFollower::LostMessage(news.bpm));
    if (news.transport == Transport::kStop)
        commands_.Run({Command::kRemoteStop, 0});
    if (news.transport == Transport::kStart) {
        if (sequencer_.running())
            commands_.Run({Command::kRemoteStop, 0});
        commands_.Run({Command::kRemoteStart, 0});
    }
}

void MainWindow::ShowTitle() {
    std::string title = documentTitle_;
    if (link_.IsOn()) {
        const int peers = link_.Peers();
        title += "  [Link: " + std::to_string(peers) + (peers == 1 ? " peer]" : " peers]");
    }
    setWindowTitle(QString::fromStdString(title));
}

MainWindow::~MainWindow() {
    if (filterInstalled_)
        qApp->removeEventFilter(this);
    // The step clock posts to this window and plays through the engine: it stops first,
    // and its thread ends before the engine (a later member) is destroyed.
    if (sequencer_.running())
        sequencer_.Stop();
    sequencer_.Shutdown();
    // The MIDI threads post to this window and ask the engine for its latency.
    midi_.Close();
    MDial::SetKeyboard(nullptr);
    // The panel's fields are child windows of this window and it edits the setup.
    access_->SetPanel(nullptr);
    panel_.reset();
}

void MainWindow::Start(const std::string& commandLinePath) {
    initialised_ = false;
    resize(kClientWidth, kClientHeight);
    setMinimumSize(kMinClientWidth, kClientHeight);
    setMaximumSize(kClientWidth, kClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    focusSink_ = new QPushButton(kFocusSinkText, this);
    focusSink_->setFlat(true);
    // It only takes the focus: the face beneath it stays visible.
    focusSink_->setStyleSheet(
        "QPushButton { border: none; background: transparent; color: transparent; }");
    focusSink_->setAutoDefault(false);
    focusSink_->setAttribute(Qt::WA_TransparentForMouseEvents);
    focusSink_->setGeometry(kFocusSinkX, kFocusSinkY, kFocusSinkSize, kFocusSinkSize * 2 / 3);
    access_->HideWidget(focusSink_);

    panel_ = std::make_unique<WidgetPanel>(*this, setup_);
    commands_.SetPanel(panel_.get());
    panel_->GetMenuBar().SetCommandHandler(&commands_);
    MDial::SetKeyboard(&keyboard_);
    access_->SetPanel(panel_.get());
    // The screen reader reads the control the keyboard mark moves to.
    panel_->onFocusMoved = [this](int id) { access_->NotifyFocus(id); };

    Color base = 0;
    if (options_.color) {
        base = *options_.color;
    } else {
        const auto tick = std::chrono::steady_clock::now().time_since_epoch();
        std::srand(static_cast<unsigned>(
            std::chrono::duration_cast<std::chrono::milliseconds>(tick).count()));
        const int r1 = std::rand() % kColorChannel;
        const int r2 = std::rand() % kColorChannel;
        const int r3 = std::rand() % kColorChannel;
        base = static_cast<Color>(r1 * kColorChannel * kColorChannel + r2 * kColorChannel + r3);
    }
    panel_->SetHighContrast(PersistedSettings::ReadHighContrast(*settings_));
    panel_->ApplyColor(base);
    TakeColors();
    setWindowIcon(MonoPicture::ProgramIcon(textColor_, background_));

    noCursor_ = MonoPicture::LoadCursor("NOCUR");
    sizeCursor_ = MonoPicture::LoadCursor("SIZECUR");
    ResetFocus();

    controller_.Init(*panel_, setup_, *this, *this, sequencer_, soundEngine_);
    controller_.SetTempoObserver([this](double bpm) {
        link_.SetTempo(bpm);
        if (jackTransport_)
            jackTransport_->SetOwnTempo(bpm);
    });
    sequencer_.Init({this, panel_.get(), &soundEngine_, &keyboard_,
                     options_.linkInstances ? &instances_ : nullptr, &session_, &midi_.sender(),
                     this},
                    &setup_);
    clockTimer_ = new QTimer(this);
    connect(clockTimer_, &QTimer::timeout, this, [this] { PollMidiClock(); });
    transportTimer_ = new QTimer(this);
    connect(transportTimer_, &QTimer::timeout, this, [this] { FollowTransport(); });
    outputChoice_ = PersistedSettings::ReadOutputChoice(*settings_);
    if (options_.audioApi)
        outputChoice_.api = *options_.audioApi;
    if (options_.audioDevice)
        outputChoice_.device = *options_.audioDevice;
    if (options_.bufferFrames)
        outputChoice_.bufferFrames = *options_.bufferFrames;
    std::string outputNote;
    soundEngine_.Init(
        &setup_, &prompts_,
        options_.audio ? options_.audio : [this, &outputNote] { return OpenOutput(&outputNote); });
    if (!outputNote.empty())
        prompts_.ShowNote(outputNote);
    if (const std::string problems = midi_.Apply(PersistedSettings::ReadMidiChoice(*settings_));
        !problems.empty())
        std::fprintf(stderr, "marrowbeat: %s\n", problems.c_str());
    FollowMidiClock();
    // A MIDI output whose JACK server went away comes back with it, as the sound does.
    midiKeeper_ = new QTimer(this);
    connect(midiKeeper_, &QTimer::timeout, this, [this] {
        if (const std::string notice = midi_.Keep(); !notice.empty())
            prompts_.ShowNotice(notice);
    });
    KeepMidiWhileJack();
    panel_->GetMenuBar().SetSetup(&setup_);
    setup_.modified = 0;
    panel_->FitColumnsToWidth();

    PersistedSettings::RegisterFileType(*settings_, PersistedSettings::ModulePath());
    if (!commandLinePath.empty()) {
        controller_.OpenPath(commandLinePath);
    } else {
        controller_.SetMasterVolume(SetupController::kDefaultMasterVolume);
        controller_.SetEValue(SetupController::kDefaultEValue);
    }
    PersistedSettings::ReadHighResSetting(*settings_, setup_, sequencer_.clock());

    if (options_.linkInstances) {
        instances_.Listen([this] { return windowTitle().toStdString(); },
                          [this](int message, int64_t heard) {
                              PostMessage(message, 0, static_cast<intptr_t>(heard));
                          },
                          [this] { return sequencer_.running(); });
        instances_.PublishLead(soundEngine_.LeadNs());
        // While other copies are open the output flows on when stopped: a start one of
        // them announces is then met soon, and on the same frame. Looked at again whenever
        // the folder of their sockets changes (a copy comes or goes, or starts or stops).
        if (!instances_.Folder().empty()) {
            auto* others = new QFileSystemWatcher(this);
            others->addPath(QString::fromStdString(instances_.Folder()));
            connect(others, &QFileSystemWatcher::directoryChanged, this,
                    [this] { HoldOutputForOthers(); });
        }
        HoldOutputForOthers();
    }
    // The command line outranks the settings; Link and the transport exclude each other.
    if (options_.jackTransport ||
        (!options_.link && PersistedSettings::ReadJackTransportSetting(*settings_)))
        SetJackTransportOn(true);
    else if (options_.link || PersistedSettings::ReadLinkSetting(*settings_))
        SetLinkOn(true);
    qApp->installEventFilter(this);
    filterInstalled_ = true;
    lastSize_ = size();
    initialised_ = true;
}

void MainWindow::TakeColors() {
    const ColorScheme& scheme = panel_->Column(0).Scheme();
    background_ = scheme.GetColor(2);
    textColor_ = scheme.GetColor(5);
}

// ---- The widgets' owner ----

void MainWindow::OnWidgetEvent(int event, int x, int y, int id) {
    const QCursor* fallback = noCursor_ ? &*noCursor_ : nullptr;
    if (event == WidgetEvent::kRightPress) {
        const int taken = RouteEvent(event, x, y, 0, fallback);
        if (taken != 0)
            commands_.Run(CommandTable::FromWidgetRightClick(taken));
        return;
    }
    if (event == WidgetEvent::kFieldRightClick)
        commands_.Run(CommandTable::FromWidgetRightClick(id));
    id = RouteEvent(event, x, y, id, fallback);
    if (id == 0)
        return;
    if (event == WidgetEvent::kLeftPress || event == WidgetEvent::kFieldCommit) {
        commands_.Run(CommandTable::FromWidgetPress(id));
        if (event == WidgetEvent::kFieldCommit)
            commands_.Run(CommandTable::FromWidgetChange(id));
        return;
    }
    if (event == WidgetEvent::kLeftRelease || event == WidgetEvent::kMove)
        commands_.Run(CommandTable::FromWidgetChange(id));
}

void MainWindow::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.fillRect(rect(), ToQColor(background_));
    }
    if (panel_) {
        PaintWidgets(event);
        QPainter painter(this);
        panel_->PaintMark(painter);
    }
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    // The mouse takes over from the keyboard mark.
    if (panel_ && panel_->Mark() != WidgetPanel::kNoMark)
        commands_.Run({Command::kLeaveMark});
    if (event->button() == Qt::LeftButton)
        ResetFocus();
    ForwardMouse(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    ForwardMouse(event);
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    ForwardMouse(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    ForwardMouse(event);
}

// ---- Window behaviour ----

bool MainWindow::event(QEvent* event) {
    if (event->type() == OutputEvent::kType) {
        const OutputKeeper::Event& e = static_cast<OutputEvent*>(event)->event;
        if (e.kind == OutputKeeper::Event::kLost)
            prompts_.ShowNotice(kOutputLostText);
        else if (e.kind == OutputKeeper::Event::kFellBack)
            prompts_.ShowNotice(e.text);
        else if (e.kind == OutputKeeper::Event::kLatency)
            instances_.PublishLead(e.latencyNs, e.quickNs, e.atNs);
        return true;
    }
    const int type = static_cast<int>(event->type());
    if (IsStepClockMessage(type)) {
        const auto* message = static_cast<StepClockEvent*>(event);
        sequencer_.OnWindowMessage(type, message->wParam, message->lParam);
        return true;
    }
    if (event->type() == QEvent::ToolTip && panel_) {
        // What the control under the pointer is, and its keys.
        const auto* help = static_cast<QHelpEvent*>(event);
        const std::string tip = panel_->ToolTipAt(help->pos().x(), help->pos().y());
        if (!tip.empty()) {
            QToolTip::showText(help->globalPos(), QString::fromStdString(tip), this);
            return true;
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    // What other instances say.
    if (type == MSG_REMOTE_START || type == MSG_REMOTE_STOP) {
        const auto* message = static_cast<StepClockEvent*>(event);
        commands_.Run({type == MSG_REMOTE_START ? Command::kRemoteStart : Command::kRemoteStop,
                       static_cast<int64_t>(message->lParam)});
        return true;
    }
    return QDialog::event(event);
}

void MainWindow::PostMessage(int message, intptr_t wParam, intptr_t lParam) {
    QCoreApplication::postEvent(this, new StepClockEvent(message, wParam, lParam));
}

void MainWindow::TakeStep(const StepEvent& /*step*/) {
    bell_.Ring();
}

void MainWindow::OnMidiTransport(bool start) {
    midiTransport_.store(start ? kMidiStart : kMidiStop, std::memory_order_seq_cst);
    bell_.Ring();
}

void MainWindow::TakeNews() {
    bell_.Answer();
    ++newsWakeups_;
    if (!initialised_)
        return;
    sequencer_.TakeClockNews();
    const int transport = midiTransport_.exchange(0, std::memory_order_seq_cst);
    if (transport != 0)
        commands_.Run({Command::kMidiTransport, transport == kMidiStart ? 1 : 0});
}

bool MainWindow::BelongsHere(QObject* watched) const {
    const auto* widget = qobject_cast<const QWidget*>(watched);
    return widget != nullptr && widget->window() == this;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (!initialised_)
        return false;
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress: {
        // Any key or click outside the loop popup closes it.
        LoopPopup& popup = panel_->GetLoopPopup();
        const auto* widget = qobject_cast<const QWidget*>(watched);
        // Opened from the keyboard, it takes the keys until Enter or Escape.
        const bool keysToPopup = popup.HasKeyboard() && event->type() == QEvent::KeyPress;
        if (popup.isVisible() && !keysToPopup && widget != nullptr && widget->window() != &popup)
            popup.hide();
        if (event->type() == QEvent::KeyPress && BelongsHere(watched))
            return PreTranslateKey(watched, static_cast<QKeyEvent*>(event));
        break;
    }
    default:
        break;
    }
    return false;
}

bool MainWindow::PreTranslateKey(QObject* watched, QKeyEvent* key) {
    const std::optional<Command> command = CommandTable::FromKey(
        {key->key(), key->modifiers(), key->isAutoRepeat(),
         dynamic_cast<EntryField*>(watched) != nullptr, panel_->Mark() != WidgetPanel::kNoMark,
         panel_->GetLoopPopup().HasKeyboard()});
    return command && commands_.Run(*command);
}

bool MainWindow::KeysGoToSink() const {
    return focusWidget() == focusSink_;
}

void MainWindow::LeaveField(bool restore) {
    if (restore)
        if (auto* field = dynamic_cast<EntryField*>(focusWidget()))
            field->CancelEdit();
    // The focus goes back to the sink, which commits the field.
    ResetFocus();
}

void MainWindow::CloseWindow() {
    close();
}

void MainWindow::ExportAudio() {
    exporter_.Export();
}

void MainWindow::ExportMidi(int channel) {
    exporter_.ExportMidi(channel);
}

void MainWindow::ShowWindow(bool shown) {
    if (!shown) {
        hide();
        return;
    }
    show();
    raise();
    activateWindow();
}

bool MainWindow::IsShown() const {
    return isVisible();
}

void MainWindow::ResetFocus() {
    if (!panel_ || !panel_->IsReady())
        return;
    const int last = std::clamp<int>(setup_.stepCount, 1, WidgetPanel::kColumnCount) - 1;
    if (MDial* pitch = panel_->Column(last).Dial(kParamPitch))
        pitch->Field().deselect();
    focusSink_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // Qt reports the first showing as a resize too; only a real change counts.
    if (size() == lastSize_ || !lastSize_.isValid())
        return;
    lastSize_ = size();
    if (initialised_)
        panel_->FitColumnsToWidth();
    setup_.modified = 1;
}

void MainWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        setup_.modified = 1;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (setup_.modified && !controller_.ConfirmDiscard()) {
        event->ignore();
        return;
    }
    if (sequencer_.running())
        sequencer_.Stop();
    event->accept();
}

void MainWindow::reject() {
    // Escape closes through the same save-changes check as the close box.
    close();
}

void MainWindow::accept() {
    // Enter is handled with the keys; the dialog has no default button to accept.
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    const std::string path = urls.first().toLocalFile().toStdString();
    // Opened once the drop is over, so that the save-changes prompt does not hold up the
    // program the file came from. Further files are ignored.
    QTimer::singleShot(0, this, [this, path] {
        commands_.Run({Command::kOpenPath, 0, 0.0, path});
    });
}

void MainWindow::ChangeColour() {
    const std::optional<uint32_t> chosen = prompts_.PickColor(background_);
    if (!chosen || *chosen == background_)
        return;
    ApplyColor(*chosen);
    setup_.modified = 1;
}

void MainWindow::ShowAbout() {
    AboutBox box(this, textColor_, background_);
    box.exec();
    RestoreFocus();
}

std::unique_ptr<AudioDevice> MainWindow::OpenOutput(std::string* note) {
    return DeviceOutput::Open(
        outputChoice_,
        [this](const OutputKeeper::Event& e) {
            QCoreApplication::postEvent(this, new OutputEvent(e));
        },
        note);
}

void MainWindow::HoldOutputForOthers() {
    // A followed transport's start is met on its frame only by an output that flows (and
    // a JACK client that stays active keeps its connections).
    const bool others = options_.linkInstances && instances_.HasOthers();
    const bool following = jackTransport_ != nullptr || clockFollower_.IsOn();
    if (!options_.linkInstances && !following)
        return;
    AudioDevice* device = soundEngine_.device();
    if (AudioOutput* output = device != nullptr ? device->output() : nullptr)
        output->HoldFlowing(others || following);
}

void MainWindow::ChooseSoundOutput() {
    AudioDevice* device = soundEngine_.device();
    AudioOutput* output = device != nullptr ? device->output() : nullptr;
    const OutputStatus status = output != nullptr ? output->Status() : OutputStatus{};
    const std::optional<OutputChoice> choice = prompts_.ChooseSoundOutput(outputChoice_, status);
    if (!choice)
        return;
    outputChoice_ = *choice;
    PersistedSettings::WriteOutputChoice(*settings_, *choice);
    if (output != nullptr) {
        output->Apply(*choice);
        return;
    }
    // No output opened at start-up: try again now, with the sounds of the setup.
    if (device == nullptr && !options_.audio) {
        std::string note;
        if (soundEngine_.OpenDevice([this, &note] { return OpenOutput(&note); })) {
            HoldOutputForOthers();
            if (!note.empty())
                prompts_.ShowNote(note);
        } else {
            prompts_.ShowNote(SoundEngine::kNoDeviceText);
        }
    }
}

void MainWindow::KeepMidiWhileJack() {
    // Only a JACK output can lose its server: without one the window is not woken for it.
    const MidiChoice& choice = midi_.choice();
    if ((choice.output.api == MidiPortId::kJack && !choice.output.empty()) ||
        (choice.input.api == MidiPortId::kJack && !choice.input.empty()))
        midiKeeper_->start(kMidiKeeperMs);
    else
        midiKeeper_->stop();
}

void MainWindow::ChooseMidi() {
    const std::optional<MidiChoice> chosen =
        prompts_.ChooseMidi(midi_.choice(), MidiPorts::Destinations(), MidiPorts::Sources());
    if (chosen) {
        PersistedSettings::WriteMidiChoice(*settings_, *chosen);
        if (const std::string problems = midi_.Apply(*chosen); !problems.empty())
            prompts_.ShowNote(problems);
        FollowMidiClock();
        KeepMidiWhileJack();
    }
    RestoreFocus();
}

} // namespace mb
