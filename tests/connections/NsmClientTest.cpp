// The session-manager client with the real window, and a fake session manager in the
// test: a socket on 127.0.0.1 that speaks the protocol. It writes and reads its
// datagrams by hand, from the OSC format itself, so that a fault of the program's
// encoder or decoder shows rather than cancels out.
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "connections/NsmClient.h"
#include "connections/OscPort.h"
#include "files/SetupDocument.h"
#include "model/Setup.h"
#include "panel/WidgetPanel.h"

namespace mb {
namespace {

using Args = std::vector<OscPort::Argument>;

// An OSC string: its bytes, a zero, and zeros up to a multiple of four.
std::string Padded(std::string s) {
    s.resize((s.size() + 4) / 4 * 4, '\0');
    return s;
}

// One OSC message: padded path, padded type tags, then big-endian 32-bit numbers and
// padded strings.
std::string Encode(const std::string& path, const Args& arguments) {
    std::string types = ",";
    std::string data;
    for (const OscPort::Argument& a : arguments) {
        uint32_t word = 0;
        if (const auto* s = std::get_if<std::string>(&a)) {
            types += 's';
            data += Padded(*s);
            continue;
        }
        if (const auto* i = std::get_if<int32_t>(&a)) {
            types += 'i';
            word = htonl(static_cast<uint32_t>(*i));
        } else {
            types += 'f';
            std::memcpy(&word, &std::get<float>(a), 4);
            word = htonl(word);
        }
        data.append(reinterpret_cast<const char*>(&word), 4);
    }
    return Padded(path) + Padded(types) + data;
}

// A padded string at pos, moving pos past it; false when it runs past the end.
bool TakeString(const std::string& bytes, size_t& pos, std::string& out) {
    const size_t end = bytes.find('\0', pos);
    if (end == std::string::npos)
        return false;
    out = bytes.substr(pos, end - pos);
    pos = (end + 4) / 4 * 4;
    return pos <= bytes.size();
}

// A message of i and s arguments, as the client sends them; nothing for any other
// datagram.
std::optional<OscPort::Message> Decode(const std::string& bytes) {
    OscPort::Message m;
    size_t pos = 0;
    if (!TakeString(bytes, pos, m.path) || !TakeString(bytes, pos, m.types) ||
        !m.types.starts_with(','))
        return std::nullopt;
    m.types.erase(0, 1);
    for (const char type : m.types) {
        std::string s;
        if (type == 's' && TakeString(bytes, pos, s)) {
            m.arguments.emplace_back(s);
        } else if (type == 'i' && pos + 4 <= bytes.size()) {
            uint32_t word = 0;
            std::memcpy(&word, bytes.data() + pos, 4);
            m.arguments.emplace_back(static_cast<int32_t>(ntohl(word)));
            pos += 4;
        } else {
            return std::nullopt;
        }
    }
    return pos == bytes.size() ? std::optional(m) : std::nullopt;
}

// A UDP socket of its own on 127.0.0.1 that sends and receives with the codec above:
// nothing of the client's OSC code is shared but the types that hold a message.
class Peer {
public:
    Peer() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        EXPECT_GE(fd_, 0);
        address_.sin_family = AF_INET;
        address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address_;
        EXPECT_EQ(::bind(fd_, reinterpret_cast<const sockaddr*>(&address_), sizeof address_), 0);
        EXPECT_EQ(::getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &length), 0);
    }
    ~Peer() { ::close(fd_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    std::string Url() const {
        return "osc.udp://127.0.0.1:" + std::to_string(ntohs(address_.sin_port)) + "/";
    }
    const sockaddr_in& Address() const { return address_; }
    bool Send(const sockaddr_in& to, const std::string& bytes) const {
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                        sizeof to) == static_cast<ssize_t>(bytes.size());
    }
    bool Send(const sockaddr_in& to, const std::string& path, const Args& arguments) const {
        return Send(to, Encode(path, arguments));
    }
    // The next datagram, decoded (an empty path when it is not a message); nothing when
    // none is queued.
    std::optional<OscPort::Message> Receive() const {
        std::string bytes(kMaxDatagram, '\0');
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got = ::recvfrom(fd_, bytes.data(), bytes.size(), 0,
                                       reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0)
            return std::nullopt;
        bytes.resize(static_cast<size_t>(got));
        OscPort::Message message = Decode(bytes).value_or(OscPort::Message{});
        message.from = from;
        return message;
    }

private:
    static constexpr size_t kMaxDatagram = 65536;
    int fd_ = -1;
    sockaddr_in address_{};
};

class NsmClientTest : public ::testing::Test, protected test::AppFixture {
protected:
    void SetUp() override {
        Start();
        std::string error;
        client = NsmClient::Connect(manager.Url(), error);
        ASSERT_TRUE(client) << error;
        client->Announce(window->Commands(), "marrowbeat", [this] { ++quits; });
        const OscPort::Message announce = Expect(NsmClient::kAnnounce);
        EXPECT_EQ(announce.arguments,
                  (Args{std::string("Marrowbeat"), std::string(":dirty:optional-gui:"),
                        std::string("marrowbeat"), 1, 2, static_cast<int32_t>(getpid())}));
        clientAddress = announce.from;
        Send(NsmClient::kReply, {std::string(NsmClient::kAnnounce), std::string("Welcome"),
                                 std::string("Fake manager"), std::string(":optional-gui:")});
        Expect(NsmClient::kIsClean);
        Expect(NsmClient::kGuiShown);
    }

    void Send(const std::string& path, const Args& arguments = {}) {
        ASSERT_TRUE(manager.Send(clientAddress, path, arguments));
    }

    // Runs the window thread's event loop, which waits as the program's does, until the
    // manager has a message; it must be of the path given. The wait is long, for a busy
    // machine: the client answers at once.
    OscPort::Message Expect(const std::string& path) {
        for (QDeadlineTimer deadline(30000); !deadline.hasExpired();) {
            if (std::optional<OscPort::Message> message = manager.Receive()) {
                EXPECT_EQ(message->path, path);
                return *message;
            }
            Pump();
        }
        ADD_FAILURE() << "the manager got no " << path;
        return {};
    }

    static void Pump() {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }

    // Opens the session prefix and returns the reply or error.
    OscPort::Message Open(const std::string& prefix) {
        Send(NsmClient::kOpen, {Scratch(prefix), std::string("Marrowbeat"), std::string("nABCD")});
        return Expect(NsmClient::kReply);
    }

    static SetupRecord Saved(const std::string& path) {
        const SetupDocument::ReadOutcome read = SetupDocument::ReadFile(path);
        EXPECT_EQ(read.error, "");
        return read.record;
    }

    Peer manager;
    sockaddr_in clientAddress{};
    std::unique_ptr<NsmClient> client;
    int quits = 0;
};

TEST_F(NsmClientTest, ANewSessionIsCreatedThenSavedAndReportedDirtyAndClean) {
    Send(NsmClient::kSave);
    const OscPort::Message early = Expect(NsmClient::kError);
    EXPECT_EQ(early.types, "sis");
    EXPECT_EQ(early.arguments[1], OscPort::Argument(NsmClient::kErrorNoSessionOpen));

    EXPECT_EQ(Open("Marrowbeat.nABCD").arguments[0],
              OscPort::Argument(std::string(NsmClient::kOpen)));
    const std::string file = Scratch("Marrowbeat.nABCD.mbx");
    EXPECT_EQ(Probe(*window).GetSetup().filePath, file);
    EXPECT_EQ(Saved(file).loops[0].steps[3].on, 1);

    Click(Probe(*window).Panel().Column(3).Toggle().GetRect());
    Expect(NsmClient::kIsDirty);
    Send(NsmClient::kSave);
    EXPECT_EQ(Expect(NsmClient::kReply).arguments[0],
              OscPort::Argument(std::string(NsmClient::kSave)));
    Expect(NsmClient::kIsClean);
    EXPECT_EQ(Saved(file).loops[0].steps[3].on, 0);
}

TEST_F(NsmClientTest, AnExistingSetupOpensADamagedOneChangesNothingAndFileCommandsAreLeftToIt) {
    const std::string file = WriteDemo("Demo.nEFGH.mbx", MARROWBEAT_KIT_FOLDER);
    ASSERT_FALSE(file.empty());
    Open("Demo.nEFGH");
    EXPECT_EQ(Probe(*window).GetSetup().filePath, file);
    EXPECT_EQ(Probe(*window).GetSetup().bpm, Saved(file).bpm);

    const size_t notes = prompts.notes.size();
    std::ofstream(Scratch("Broken.nIJKL.mbx"), std::ios::binary) << "not a setup";
    Send(NsmClient::kOpen, {Scratch("Broken.nIJKL"), std::string("Broken"), std::string("nIJKL")});
    const OscPort::Message refused = Expect(NsmClient::kError);
    EXPECT_EQ(refused.arguments[1], OscPort::Argument(NsmClient::kErrorBadProject));
    EXPECT_NE(std::get<std::string>(refused.arguments[2]).find("Broken.nIJKL.mbx"),
              std::string::npos);
    EXPECT_EQ(Probe(*window).GetSetup().filePath, file);
    EXPECT_EQ(prompts.notes.size(), notes);

    Key(Qt::Key_O, Qt::ControlModifier);
    Probe(*window).Controller().SaveSetupAs();
    ASSERT_EQ(prompts.notes.size(), notes + 2);
    EXPECT_EQ(prompts.notes.back(),
              SetupController::kUnderSession + file + SetupController::kUnderSessionSave);
    EXPECT_TRUE(prompts.asked.empty());
}

TEST_F(NsmClientTest, TheWindowHidesAndShowsWhenAskedAndSigtermQuits) {
    Send(NsmClient::kHideGui);
    Expect(NsmClient::kGuiHidden);
    EXPECT_FALSE(window->isVisible());
    Send(NsmClient::kShowGui);
    Expect(NsmClient::kGuiShown);
    EXPECT_TRUE(window->isVisible());

    ::raise(SIGTERM);
    for (int i = 0; i < 100 && quits == 0; ++i)
        Pump();
    EXPECT_EQ(quits, 1);
}

TEST_F(NsmClientTest, ObeysOnlyItsManager) {
    const Peer stranger;
    const std::string elsewhere = Scratch("Elsewhere.nQRST");
    ASSERT_TRUE(stranger.Send(clientAddress, NsmClient::kHideGui, {}));
    ASSERT_TRUE(stranger.Send(clientAddress, NsmClient::kOpen,
                              {elsewhere, std::string("Elsewhere"), std::string("nQRST")}));
    // The manager's request after them is the first one answered.
    Send(NsmClient::kSave);
    EXPECT_EQ(Expect(NsmClient::kError).arguments[1],
              OscPort::Argument(NsmClient::kErrorNoSessionOpen));
    EXPECT_EQ(client->Refused(), 2u);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(std::filesystem::exists(elsewhere + NsmClient::kSetupExtension));
    EXPECT_FALSE(stranger.Receive());
}

TEST_F(NsmClientTest, RequestsAreAnsweredAtOnceAndWhatADialogWouldSayIsANotice) {
    const size_t notes = prompts.notes.size();
    // A setup whose sound folder is gone opens; the question is not asked.
    ASSERT_FALSE(WriteDemo("Lost.nMNOP.mbx", Scratch("gone")).empty());
    Open("Lost.nMNOP");
    EXPECT_TRUE(prompts.asked.empty());
    ASSERT_EQ(prompts.notices.size(), 1u);
    EXPECT_TRUE(prompts.notices[0].starts_with(SetupDocument::kProblemLocating));

    // A save that fails says why, to the manager and in a notice.
    const std::string file = Scratch("Lost.nMNOP.mbx");
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    Send(NsmClient::kSave);
    const OscPort::Message failed = Expect(NsmClient::kError);
    ASSERT_EQ(prompts.notices.size(), 2u);
    EXPECT_EQ(failed.arguments[2], OscPort::Argument(prompts.notices[1]));
    EXPECT_NE(prompts.notices[1].find(std::strerror(EISDIR)), std::string::npos);

    // So does a new session that cannot be created, and a path that is not absolute.
    Send(NsmClient::kOpen, {Scratch("gone/New.nUVWX"), std::string("New"), std::string("nUVWX")});
    const OscPort::Message uncreated = Expect(NsmClient::kError);
    EXPECT_EQ(uncreated.arguments[1], OscPort::Argument(NsmClient::kErrorCreateFailed));
    ASSERT_EQ(prompts.notices.size(), 3u);
    EXPECT_EQ(uncreated.arguments[2], OscPort::Argument(prompts.notices[2]));
    Send(NsmClient::kOpen, {std::string("New.nUVWX"), std::string("New"), std::string("nUVWX")});
    EXPECT_EQ(Expect(NsmClient::kError).arguments[1],
              OscPort::Argument(NsmClient::kErrorBadProject));
    EXPECT_EQ(prompts.notes.size(), notes);
    EXPECT_TRUE(prompts.asked.empty());
}

TEST(OscPort, TakesOnlyWellFormedMessagesOfItsTypesFromItsPeer) {
    OscPort receiver;
    const Peer peer;
    const Peer stranger;
    ASSERT_EQ(receiver.Open(true), "");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(receiver.Port());
    // The peer named by another loopback address: its datagrams still come from
    // 127.0.0.1, and only from its port.
    sockaddr_in named = peer.Address();
    named.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1);
    receiver.AcceptOnlyFrom(named);
    using namespace std::string_literals;
    const std::string bad[] = {
        "garbage"s,
        "/a\0\0"s,                      // path not padded to 4 bytes
        "/a\0\0,s\0\0abc"s,             // string argument without its end
        "/a\0\0,i\0\0\0\0"s,            // int argument cut short
        "/a\0\0,b\0\0\0\0\0\1x\0\0\0"s, // a blob: not a type it takes
        "#bundle\0\0\0\0\0\0\0\0\1"s,
    };
    for (const std::string& datagram : bad)
        ASSERT_TRUE(peer.Send(to, datagram));
    const Args good{-7, 0.25f, std::string("text")};
    ASSERT_TRUE(stranger.Send(to, "/stranger", good));
    ASSERT_TRUE(peer.Send(to, "/good", good));
    std::optional<OscPort::Message> got;
    for (int i = 0; i < 1000 && !got; ++i, usleep(10000))
        got = receiver.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->path, "/good");
    EXPECT_EQ(got->types, "ifs");
    EXPECT_EQ(got->arguments, good);
    EXPECT_FALSE(receiver.Receive());
    EXPECT_EQ(receiver.Refused(), 1u);
}

TEST(NsmClientProgram, AnnouncesWhileAStartUpNoteWaits) {
    // A sound device that does not open makes the program say so at start-up; under a
    // session manager that note must not hold up the announce.
    const Peer manager;
    const QTemporaryDir config;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NSM_URL", QString::fromStdString(manager.Url()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", config.path());
    program.setProcessEnvironment(env);
    program.start(MARROWBEAT_PROGRAM, {"--audio-device", "no such device"});
    std::optional<OscPort::Message> announce;
    for (QDeadlineTimer deadline(30000); !announce && !deadline.hasExpired();) {
        program.waitForFinished(20);
        announce = manager.Receive();
    }
    program.kill();
    program.waitForFinished();
    ASSERT_TRUE(announce);
    EXPECT_EQ(announce->path, NsmClient::kAnnounce);
}

TEST(NsmClientConnect, RefusesAddressesItCannotUse) {
    for (const std::string url : {"", "garbage", "osc.tcp://127.0.0.1:5000/",
                                  "osc.udp://127.0.0.1/", "osc.udp://127.0.0.1:port/"}) {
        std::string error;
        EXPECT_EQ(NsmClient::Connect(url, error), nullptr) << url;
        EXPECT_FALSE(error.empty()) << url;
    }
}

} // namespace
} // namespace mb
