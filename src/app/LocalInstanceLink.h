#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

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
//
// A request is the message number in decimal on a line of its own. A start may carry
// the moment its sender's first step sounds on a second line, "origin " and the
// CLOCK_MONOTONIC nanoseconds, written together with the first: an instance that reads
// only the first line starts at once as before, and a start without the second line
// starts at once here.
class LocalInstanceLink : public QObject, public InstanceLink {
public:
    static constexpr int kMaxInstances = 100;
    // How long Broadcast waits for one other instance to answer.
    static constexpr int kAnswerTimeoutMs = 300;
    static constexpr const char* kFolderName = "marrowbeat";
    static constexpr const char* kSocketPrefix = "instance-";
    static constexpr const char* kOriginPrefix = "origin ";

    // Reads the window's title now.
    using TitleSource = std::function<std::string()>;
    // Queues a message for the window; originNs is 0 unless a start carried its moment.
    using Poster = std::function<void(int message, int64_t originNs)>;
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
    // lParam of MSG_REMOTE_START: the moment of the first step, or 0.
    unsigned Broadcast(int message, intptr_t wParam, intptr_t lParam) override;
    bool HasOthers() override;

    // Whether a title carries the program's caption mark.
    static bool HasCaptionMark(const std::string& title);
    std::string Folder() const { return folder_; }

private:
    // Handles one request on an accepted connection.
    void OnConnection();
    bool Deliver(int message, int64_t originNs);
    // The sockets of the running instances, this one's included, among the first
    // kMaxInstances names of the folder; those of instances that are gone are removed.
    std::vector<std::string> Instances();

    std::unique_ptr<QLocalServer> server_;
    std::string folder_;
    std::string ownPath_;
    TitleSource title_;
    Poster poster_;
    PlayingSource playing_;
};

} // namespace mb
