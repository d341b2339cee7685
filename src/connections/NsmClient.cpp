#include "connections/NsmClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>

#include "app/Command.h"
#include "connections/SessionHost.h"
#include "files/SetupDocument.h"

namespace mb {

namespace {

// SIGTERM arrives on any thread; its handler only writes a byte to this pipe, whose
// reading end the window thread watches.
int gTermPipe[2] = {-1, -1};
struct sigaction gPreviousTerm {};

void OnSigterm(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(gTermPipe[1], &byte, 1);
    errno = saved;
}

// Why a request failed: the last thing it would have shown, or the fallback.
std::string Reason(const PromptGate::Unattended& prompts, const std::string& fallback) {
    return prompts.Messages().empty() ? fallback : prompts.Messages().back();
}

} // namespace

std::unique_ptr<NsmClient> NsmClient::Connect(const std::string& url, std::string& error) {
    auto manager = OscPort::Resolve(url);
    if (const auto* message = std::get_if<std::string>(&manager)) {
        error = *message;
        return nullptr;
    }
    std::unique_ptr<NsmClient> client(new NsmClient());
    client->manager_ = std::get<sockaddr_in>(manager);
    // A manager on this machine is answered from the loopback interface alone, so that
    // no other machine can reach the socket; no other program may send it requests.
    error = client->port_.Open(OscPort::IsLoopback(client->manager_));
    if (!error.empty())
        return nullptr;
    client->port_.AcceptOnlyFrom(client->manager_);
    return client;
}

NsmClient::~NsmClient() {
    if (signalNotifier_ != nullptr) {
        ::sigaction(SIGTERM, &gPreviousTerm, nullptr);
        delete signalNotifier_;
        for (int& end : gTermPipe) {
            ::close(end);
            end = -1;
        }
    }
}

void NsmClient::Announce(SessionHost& host,
                         const std::string& executable,
                         std::function<void()> quit) {
    host_ = &host;
    quit_ = std::move(quit);
    socketNotifier_ = new QSocketNotifier(port_.Socket(), QSocketNotifier::Read, this);
    connect(socketNotifier_, &QSocketNotifier::activated, this, &NsmClient::OnReadable);
    if (gTermPipe[0] < 0 && ::pipe2(gTermPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        struct sigaction action {};
        action.sa_handler = OnSigterm;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, &gPreviousTerm);
        signalNotifier_ = new QSocketNotifier(gTermPipe[0], QSocketNotifier::Read, this);
        connect(signalNotifier_, &QSocketNotifier::activated, this, &NsmClient::OnTerminate);
    }
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            &NsmClient::ReportState);
    Send(kAnnounce, {std::string(kApplicationName), std::string(kCapabilities), executable,
                     kApiMajor, kApiMinor, static_cast<int32_t>(::getpid())});
}

void NsmClient::OnReadable() {
    // One request at a time, never one inside another.
    socketNotifier_->setEnabled(false);
    for (int served = 0; served < kMaxRequestsPerWake; ++served) {
        const std::optional<OscPort::Message> message = port_.Receive();
        if (!message)
            break;
        Handle(*message);
    }
    socketNotifier_->setEnabled(true);
    if (port_.Refused() > 0 && !refusalTold_) {
        refusalTold_ = true;
        char address[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &manager_.sin_addr, address, sizeof address);
        std::fprintf(stderr,
                     "marrowbeat: ignoring OSC messages that do not come from the session "
                     "manager at %s:%u\n",
                     address, static_cast<unsigned>(ntohs(manager_.sin_port)));
    }
}

void NsmClient::OnTerminate() {
    char bytes[16];
    while (::read(gTermPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (quit_)
        quit_();
}

void NsmClient::Handle(const OscPort::Message& message) {
    // Nothing a request does may wait on a dialog: what one would have said is shown
    // once the request is answered.
    const PromptGate::Unattended prompts(host_->Gate());
    const auto text = [&message](size_t i) { return std::get<std::string>(message.arguments[i]); };
    if (message.path == kReply && message.types.starts_with('s') && text(0) == kAnnounce) {
        announced_ = true;
    } else if (message.path == kError && message.types == "sis" && text(0) == kAnnounce) {
        std::fprintf(stderr, "marrowbeat: the session manager refused the program: %s\n",
                     text(2).c_str());
    } else if (message.path == kOpen && message.types == "sss") {
        Open(text(0), prompts);
    } else if (message.path == kSave && message.types.empty()) {
        Save(prompts);
    } else if (message.path == kShowGui) {
        host_->Run({Command::kShowWindow});
    } else if (message.path == kHideGui) {
        host_->Run({Command::kHideWindow});
    }
}

void NsmClient::Open(const std::string& path, const PromptGate::Unattended& prompts) {
    if (!std::filesystem::path(path).is_absolute())
        return Fail(kOpen, kErrorBadProject, "The session's path '" + path + "' is not absolute.");
    const std::string file = path + kSetupExtension;
    std::error_code error;
    if (std::filesystem::exists(file, error)) {
        // Read once before opening, so that a damaged file changes nothing and is reported
        // to the manager alone.
        const SetupDocument::ReadOutcome read = SetupDocument::ReadFile(file);
        if (!read.error.empty())
            return Fail(kOpen, kErrorBadProject, read.error);
        if (!host_->Run({Command::kSessionOpen, 0, 0.0, file}))
            return Fail(kOpen, kErrorBadProject, Reason(prompts, "Cannot open " + file + "."));
    } else if (!host_->Run({Command::kSessionOpen, 1, 0.0, file})) {
        // A new session starts with the setup the window shows, saved at once.
        return Fail(kOpen, kErrorCreateFailed,
                    Reason(prompts, "Cannot create the setup file " + file + "."));
    }
    sessionFile_ = file;
    Reply(kOpen, "Opened " + file);
}

void NsmClient::Save(const PromptGate::Unattended& prompts) {
    if (sessionFile_.empty())
        return Fail(kSave, kErrorNoSessionOpen, "No session has opened a setup yet.");
    if (!host_->Run({Command::kSessionSave, 0, 0.0, sessionFile_}))
        return Fail(kSave, kErrorGeneral,
                    Reason(prompts, "Cannot save the setup file " + sessionFile_ + "."));
    Reply(kSave, "Saved " + sessionFile_);
}

void NsmClient::ReportState() {
    if (!announced_)
        return;
    const bool dirty = host_->IsModified();
    if (reportedDirty_ != dirty) {
        Send(dirty ? kIsDirty : kIsClean);
        reportedDirty_ = dirty;
    }
    const bool shown = host_->IsShown();
    if (reportedShown_ != shown) {
        Send(shown ? kGuiShown : kGuiHidden);
        reportedShown_ = shown;
    }
}

void NsmClient::Send(const char* path, const std::vector<OscPort::Argument>& arguments) {
    if (!port_.Send(manager_, path, arguments))
        std::fprintf(stderr, "marrowbeat: cannot send %s to the session manager\n", path);
}

void NsmClient::Reply(const char* request, const std::string& text) {
    Send(kReply, {std::string(request), text});
}

void NsmClient::Fail(const char* request, int code, const std::string& text) {
    Send(kError, {std::string(request), code, text});
}

} // namespace mb
