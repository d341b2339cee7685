#include "connections/LocalInstanceLink.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/SetupDocument.h"
#include "platform/Clocks.h"

namespace mb {

namespace {

namespace fs = std::filesystem;

constexpr char kAnswerPosted = '1';
constexpr char kAnswerIgnored = '0';
// A request line is the message number in decimal and a newline; nothing longer is read.
constexpr qint64 kMaxRequest = 16;
// The origin line that may follow a start.
constexpr qint64 kMaxOriginLine = 40;

bool IsBroadcastMessage(int message) {
    return message == MSG_REMOTE_START || message == MSG_REMOTE_STOP;
}

// The process id in a socket's name (all digits after the prefix), or 0.
pid_t OwnerOf(const std::string& name) {
    const std::string prefix = LocalInstanceLink::kSocketPrefix;
    if (name.rfind(prefix, 0) != 0 || name.size() == prefix.size() ||
        !std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    pid_t pid = 0;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    const auto [end, error] = std::from_chars(first, last, pid);
    return error == std::errc{} && end == last ? pid : 0;
}

// Whether path is a folder of this user's that nobody else may enter (not a link to one).
bool IsPrivateFolder(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 0077) == 0 &&
           (info.st_mode & 0700) == 0700;
}

// The folder the sockets go in: wanted when it is private (made so when it is missing),
// else a new private folder next to it or in the temporary folder, whose name goes to
// made. Empty when there is none.
std::string SocketFolder(const std::string& wanted, std::string* made) {
    std::error_code error;
    const fs::path parent = fs::path(wanted).parent_path();
    if (!parent.empty())
        fs::create_directories(parent, error);
    // The umask may have taken some of the owner's rights; no one else's are added.
    if (::mkdir(wanted.c_str(), 0700) == 0)
        ::chmod(wanted.c_str(), 0700);
    if (IsPrivateFolder(wanted))
        return wanted;
    std::vector<fs::path> places;
    if (!parent.empty())
        places.push_back(parent);
    places.push_back(QStandardPaths::writableLocation(QStandardPaths::TempLocation).toStdString());
    places.push_back("/tmp");
    for (const fs::path& place : places) {
        std::string pattern =
            (place / (std::string(LocalInstanceLink::kFolderName) + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            *made = pattern;
            return pattern;
        }
    }
    return {};
}

// A request as far as it has come in.
struct ParsedRequest {
    enum Kind {
        kIncomplete,
        kInvalid,
        kPlayingQuery,
        kMessage,
    };
    Kind kind = kIncomplete;
    int message = 0;
    int64_t origin = 0;
};

// Reads the first kMaxRequest + kMaxOriginLine bytes of a connection.
ParsedRequest ParseRequest(const QByteArray& data) {
    const qsizetype end = data.indexOf('\n');
    if (end < 0)
        return {data.size() > kMaxRequest ? ParsedRequest::kInvalid : ParsedRequest::kIncomplete};
    // Anything longer than a request is not one.
    if (end > kMaxRequest)
        return {ParsedRequest::kInvalid};
    const QByteArray line = data.left(end).trimmed();
    if (line == LocalInstanceLink::kPlayingQuery)
        return {ParsedRequest::kPlayingQuery};
    bool ok = false;
    const int message = line.toInt(&ok);
    ParsedRequest request{ParsedRequest::kMessage, ok ? message : 0, 0};
    if (request.message != MSG_REMOTE_START)
        return request;
    const qsizetype originEnd = data.indexOf('\n', end + 1);
    if (originEnd < 0) {
        // An origin line is written together with its start: when part of it is here,
        // the rest is on its way.
        if (data.size() > end + 1 && data.size() < kMaxRequest + kMaxOriginLine)
            request.kind = ParsedRequest::kIncomplete;
        return request;
    }
    const QByteArray second = data.mid(end + 1, originEnd - end - 1).trimmed();
    if (second.startsWith(LocalInstanceLink::kOriginPrefix)) {
        bool valid = false;
        const qint64 origin =
            second.mid(qsizetype(std::strlen(LocalInstanceLink::kOriginPrefix))).toLongLong(&valid);
        request.origin = valid && origin > 0 ? origin : 0;
    }
    return request;
}

} // namespace

LocalInstanceLink::LocalInstanceLink() = default;

LocalInstanceLink::~LocalInstanceLink() {
    // The sockets' handlers reach into this object: none may run while it goes.
    for (auto& [path, peer] : peers_) {
        if (peer.socket != nullptr) {
            peer.socket->disconnect();
            delete peer.socket;
        }
    }
    peers_.clear();
    if (server_) {
        for (const QPointer<QLocalSocket>& socket : connections_)
            if (socket)
                socket->disconnect(this);
        server_->close();
        server_.reset();
        ::unlink(LeadPath(ownPath_).c_str());
    }
    if (!madeFolder_.empty())
        ::rmdir(madeFolder_.c_str());
}

bool LocalInstanceLink::HasCaptionMark(const std::string& title) {
    const QString mark =
        QString::fromUtf8(SetupDocument::kCaptionPrefix).left(SetupDocument::kCaptionMarkLength);
    return QString::fromStdString(title).startsWith(mark);
}

bool LocalInstanceLink::Listen(TitleSource title,
                               Poster poster,
                               PlayingSource playing,
                               const std::string& folder) {
    title_ = std::move(title);
    poster_ = std::move(poster);
    playing_ = std::move(playing);
    std::string wanted = folder;
    if (wanted.empty()) {
        QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (runtime.isEmpty())
            runtime = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
        wanted = (fs::path(runtime.toStdString()) / kFolderName).string();
    }
    folder_ = SocketFolder(wanted, &madeFolder_);
    if (folder_.empty()) {
        std::fprintf(stderr,
                     "marrowbeat: %s is not a private folder of this user's and no other "
                     "could be made: this instance does not talk to the others\n",
                     wanted.c_str());
        return false;
    }
    if (!madeFolder_.empty())
        std::fprintf(stderr,
                     "marrowbeat: %s is not a private folder of this user's: this instance "
                     "listens in %s, where the others do not find it\n",
                     wanted.c_str(), folder_.c_str());
    ownPath_ = (fs::path(folder_) / (kSocketPrefix + std::to_string(getpid()))).string();
    QLocalServer::removeServer(QString::fromStdString(ownPath_));
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(QString::fromStdString(ownPath_))) {
        server_.reset();
        return false;
    }
    connect(server_.get(), &QLocalServer::newConnection, this, &LocalInstanceLink::OnConnection);
    return true;
}

bool LocalInstanceLink::Deliver(int message, int64_t heardNs) {
    if (!IsBroadcastMessage(message) || !title_ || !poster_ || !HasCaptionMark(title_()))
        return false;
    poster_(message, message == MSG_REMOTE_START ? heardNs : 0);
    return true;
}

std::string LocalInstanceLink::LeadPath(const std::string& socketPath) const {
    const std::string name = fs::path(socketPath).filename().string();
    return (fs::path(folder_) / (kLeadPrefix + name.substr(std::strlen(kSocketPrefix)))).string();
}

void LocalInstanceLink::PublishLead(int64_t leadNs, int64_t quickNs, int64_t atNs) {
    if (!server_ || leadNs < 0)
        return;
    leadNs_ = leadNs;
    quickNs_ = atNs > changedAtNs_ ? quickNs : 0;
    std::string text = std::to_string(leadNs) + "\n";
    if (QuickNow())
        text += std::to_string(quickNs_) + "\n";
    if (text == published_)
        return;
    // Written whole under another name and renamed: a reader sees the old or the new.
    const std::string path = LeadPath(ownPath_);
    const std::string temporary = path + ".new";
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0)
        ::unlink(temporary.c_str());
    else
        published_ = text;
}

bool LocalInstanceLink::QuickNow() const {
    return quickNs_ > 0 && quickNs_ < leadNs_ && (!playing_ || !playing_());
}

void LocalInstanceLink::RunChanged() {
    changedAtNs_ = MonotonicNs();
    PublishLead(leadNs_);
}

int64_t LocalInstanceLink::OthersLeadNs(bool quick) {
    int64_t longest = 0;
    for (const std::string& socket : Instances()) {
        if (socket == ownPath_)
            continue;
        // A regular file of a few digits, or nothing is believed.
        const int fd =
            ::open(LeadPath(socket).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info {};
        char text[48] = {};
        ssize_t length = 0;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
            length = ::read(fd, text, sizeof(text) - 1);
        ::close(fd);
        // A line of digits and a newline (or the end), read from `from`; 0 when not.
        const char* end = text + std::max<ssize_t>(length, 0);
        const auto line = [end](const char* from, const char** next) -> int64_t {
            int64_t value = 0;
            const auto [last, error] = std::from_chars(from, end, value);
            if (error != std::errc{} || last == from || (last != end && *last != '\n'))
                return 0;
            *next = last == end ? end : last + 1;
            return value;
        };
        const char* next = end;
        const int64_t lead = line(text, &next);
        if (lead <= 0 || lead > kMaxLeadNs)
            continue;
        const int64_t shorter = quick && next != end ? line(next, &next) : 0;
        longest = std::max(longest, shorter > 0 && shorter < lead ? shorter : lead);
    }
    return longest;
}

void LocalInstanceLink::OnConnection() {
    while (server_->hasPendingConnections()) {
        connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                          [](const QPointer<QLocalSocket>& socket) {
                                              return socket.isNull() ||
                                                     socket->state() ==
                                                         QLocalSocket::UnconnectedState;
                                          }),
                           connections_.end());
        if (connections_.size() >= static_cast<size_t>(kMaxConnections)) {
            // A request is read as soon as it comes in: the oldest connection is the one
            // most likely to be idle.
            QLocalSocket* oldest = connections_.front();
            connections_.pop_front();
            oldest->disconnect(this);
            oldest->abort();
            oldest->deleteLater();
        }
        QLocalSocket* socket = server_->nextPendingConnection();
        if (socket == nullptr)
            break;
        connections_.emplace_back(socket);
        socket->setReadBufferSize(kMaxRequest + kMaxOriginLine);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnRequest(socket); });
        QTimer::singleShot(kIdleTimeoutMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    }
}

void LocalInstanceLink::OnRequest(QLocalSocket* socket) {
    const ParsedRequest request = ParseRequest(socket->peek(kMaxRequest + kMaxOriginLine));
    if (request.kind == ParsedRequest::kIncomplete)
        return;
    // One request a connection.
    socket->disconnect(this);
    if (request.kind == ParsedRequest::kInvalid) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->readAll();
    const int64_t heard = request.origin > 0 && request.origin <= INT64_MAX - kFormerLeadNs
                              ? request.origin + kFormerLeadNs
                              : 0;
    const bool yes = request.kind == ParsedRequest::kPlayingQuery ? playing_ && playing_()
                                                                  : Deliver(request.message, heard);
    socket->write(QByteArray(1, yes ? kAnswerPosted : kAnswerIgnored));
    socket->flush();
    socket->disconnectFromServer();
}

std::vector<std::string> LocalInstanceLink::Instances() {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.rfind(kSocketPrefix, 0) == 0)
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    if (names.size() > static_cast<size_t>(kMaxInstances))
        names.resize(kMaxInstances);
    std::vector<std::string> running;
    for (const std::string& name : names) {
        const std::string path = (fs::path(folder_) / name).string();
        if (path == ownPath_) {
            running.push_back(path);
            continue;
        }
        const pid_t owner = OwnerOf(name);
        struct stat info {};
        if (owner <= 0 || ::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
            continue;
        if (kill(owner, 0) != 0 && errno == ESRCH) {
            // Left behind by an instance that is gone, with its lead.
            ::unlink(path.c_str());
            ::unlink(LeadPath(path).c_str());
            continue;
        }
        running.push_back(path);
    }
    return running;
}

bool LocalInstanceLink::HasOthers() {
    const std::vector<std::string> running = Instances();
    return std::any_of(running.begin(), running.end(),
                       [this](const std::string& path) { return path != ownPath_; });
}

unsigned LocalInstanceLink::Broadcast(int message, intptr_t, intptr_t lParam) {
    // One write: a reader gets the origin line with its start.
    QByteArray bytes = QByteArray::number(message) + '\n';
    if (message == MSG_REMOTE_START && lParam > kFormerLeadNs)
        bytes +=
            kOriginPrefix + QByteArray::number(static_cast<qint64>(lParam - kFormerLeadNs)) + '\n';
    auto round = std::make_shared<Round>();
    round->deadline = QDeadlineTimer(kAnswerTimeoutMs);
    round->message = message;
    // Held until every request is on its way, so that the round cannot end before.
    round->outstanding = 1;
    unsigned own = 0;
    for (const std::string& path : Instances()) {
        if (path == ownPath_) {
            // This instance's own window: no round trip through the socket.
            own = Deliver(message, lParam) ? 1 : 0;
            round->posted += own;
            continue;
        }
        ++round->outstanding;
        Send(path, Request{round, bytes});
    }
    Settle(round, false);
    return own;
}

void LocalInstanceLink::Send(const std::string& path, Request request) {
    Peer& peer = peers_[path];
    if (peer.socket == nullptr) {
        std::deque<Request> queue;
        queue.push_back(std::move(request));
        Open(path, std::move(queue));
        return;
    }
    if (peer.waiting.size() >= kMaxWaiting) {
        Settle(peer.waiting.front().round, false);
        peer.waiting.pop_front();
    }
    peer.waiting.push_back(std::move(request));
}

void LocalInstanceLink::Open(const std::string& path, std::deque<Request> queue) {
    while (!queue.empty() && queue.front().round->deadline.hasExpired()) {
        Settle(queue.front().round, false);
        queue.pop_front();
    }
    if (queue.empty()) {
        peers_.erase(path);
        return;
    }
    Request request = std::move(queue.front());
    queue.pop_front();
    auto* socket = new QLocalSocket(this);
    Peer& peer = peers_[path];
    peer.socket = socket;
    peer.round = request.round;
    peer.waiting = std::move(queue);
    // The answer, if it came, and the end of the request, whatever ended it.
    const auto finish = [this, path, socket] {
        char answer = 0;
        const bool posted =
            socket->bytesAvailable() > 0 && socket->getChar(&answer) && answer == kAnswerPosted;
        Answered(path, socket, posted);
    };
    connect(socket, &QLocalSocket::connected, socket, [socket, bytes = request.bytes] {
        socket->write(bytes);
        socket->flush();
    });
    connect(socket, &QLocalSocket::readyRead, this, [socket, finish] {
        if (socket->bytesAvailable() > 0)
            finish();
    });
    connect(socket, &QLocalSocket::errorOccurred, this, finish);
    connect(socket, &QLocalSocket::disconnected, this, finish);
    QTimer::singleShot(static_cast<int>(request.round->deadline.remainingTime()), socket,
                       [this, path, socket] { Answered(path, socket, false); });
    socket->connectToServer(QString::fromStdString(path));
}

void LocalInstanceLink::Answered(const std::string& path, QLocalSocket* socket, bool posted) {
    const auto it = peers_.find(path);
    if (it == peers_.end() || it->second.socket != socket)
        return;
    const std::shared_ptr<Round> round = std::move(it->second.round);
    std::deque<Request> next = std::move(it->second.waiting);
    peers_.erase(it);
    socket->disconnect();
    socket->abort();
    socket->deleteLater();
    Settle(round, posted);
    if (!next.empty())
        Open(path, std::move(next));
}

void LocalInstanceLink::Settle(const std::shared_ptr<Round>& round, bool posted) {
    if (posted)
        ++round->posted;
    if (--round->outstanding > 0 || !roundObserver_)
        return;
    // Reported from the event loop, never from inside Broadcast.
    QMetaObject::invokeMethod(
        this,
        [this, message = round->message, count = round->posted] {
            if (roundObserver_)
                roundObserver_(message, count);
        },
        Qt::QueuedConnection);
}

} // namespace mb
