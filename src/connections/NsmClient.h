#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>

#include "connections/OscPort.h"
#include "dialogs/PromptGate.h"

class QSocketNotifier;

namespace mb {

class SessionHost;

// The program as a client of a session manager of the NSM protocol (OSC messages over
// UDP, the manager's address in the environment variable NSM_URL). It announces the
// program; opens the session's setup, a normal setup file "<the session's path>.mbx",
// creating it when the session is new; saves it when the session is saved; reports
// whether the setup has unsaved changes; hides and shows the window when asked; and
// ends the program on SIGTERM without the save-changes prompt, as the protocol asks.
//
// It obeys the manager alone: a datagram from any other address or port is dropped
// unread and counted. Every request is answered at once: it is served through the
// host's PromptGate, so that nothing waits on a dialog; what a dialog would have said
// is shown as a notice that does not hold up the window, and a request that failed is
// answered with an error that gives the reason.
//
// Threads: window thread only. The socket and the signal's pipe are read when their
// QSocketNotifier says they hold data, and every send is a non-blocking datagram, so
// the window thread never waits for the manager. The SIGTERM handler only writes one
// byte to the pipe.
class NsmClient : public QObject {
public:
    static constexpr const char* kApplicationName = "Marrowbeat";
    static constexpr const char* kCapabilities = ":dirty:optional-gui:";
    static constexpr int kApiMajor = 1;
    static constexpr int kApiMinor = 2;
    static constexpr const char* kSetupExtension = ".mbx";

    static constexpr const char* kAnnounce = "/nsm/server/announce";
    static constexpr const char* kReply = "/reply";
    static constexpr const char* kError = "/error";
    static constexpr const char* kOpen = "/nsm/client/open";
    static constexpr const char* kSave = "/nsm/client/save";
    static constexpr const char* kShowGui = "/nsm/client/show_optional_gui";
    static constexpr const char* kHideGui = "/nsm/client/hide_optional_gui";
    static constexpr const char* kIsDirty = "/nsm/client/is_dirty";
    static constexpr const char* kIsClean = "/nsm/client/is_clean";
    static constexpr const char* kGuiShown = "/nsm/client/gui_is_shown";
    static constexpr const char* kGuiHidden = "/nsm/client/gui_is_hidden";

    // The protocol's error codes.
    static constexpr int kErrorGeneral = -1;
    static constexpr int kErrorNoSessionOpen = -6;
    static constexpr int kErrorBadProject = -9;
    static constexpr int kErrorCreateFailed = -10;

    // A client of the manager at url (the value of NSM_URL), with its socket open; nothing
    // and a message in error when the address is not usable.
    static std::unique_ptr<NsmClient> Connect(const std::string& url, std::string& error);
    ~NsmClient() override;

    // Announces the program under the name of its executable and from now on serves the
    // manager through host, which must outlive the client. quit ends the program; it runs
    // on SIGTERM.
    void Announce(SessionHost& host, const std::string& executable, std::function<void()> quit);

    // The datagrams dropped so far because they did not come from the manager.
    uint64_t Refused() const { return port_.Refused(); }

    // Requests served per wake of the window thread; more wait for its next turn, so
    // that a stream of them cannot starve the window.
    static constexpr int kMaxRequestsPerWake = 16;

private:
    NsmClient() = default;
    void OnReadable();
    void OnTerminate();
    void Handle(const OscPort::Message& message);
    void Open(const std::string& path, const PromptGate::Unattended& prompts);
    void Save(const PromptGate::Unattended& prompts);
    // Tells the manager what has changed since it was last told: the setup's modified
    // flag and the window's visibility. Runs whenever the window thread is about to wait.
    void ReportState();
    void Send(const char* path, const std::vector<OscPort::Argument>& arguments = {});
    void Reply(const char* request, const std::string& text);
    void Fail(const char* request, int code, const std::string& text);

    OscPort port_;
    sockaddr_in manager_{};
    SessionHost* host_ = nullptr;
    std::function<void()> quit_;
    QSocketNotifier* socketNotifier_ = nullptr;
    QSocketNotifier* signalNotifier_ = nullptr;
    std::string sessionFile_;
    bool announced_ = false;
    bool refusalTold_ = false;
    std::optional<bool> reportedDirty_;
    std::optional<bool> reportedShown_;
};

} // namespace mb
