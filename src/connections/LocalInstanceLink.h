#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>

#include "engine/SequencerPorts.h"

class QLocalServer;
class QLocalSocket;

namespace mb {

// The running instances find each other through local sockets: each listens on one in a
// private folder of the user's runtime directory, named after its process id. Broadcast
// walks those sockets (at most kMaxInstances) and asks each instance to post the message
// to its window; an instance posts it only when its window title begins with the
// program's eleven-character caption mark. Sockets left behind by instances that are
// gone are removed on the way.
//
// Window thread only, and the window never waits on another instance: Broadcast writes
// its request to every other instance's socket and returns, the answers come in through
// the event loop, and an instance that has not taken a request within kAnswerTimeoutMs is
// skipped for it. The requests to one instance reach it in the order they were made.
// Connections to this instance's socket that send no request are closed after
// kIdleTimeoutMs, and at most kMaxConnections are kept open (the oldest gives way), so
// that no neighbour can use up the file descriptors the socket needs to take the next.
//
// A request is the message number in decimal on a line of its own. A start may carry
// the moment its sender's first step is heard on a second line, "origin " and the
// CLOCK_MONOTONIC nanoseconds less kFormerLeadNs, written together with the first: the
// versions whose lead was fixed at kFormerLeadNs send and read that line as the moment
// their first step is sent, so that they meet the same moment. An instance that reads
// only the first line starts at once as before, and a start without the second line
// starts at once here.
//
// Each instance also makes its lead known (PublishLead): a file "lead-" and its process
// id beside its socket holds it in decimal nanoseconds, so that a start can be placed
// where every instance meets it without asking any of them. While an instance is stopped
// and quiet a second line holds the shorter lead with which it meets a start then (its
// output writes over its queue); versions that read one line take the first.
class LocalInstanceLink : public QObject, public InstanceLink {
public:
    static constexpr int kMaxInstances = 100;
    // How long after a Broadcast an instance may take its request; one that has not by
    // then is skipped for it. Nothing waits for this: it only bounds how long a request
    // to an instance that hangs may hold up the next one to it.
    static constexpr int kAnswerTimeoutMs = 2000;
    // The most requests waiting behind the one on its way to one instance.
    static constexpr size_t kMaxWaiting = 8;
    // How long a connection to this instance may stay open without a whole request.
    static constexpr int kIdleTimeoutMs = 3000;
    // The most connections to this instance kept open at once.
    static constexpr int kMaxConnections = 32;
    static constexpr const char* kFolderName = "marrowbeat";
    static constexpr const char* kSocketPrefix = "instance-";
    static constexpr const char* kOriginPrefix = "origin ";
    static constexpr const char* kLeadPrefix = "lead-";
    // What the origin line's moment is short of the moment the first step is heard.
    static constexpr int64_t kFormerLeadNs = 120'000'000;
    // A lead file that says more than this is not believed.
    static constexpr int64_t kMaxLeadNs = 2'000'000'000;

    // Reads the window's title now.
    using TitleSource = std::function<std::string()>;
    // Queues a message for the window; heardNs is 0 unless a start carried the moment
    // its first step is heard.
    using Poster = std::function<void(int message, int64_t heardNs)>;
    // Whether this instance is playing now.
    using PlayingSource = std::function<bool()>;
    // A Broadcast is over: every other instance has answered or been skipped. posted
    // counts the windows it was posted to, this instance's own included.
    using RoundObserver = std::function<void(int message, unsigned posted)>;
    // The request that asks an instance whether it is playing (for tools and tests); the
    // answer is '1' or '0'.
    static constexpr const char* kPlayingQuery = "?";

    LocalInstanceLink();
    ~LocalInstanceLink() override;

    // Starts listening. folder empty: kFolderName in the user's runtime directory. The
    // folder is used only when it is this user's own and closed to everyone else (it is
    // made so when missing); otherwise the instance listens in a private folder of its
    // own next to it, where no other instance finds it, and says so on stderr. False when
    // the socket could not be opened (the instance then neither hears nor is counted by
    // others).
    bool
    Listen(TitleSource title, Poster poster, PlayingSource playing, const std::string& folder = {});
    // lParam of MSG_REMOTE_START: the moment the first step is heard, or 0. Returns at
    // once: 1 when the message was posted to this instance's own window, else 0; the
    // other instances' answers reach the round observer.
    unsigned Broadcast(int message, intptr_t wParam, intptr_t lParam) override;
    // Whether the folder holds the socket of another running instance. Looks at the
    // folder and the process table only, never at the other instances' sockets.
    bool HasOthers() override;
    // The longest lead the other running instances have made known (their lead files;
    // with `quick` the quick one where there is one), 0 when none has. Reads the folder only.
    int64_t OthersLeadNs(bool quick) override;
    // Makes this instance's lead known to the others (after Listen), and quickNs, the lead
    // with which its output meets a start while nothing sounds (0: it cannot), as the
    // output found it at atNs. The quick lead is made known only while this instance is
    // stopped, and only when found after its last start or stop.
    void PublishLead(int64_t leadNs, int64_t quickNs = 0, int64_t atNs = 0);
    // Window thread: this instance started or stopped a run. Until its output says again
    // that it is quiet, only the full lead holds (a run that stops still rings).
    void RunChanged() override;
    // What this instance has made known that it needs now: the quick lead where its file
    // holds one, else its lead.
    int64_t OwnLeadNs() override { return QuickNow() ? quickNs_ : leadNs_; }
    // Told when each Broadcast is over (for tools and tests).
    void SetRoundObserver(RoundObserver observer) { roundObserver_ = std::move(observer); }

    // Whether a title carries the program's caption mark.
    static bool HasCaptionMark(const std::string& title);
    // The folder the sockets are in.
    std::string Folder() const { return folder_; }

private:
    struct Round {
        // Past this, a request of the round is no longer sent.
        QDeadlineTimer deadline;
        int message = 0;
        unsigned posted = 0;
        int outstanding = 0;
    };
    struct Request {
        std::shared_ptr<Round> round;
        QByteArray bytes;
    };
    // Another instance as Broadcast talks to it: one request on its way, the next ones
    // waiting behind it in order (at most kMaxWaiting; the oldest gives way).
    struct Peer {
        QLocalSocket* socket = nullptr;
        std::shared_ptr<Round> round;
        std::deque<Request> waiting;
    };

    // Takes the connections waiting on this instance's socket.
    void OnConnection();
    void OnRequest(QLocalSocket* socket);
    bool Deliver(int message, int64_t heardNs);
    // The lead file of the instance with the process id in a socket's name.
    std::string LeadPath(const std::string& socketPath) const;
    // Whether the quick lead holds now: one was found since the last start or stop, and
    // this instance is stopped.
    bool QuickNow() const;
    // The sockets of the running instances, this one's included, among the first
    // kMaxInstances names of the folder; those of instances that are gone are removed.
    std::vector<std::string> Instances();
    void Send(const std::string& path, Request request);
    // Sends the first request of the queue whose round has time left; the others are
    // skipped.
    void Open(const std::string& path, std::deque<Request> queue);
    // The request on its way to path is answered (posted tells whether it was posted) or
    // given up on.
    void Answered(const std::string& path, QLocalSocket* socket, bool posted);
    void Settle(const std::shared_ptr<Round>& round, bool posted);

    std::unique_ptr<QLocalServer> server_;
    std::deque<QPointer<QLocalSocket>> connections_;
    std::map<std::string, Peer> peers_;
    std::string folder_;
    // The private folder made because the usual one was not safe; removed at the end.
    std::string madeFolder_;
    std::string ownPath_;
    TitleSource title_;
    Poster poster_;
    PlayingSource playing_;
    RoundObserver roundObserver_;
    // What PublishLead was last given, and when the last run began or ended (monotonic).
    int64_t leadNs_ = 0;
    int64_t quickNs_ = 0;
    int64_t changedAtNs_ = 0;
    std::string published_;
};

} // namespace mb
