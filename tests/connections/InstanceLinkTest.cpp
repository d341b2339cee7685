// The instance link inside one process: which messages it delivers to its own window,
// the caption mark, requests that are not messages, sockets of instances that are gone,
// neighbours that hang or never send a request, and the folder the sockets are in.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include "WidgetTestSupport.h"
#include "connections/LocalInstanceLink.h"
#include "platform/Clocks.h"

namespace mb {
namespace {

namespace fs = std::filesystem;

// A process whose id names a socket of the test's as a running instance's.
class Sleeper {
public:
    Sleeper() {
        char sleep[] = "sleep";
        char seconds[] = "60";
        char* argv[] = {sleep, seconds, nullptr};
        EXPECT_EQ(posix_spawnp(&pid_, "sleep", nullptr, nullptr, argv, environ), 0);
    }
    ~Sleeper() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = 0;
};

// A non-blocking connection to the socket at path, or minus the error number.
int ConnectTo(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -errno;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
        return fd;
    const int error = errno;
    close(fd);
    return -error;
}

class InstanceLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApplication();
        ASSERT_TRUE(link.Listen([this] { return title; },
                                [this](int message, int64_t origin) {
                                    posted.push_back(message);
                                    origins.push_back(origin);
                                },
                                [this] { return playing; }, dir.path().toStdString()));
    }
    // The socket an instance with process id pid listens on.
    QString SocketOf(pid_t pid) const {
        return dir.path() + "/" + LocalInstanceLink::kSocketPrefix + QString::number(pid);
    }
    // Sends one request line over a socket and returns the answer.
    QByteArray Ask(const QByteArray& request) {
        QLocalSocket socket;
        QObject::connect(&socket, &QLocalSocket::connected, [&] { socket.write(request); });
        socket.connectToServer(SocketOf(getpid()));
        QByteArray answer;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            if (socket.isOpen())
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
    bool playing = true;
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

TEST_F(InstanceLinkTest, AStartCarriesItsMomentOnASecondLineThatOlderInstancesNeverRead) {
    // What another instance sends: the start line alone (an older sender) or with the
    // origin line after it, which is the moment the first step is heard less the lead
    // older instances had.
    constexpr int64_t kFormer = LocalInstanceLink::kFormerLeadNs;
    struct Case {
        QByteArray request;
        int message;
        int64_t heard;
    };
    const Case cases[] = {
        {"1124\norigin 123456789012\n", MSG_REMOTE_START, 123456789012 + kFormer},
        {"1124\n", MSG_REMOTE_START, 0},
        {"1124\norigin -5\n", MSG_REMOTE_START, 0},
        {"1124\norigin soon\n", MSG_REMOTE_START, 0},
        {"1124\norigin 99999999999999999999999\n", MSG_REMOTE_START, 0},
        {"1124\norigin 9223372036854775800\n", MSG_REMOTE_START, 0},
        {"1224\norigin 77\n", MSG_REMOTE_STOP, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Ask(c.request), "1") << c.request.constData();
        ASSERT_FALSE(posted.empty());
        EXPECT_EQ(posted.back(), c.message) << c.request.constData();
        EXPECT_EQ(origins.back(), c.heard) << c.request.constData();
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
    EXPECT_EQ(received->readAll(), "origin 867654321\n");
    EXPECT_EQ(origins.back(), 987654321);
}

TEST_F(InstanceLinkTest, TheLongestLeadOfTheOtherRunningInstancesIsKnownFromTheirFiles) {
    // Another running instance (this test's parent) and one that is gone, each with a
    // lead file; this instance's own lead is not the others'.
    const fs::path folder = dir.path().toStdString();
    QLocalServer other;
    ASSERT_TRUE(other.listen(SocketOf(getppid())));
    const fs::path otherLead =
        folder / (std::string(LocalInstanceLink::kLeadPrefix) + std::to_string(getppid()));
    const fs::path goneLead = folder / (std::string(LocalInstanceLink::kLeadPrefix) + "2147483000");
    std::ofstream(goneLead) << "90000000\n";
    link.PublishLead(70'000'000);
    EXPECT_EQ(link.OthersLeadNs(false), 0);
    // What the other's file may hold: only a lead of a few digits is believed.
    struct Case {
        const char* text;
        int64_t lead;
    };
    const Case cases[] = {
        {"25000000\n", 25'000'000}, {"25000000", 25'000'000}, {"-5\n", 0}, {"soon\n", 0},
        {"25000000 and more\n", 0}, {"99999999999\n", 0},     {"", 0},
        // The quick lead of a stopped, quiet instance, when it is one.
        {"25000000\n10000000\n", 10'000'000}, {"25000000\n30000000\n", 25'000'000},
        {"25000000\nsoon\n", 25'000'000}, {"-5\n10000000\n", 0}};
    for (const Case& c : cases) {
        std::ofstream(otherLead, std::ios::trunc) << c.text;
        EXPECT_EQ(link.OthersLeadNs(true), c.lead) << c.text;
    }
    // A link in its place is not followed; the instance's own file goes with it.
    fs::remove(otherLead);
    fs::create_symlink(folder /
                           (std::string(LocalInstanceLink::kLeadPrefix) + std::to_string(getpid())),
                       otherLead);
    EXPECT_EQ(link.OthersLeadNs(false), 0);
    fs::remove(otherLead);
    const fs::path ownLead =
        folder / (std::string(LocalInstanceLink::kLeadPrefix) + std::to_string(getpid()));
    EXPECT_TRUE(fs::exists(ownLead));
    // This instance's quick lead is made known while it is stopped, from what its output
    // found after its last start or stop.
    const auto own = [&] {
        std::ifstream in(ownLead);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    playing = false;
    const int64_t before = MonotonicNs();
    link.PublishLead(70'000'000, 12'000'000, MonotonicNs());
    EXPECT_EQ(own(), "70000000\n12000000\n");
    EXPECT_EQ(link.OwnLeadNs(), 12'000'000);
    link.RunChanged();
    EXPECT_EQ(own(), "70000000\n");
    EXPECT_EQ(link.OwnLeadNs(), 70'000'000);
    link.PublishLead(70'000'000, 12'000'000, before);
    EXPECT_EQ(own(), "70000000\n");
    playing = true;
    link.PublishLead(70'000'000, 12'000'000, MonotonicNs());
    EXPECT_EQ(own(), "70000000\n");
}

TEST_F(InstanceLinkTest, SocketsOfInstancesThatAreGoneAreRemovedAndNothingElse) {
    // No process has these ids (above the kernel's largest). A socket file stays behind
    // when its listener ends without removing it.
    const fs::path folder = dir.path().toStdString();
    const fs::path stale = folder / (std::string(LocalInstanceLink::kSocketPrefix) + "2147483000");
    const auto leaveSocket = [&] {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, stale.c_str(), sizeof(address.sun_path) - 1);
        ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
        close(fd);
    };
    const fs::path notASocket =
        folder / (std::string(LocalInstanceLink::kSocketPrefix) + "2147483001");
    std::ofstream(notASocket) << "";
    const fs::path other = folder / "unrelated";
    std::ofstream(other) << "";
    leaveSocket();
    EXPECT_FALSE(link.HasOthers());
    EXPECT_FALSE(fs::exists(stale));
    leaveSocket();
    EXPECT_EQ(link.Broadcast(MSG_REMOTE_START, 0, 0), 1u);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(notASocket));
    EXPECT_TRUE(fs::exists(other));
}

TEST_F(InstanceLinkTest, InstancesThatNeverAnswerHoldUpNeitherTheWindowNorTheOthers) {
    std::vector<std::pair<int, unsigned>> rounds;
    link.SetRoundObserver(
        [&](int message, unsigned posted) { rounds.emplace_back(message, posted); });
    // Five instances that take the connection and never answer, and one that answers.
    Sleeper owners[6];
    std::vector<std::unique_ptr<QLocalServer>> hung;
    for (int i = 0; i < 5; ++i) {
        hung.push_back(std::make_unique<QLocalServer>());
        ASSERT_TRUE(hung.back()->listen(SocketOf(owners[i].pid())));
    }
    QLocalServer answering;
    ASSERT_TRUE(answering.listen(SocketOf(owners[5].pid())));
    QByteArray heard;
    QObject::connect(&answering, &QLocalServer::newConnection, [&] {
        QLocalSocket* socket = answering.nextPendingConnection();
        QObject::connect(socket, &QLocalSocket::readyRead, [&heard, socket] {
            heard += socket->readAll();
            socket->write("1");
        });
    });
    EXPECT_TRUE(link.HasOthers());

    // A start, and a stop and a start straight after it: each returns before any other
    // instance has read its request (they run on this thread), and each reaches the one
    // that answers, in order, while the others are still silent.
    EXPECT_EQ(link.Broadcast(MSG_REMOTE_START, 0, 987654321), 1u);
    EXPECT_EQ(link.Broadcast(MSG_REMOTE_STOP, 0, 0), 1u);
    EXPECT_EQ(link.Broadcast(MSG_REMOTE_START, 0, 5), 1u);
    EXPECT_TRUE(heard.isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return rounds.size() == 3; }, 60'000));
    EXPECT_EQ(heard, "1124\norigin 867654321\n1224\n1124\n");
    using Round = std::pair<int, unsigned>;
    EXPECT_EQ(rounds, (std::vector<Round>{
                          {MSG_REMOTE_START, 2}, {MSG_REMOTE_STOP, 2}, {MSG_REMOTE_START, 2}}));
    EXPECT_EQ(origins, (std::vector<int64_t>{987654321, 0, 5}));
}

TEST_F(InstanceLinkTest, ConnectionsThatSendNothingCannotUseUpTheSocket) {
    // Room for the neighbour's ends of its connections and for a bounded number of this
    // instance's, not for both ends of all of them.
    constexpr int kFlood = 300;
    int open = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++open;
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(open + kFlood + LocalInstanceLink::kMaxConnections + 60);
    ASSERT_LE(tight.rlim_cur, old.rlim_max);
    std::vector<int> idle;
    // However the test ends, the neighbour's ends are closed and the limit restored.
    const std::unique_ptr<rlimit, std::function<void(rlimit*)>> restore(&old, [&](rlimit* limit) {
        for (const int fd : idle)
            close(fd);
        setrlimit(RLIMIT_NOFILE, limit);
    });
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);

    // The neighbour connects as fast as the link takes its connections (a full queue
    // refuses more until then); once the link has stopped listening, nothing connects.
    const std::string path = SocketOf(getpid()).toStdString();
    const QDeadlineTimer patience(60'000);
    while (idle.size() < kFlood && !patience.hasExpired()) {
        const int fd = ConnectTo(path);
        if (fd >= 0)
            idle.push_back(fd);
        else if (fd != -EAGAIN)
            break;
        if (fd < 0 || idle.size() % 16 == 0)
            QCoreApplication::processEvents();
    }
    EXPECT_EQ(idle.size(), static_cast<size_t>(kFlood));
    EXPECT_EQ(Ask("1124\n"), "1");
    // Every one of them is closed: the neighbour reads the end of it.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return std::all_of(idle.begin(), idle.end(), [](int fd) {
                char byte = 0;
                return recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
            });
        },
        60'000));
}

TEST(InstanceFolder, IsUsedOnlyWhenItIsTheUsersOwnAndClosedToOthers) {
    test::EnsureApplication();
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const fs::path root = base.path().toStdString();
    fs::create_directories(root / "elsewhere");
    fs::permissions(root / "elsewhere", fs::perms::owner_all, fs::perm_options::replace);
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        bool used;
    };
    const Case cases[] = {
        {"missing", [](const fs::path&) {}, true},
        {"private", [](const fs::path& p) { mkdir(p.c_str(), 0700); }, true},
        {"open to its group", [](const fs::path& p) { mkdir(p.c_str(), 0750); }, false},
        {"writable by all",
         [](const fs::path& p) { mkdir(p.c_str(), 0777), chmod(p.c_str(), 01777); }, false},
        {"a link to a private folder",
         [&](const fs::path& p) { fs::create_directory_symlink(root / "elsewhere", p); }, false},
        {"a file", [](const fs::path& p) { std::ofstream(p) << ""; }, false},
        {"another user's",
         [](const fs::path& p) {
             mkdir(p.c_str(), 0700);
             // Only the superuser can give a folder away.
             [[maybe_unused]] const int ignored = chown(p.c_str(), 65534, 65534);
         },
         geteuid() != 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path wanted = root / c.name / LocalInstanceLink::kFolderName;
        fs::create_directories(wanted.parent_path());
        c.make(wanted);
        LocalInstanceLink link;
        ASSERT_TRUE(link.Listen([] { return std::string(); }, [](int, int64_t) {},
                                [] { return false; }, wanted.string()));
        struct stat info {};
        ASSERT_EQ(lstat(link.Folder().c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_uid, geteuid());
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        EXPECT_EQ(link.Folder() == wanted.string(), c.used) << link.Folder();
    }
    // Nothing was put in the folder the link pointed to.
    EXPECT_TRUE(fs::is_empty(root / "elsewhere"));
}

TEST(CaptionMark, IsTheFirstElevenCharactersOfTheTitle) {
    EXPECT_TRUE(LocalInstanceLink::HasCaptionMark(" -  +  \u00F7  x"));
    EXPECT_TRUE(LocalInstanceLink::HasCaptionMark(" -  +  \u00F7  x another program"));
    EXPECT_FALSE(LocalInstanceLink::HasCaptionMark(" -  +  /  x :   Untitled"));
    EXPECT_FALSE(LocalInstanceLink::HasCaptionMark(""));
}

} // namespace
} // namespace mb
