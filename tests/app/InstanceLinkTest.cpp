// The instance link inside one process: which messages it delivers to its own window,
// the caption mark, requests that are not messages, and sockets of instances that are
// gone.
#include <filesystem>
#include <fstream>

#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "WidgetTestSupport.h"
#include "app/LocalInstanceLink.h"

namespace mb {
namespace {

namespace fs = std::filesystem;

class InstanceLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApplication();
        ASSERT_TRUE(link.Listen([this] { return title; },
                                [this](int message, int64_t origin) {
                                    posted.push_back(message);
                                    origins.push_back(origin);
                                },
                                [] { return true; }, dir.path().toStdString()));
    }
    // Sends one request line over a socket and returns the answer.
    QByteArray Ask(const QByteArray& request) {
        QLocalSocket socket;
        socket.connectToServer(QString::fromStdString(dir.path().toStdString() + "/" +
                                                      LocalInstanceLink::kSocketPrefix +
                                                      std::to_string(getpid())));
        socket.write(request);
        QByteArray answer;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            answer += socket.readAll();
            return !answer.isEmpty();
        }));
        return answer;
    }

    QTemporaryDir dir;
    std::string title = " -  +  \u00F7  x :   Untitled using: kit";
    std::vector<int> posted;
    std::vector<int64_t> origins;
    LocalInstanceLink link;
};

TEST_F(InstanceLinkTest, DeliversStartAndStopOnlyToAWindowWithTheCaptionMark) {
    EXPECT_EQ(link.Broadcast(MSG_REMOTE_START, 0, 0), 1u);
    EXPECT_EQ(link.Broadcast(MSG_REMOTE_STOP, 0, 0), 1u);
    EXPECT_EQ(link.Broadcast(MSG_STEP_PLAYED, 0, 0), 0u);
    EXPECT_EQ(posted, (std::vector<int>{MSG_REMOTE_START, MSG_REMOTE_STOP}));

    // Ten characters of the mark are not enough.
    title = " -  +  \u00F7  ";
    EXPECT_EQ(link.Broadcast(MSG_REMOTE_START, 0, 0), 0u);
    EXPECT_EQ(posted.size(), 2u);
}

TEST_F(InstanceLinkTest, RequestsThatAreNotMessagesChangeNothing) {
    EXPECT_EQ(Ask("hello\n"), "0");
    EXPECT_EQ(Ask("1074\n"), "0");
    EXPECT_EQ(Ask(QByteArray(LocalInstanceLink::kPlayingQuery) + "\n"), "1");
    EXPECT_EQ(Ask("1124\n"), "1");
    EXPECT_EQ(posted, (std::vector<int>{MSG_REMOTE_START}));
}

TEST_F(InstanceLinkTest, AStartCarriesItsOriginOnASecondLineThatOlderInstancesNeverRead) {
    // What another instance sends: the start line alone (an older sender) or with the
    // origin line after it.
    struct Case {
        QByteArray request;
        int message;
        int64_t origin;
    };
    const Case cases[] = {
        {"1124\norigin 123456789012\n", MSG_REMOTE_START, 123456789012},
        {"1124\n", MSG_REMOTE_START, 0},
        {"1124\norigin -5\n", MSG_REMOTE_START, 0},
        {"1124\norigin soon\n", MSG_REMOTE_START, 0},
        {"1224\norigin 77\n", MSG_REMOTE_STOP, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Ask(c.request), "1") << c.request.constData();
        ASSERT_FALSE(posted.empty());
        EXPECT_EQ(posted.back(), c.message) << c.request.constData();
        EXPECT_EQ(origins.back(), c.origin) << c.request.constData();
    }

    // What this instance sends to another (here a bare socket that never answers): the
    // first line alone is the request an older instance reads.
    const std::string otherPath = dir.path().toStdString() + "/" +
                                  LocalInstanceLink::kSocketPrefix + std::to_string(getppid());
    QLocalServer other;
    ASSERT_TRUE(other.listen(QString::fromStdString(otherPath)));
    EXPECT_TRUE(link.HasOthers());
    EXPECT_EQ(link.Broadcast(MSG_REMOTE_START, 0, 987654321), 1u);
    ASSERT_TRUE(other.waitForNewConnection(1000));
    QLocalSocket* received = other.nextPendingConnection();
    ASSERT_TRUE(QTest::qWaitFor([&] { return received->canReadLine(); }));
    EXPECT_EQ(received->readLine(16), "1124\n");
    EXPECT_EQ(received->readAll(), "origin 987654321\n");
    EXPECT_EQ(origins.back(), 987654321);
}

TEST_F(InstanceLinkTest, SocketsOfInstancesThatAreGoneAreRemoved) {
    // No process has this id (above the kernel's largest).
    const fs::path stale = fs::path(dir.path().toStdString()) /
                           (std::string(LocalInstanceLink::kSocketPrefix) + "2147483000");
    std::ofstream(stale) << "";
    const fs::path other = fs::path(dir.path().toStdString()) / "unrelated";
    std::ofstream(other) << "";
    EXPECT_FALSE(link.HasOthers());
    EXPECT_FALSE(fs::exists(stale));
    std::ofstream(stale) << "";
    EXPECT_EQ(link.Broadcast(MSG_REMOTE_START, 0, 0), 1u);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(other));
}

TEST(CaptionMark, IsTheFirstElevenCharactersOfTheTitle) {
    EXPECT_TRUE(LocalInstanceLink::HasCaptionMark(" -  +  \u00F7  x"));
    EXPECT_TRUE(LocalInstanceLink::HasCaptionMark(" -  +  \u00F7  x another program"));
    EXPECT_FALSE(LocalInstanceLink::HasCaptionMark(" -  +  /  x :   Untitled"));
    EXPECT_FALSE(LocalInstanceLink::HasCaptionMark(""));
}

} // namespace
} // namespace mb
