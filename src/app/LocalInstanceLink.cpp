#include "app/LocalInstanceLink.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <vector>

#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <unistd.h>

#include "files/SetupDocument.h"

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

// The process id in a socket's name, or 0.
pid_t OwnerOf(const std::string& name) {
    const std::string prefix = LocalInstanceLink::kSocketPrefix;
    if (name.rfind(prefix, 0) != 0)
        return 0;
    try {
        return static_cast<pid_t>(std::stol(name.substr(prefix.size())));
    } catch (...) {
        return 0;
    }
}

} // namespace

LocalInstanceLink::LocalInstanceLink() = default;

LocalInstanceLink::~LocalInstanceLink() {
    if (server_)
        server_->close();
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
    if (!folder.empty()) {
        folder_ = folder;
    } else {
        QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (runtime.isEmpty())
            runtime = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
        folder_ = (fs::path(runtime.toStdString()) / kFolderName).string();
    }
    std::error_code error;
    fs::create_directories(folder_, error);
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::replace, error);
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

bool LocalInstanceLink::Deliver(int message, int64_t originNs) {
    if (!IsBroadcastMessage(message) || !title_ || !poster_ || !HasCaptionMark(title_()))
        return false;
    poster_(message, message == MSG_REMOTE_START ? originNs : 0);
    return true;
}

void LocalInstanceLink::OnConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            const QByteArray data = socket->peek(kMaxRequest + kMaxOriginLine);
            const qsizetype end = data.indexOf('\n');
            if (end < 0) {
                // Anything longer than a request is not one: drop the connection.
                if (socket->bytesAvailable() > kMaxRequest)
                    socket->abort();
                return;
            }
            const QByteArray line = data.left(end).trimmed();
            // An origin line is written together with its start: when part of it is
            // here, the rest is on its way.
            const qsizetype originEnd = data.indexOf('\n', end + 1);
            if (line == QByteArray::number(MSG_REMOTE_START) && data.size() > end + 1 &&
                originEnd < 0 && data.size() < kMaxRequest + kMaxOriginLine)
                return;
            socket->readAll();
            bool yes = false;
            if (line == kPlayingQuery) {
                yes = playing_ && playing_();
            } else {
                bool ok = false;
                const int message = line.toInt(&ok);
                int64_t origin = 0;
                const QByteArray second = data.mid(end + 1, originEnd - end - 1).trimmed();
                if (originEnd > 0 && second.startsWith(kOriginPrefix)) {
                    bool valid = false;
                    origin = second.mid(qsizetype(std::strlen(kOriginPrefix))).toLongLong(&valid);
                    if (!valid || origin < 0)
                        origin = 0;
                }
                yes = ok && Deliver(message, origin);
            }
            socket->write(QByteArray(1, yes ? kAnswerPosted : kAnswerIgnored));
            socket->flush();
            socket->disconnectFromServer();
        });
    }
}

std::vector<std::string> LocalInstanceLink::Instances() {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
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
        if (owner <= 0)
            continue;
        if (kill(owner, 0) != 0 && errno == ESRCH) {
            // Left behind by an instance that is gone.
            QLocalServer::removeServer(QString::fromStdString(path));
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
    QByteArray request = QByteArray::number(message) + '\n';
    if (message == MSG_REMOTE_START && lParam > 0)
        request += kOriginPrefix + QByteArray::number(static_cast<qint64>(lParam)) + '\n';
    unsigned count = 0;
    for (const std::string& path : Instances()) {
        if (path == ownPath_) {
            // This instance's own window: no round trip through the socket, whose server
            // runs on this very thread.
            if (Deliver(message, lParam))
                ++count;
            continue;
        }
        QLocalSocket socket;
        socket.connectToServer(QString::fromStdString(path));
        if (!socket.waitForConnected(kAnswerTimeoutMs))
            continue;
        // One write: a reader gets the origin line with its start.
        socket.write(request);
        socket.waitForBytesWritten(kAnswerTimeoutMs);
        if (socket.waitForReadyRead(kAnswerTimeoutMs)) {
            char answer = 0;
            if (socket.getChar(&answer) && answer == kAnswerPosted)
                ++count;
        }
        socket.disconnectFromServer();
    }
    return count;
}

} // namespace mb
