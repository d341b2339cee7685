// The instance link inside one process: which messages it delivers to its own window,
// the caption mark, requests that are not messages, and sockets of instances that are
// gone.
#include <filesystem>
#include <fstream>

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

TEST_F(InstanceLinkTest, SocketsOfInstancesThatAreGoneAreRemoved) {
    // No process has this id (above the kernel's largest).
    const fs::path stale = fs::path(dir.path().toStdString()) /
                           (std::string(LocalInstanceLink::kSocketPrefix) + "2147483000");
    std::ofstream(stale) << "";
    const fs::path other = fs::path(dir.path().toStdString()) / "unrelated";
    std::ofstream(other) << "";
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
