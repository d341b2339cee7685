#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QObject>

#include "engine/SequencerPorts.h"

class QLocalServer;

namespace mb {

// The running instances find each other through local sockets: each listens on one in
// the user's runtime directory, named after its process id. Broadcast walks those
// sockets (at most kMaxInstances) and asks each instance to post the message to its
// window; an instance posts it only when its window title begins with the program's
// eleven-character caption mark. Sockets left behind by instances that are gone are
// removed on the way. Window thread only.
class LocalInstanceLink : public QObject, public InstanceLink {
public:
    static constexpr int kMaxInstances = 100;
    // How long Broadcast waits for one other instance to answer.
    static constexpr int kAnswerTimeoutMs = 300;
    static constexpr const char* kFolderName = "marrowbeat";
    static constexpr const char* kSocketPrefix = "instance-";

    // Reads the window's title now.
    using TitleSource = std::function<std::string()>;
    // Queues a message for the window.
    using Poster = std::function<void(int message)>;
    // Whether this instance is playing now.
    using PlayingSource = std::function<bool()>;
    // The request that asks an instance whether it is playing (for tools and tests); the
    // answer is '1' or '0'.
    static constexpr const char* kPlayingQuery = "?";

    LocalInstanceLink();
    ~LocalInstanceLink() override;

    // Starts listening. folder empty: the user's runtime directory. False when the socket
    // could not be opened (the instance then neither hears nor is counted by others).
    bool
    Listen(TitleSource title, Poster poster, PlayingSource playing, const std::string& folder = {});
    unsigned Broadcast(int message, intptr_t wParam, intptr_t lParam) override;

    // Whether a title carries the program's caption mark.
    static bool HasCaptionMark(const std::string& title);
    std::string Folder() const { return folder_; }

private:
    // Handles one request on an accepted connection.
    void OnConnection();
    bool Deliver(int message);

    std::unique_ptr<QLocalServer> server_;
    std::string folder_;
    std::string ownPath_;
    TitleSource title_;
    Poster poster_;
    PlayingSource playing_;
};

} // namespace mb
