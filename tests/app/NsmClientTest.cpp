// The session-manager client with the real window, and a fake session manager in the
// test: a socket on 127.0.0.1 that speaks the protocol with the same OSC port.
#include <arpa/inet.h>
#include <csignal>
#include <fstream>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/NsmClient.h"
#include "app/OscPort.h"
#include "files/SetupDocument.h"
#include "model/Setup.h"
#include "panel/WidgetPanel.h"

namespace mb {
namespace {

using Args = std::vector<OscPort::Argument>;

class NsmClientTest : public ::testing::Test, protected test::AppFixture {
protected:
    void SetUp() override {
        ASSERT_EQ(manager.Open(true), "");
        Start();
        std::string error;
        client = NsmClient::Connect("osc.udp://127.0.0.1:" + std::to_string(manager.Port()) + "/",
                                    error);
        ASSERT_TRUE(client) << error;
        client->Announce(*window, "marrowbeat", [this] { ++quits; });
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
    // manager has a message; it must be of the path given.
    OscPort::Message Expect(const std::string& path) {
        for (int i = 0; i < 300; ++i) {
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

    OscPort manager;
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
    EXPECT_EQ(window->GetSetup().filePath, file);
    EXPECT_EQ(Saved(file).loops[0].steps[3].on, 1);

    Click(window->Panel().Column(3).Toggle().GetRect());
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
    EXPECT_EQ(window->GetSetup().filePath, file);
    EXPECT_EQ(window->GetSetup().bpm, Saved(file).bpm);

    const size_t notes = prompts.notes.size();
    std::ofstream(Scratch("Broken.nIJKL.mbx"), std::ios::binary) << "not a setup";
    Send(NsmClient::kOpen, {Scratch("Broken.nIJKL"), std::string("Broken"), std::string("nIJKL")});
    const OscPort::Message refused = Expect(NsmClient::kError);
    EXPECT_EQ(refused.arguments[1], OscPort::Argument(NsmClient::kErrorBadProject));
    EXPECT_NE(std::get<std::string>(refused.arguments[2]).find("Broken.nIJKL.mbx"),
              std::string::npos);
    EXPECT_EQ(window->GetSetup().filePath, file);
    EXPECT_EQ(prompts.notes.size(), notes);

    Key(Qt::Key_O, Qt::ControlModifier);
    window->Controller().SaveSetupAs();
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

TEST(OscPort, SkipsDatagramsThatAreNotMessagesOfItsTypesAndKeepsTheNextOne) {
    OscPort receiver;
    OscPort sender;
    ASSERT_EQ(receiver.Open(true), "");
    ASSERT_EQ(sender.Open(true), "");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(receiver.Port());
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
        ASSERT_EQ(::sendto(sender.Socket(), datagram.data(), datagram.size(), 0,
                           reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(datagram.size()));
    const Args good{-7, 0.25f, std::string("text")};
    ASSERT_TRUE(sender.Send(to, "/good", good));
    std::optional<OscPort::Message> got;
    for (int i = 0; i < 100 && !got; ++i, usleep(10000))
        got = receiver.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->path, "/good");
    EXPECT_EQ(got->types, "ifs");
    EXPECT_EQ(got->arguments, good);
    EXPECT_FALSE(receiver.Receive());
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
