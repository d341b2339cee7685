// Two real processes of the program on a virtual X display that the test starts: Space
// in one starts and stops both, Ctrl+Space starts one alone. Needs Xvfb and xdotool;
// without them the test is skipped, except in CI, where it fails.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "connections/LocalInstanceLink.h"

namespace mb {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kPatience = 20s;

bool InCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// Polls until done() holds or the patience runs out.
template <typename Done> bool WaitFor(Done done) {
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return done();
}

class InstancesTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty()) {
                if (InCi())
                    FAIL() << tool << " is missing";
                GTEST_SKIP() << tool << " is not installed: the two-instance test needs it";
            }
        }
        ASSERT_TRUE(dir.isValid());
        xvfb.setProgram("Xvfb");
        xvfb.setArguments({"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        xvfb.start();
        ASSERT_TRUE(xvfb.waitForStarted());
        ASSERT_TRUE(WaitFor([this] {
            xvfb.waitForReadyRead(50);
            display += QString::fromLatin1(xvfb.readAllStandardOutput());
            return display.contains('\n');
        })) << "Xvfb gave no display";
        display = ":" + display.trimmed();

        env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        fs::create_directories(dir.filePath("run").toStdString());
        fs::permissions(dir.filePath("run").toStdString(), fs::perms::owner_all);
        sockets = dir.filePath("run").toStdString() + "/" + LocalInstanceLink::kFolderName;
    }

    void TearDown() override {
        for (auto& p : programs) {
            p->kill();
            p->waitForFinished();
        }
        if (xvfb.state() != QProcess::NotRunning) {
            xvfb.terminate();
            xvfb.waitForFinished();
        }
    }

    // Runs xdotool with the arguments; its output.
    QString Xdotool(const QStringList& arguments) {
        QProcess tool;
        tool.setProcessEnvironment(env);
        tool.start("xdotool", arguments);
        tool.waitForFinished();
        return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    }

    // The instances listening in the folder (each also keeps a lead file there).
    int SocketCount() {
        std::error_code error;
        int n = 0;
        for (fs::directory_iterator it(sockets, error), end; !error && it != end;
             it.increment(error))
            n += it->path().filename().string().rfind(LocalInstanceLink::kSocketPrefix, 0) == 0;
        return n;
    }

    void Launch() {
        auto program = std::make_unique<QProcess>();
        program->setProcessEnvironment(env);
        program->setProgram(MARROWBEAT_PROGRAM);
        program->start();
        ASSERT_TRUE(program->waitForStarted());
        programs.push_back(std::move(program));
    }

    // Gives window the keyboard focus, and waits until the display says it has it, then
    // sends the xdotool commands given.
    void KeysTo(const QString& window, const QStringList& keys) {
        EXPECT_TRUE(WaitFor([&] {
            Xdotool({"windowraise", window});
            Xdotool({"windowfocus", "--sync", window});
            return Xdotool({"getwindowfocus"}) == window;
        })) << "the window did not take the focus";
        Xdotool(keys);
    }

    // Dismisses any note (there is no sound card on the virtual display).
    void DismissNotes() {
        const QString notes = Xdotool({"search", "--name", "^Marrowbeat$"});
        for (const QString& id : notes.split('\n', Qt::SkipEmptyParts))
            Xdotool({"windowfocus", "--sync", id, "key", "Return"});
    }

    // Asks the instance with process id pid whether it plays.
    bool Playing(qint64 pid) {
        QLocalSocket socket;
        socket.connectToServer(QString::fromStdString(
            sockets + "/" + LocalInstanceLink::kSocketPrefix + std::to_string(pid)));
        if (!socket.waitForConnected(1000))
            return false;
        socket.write(QByteArray(LocalInstanceLink::kPlayingQuery) + '\n');
        socket.waitForBytesWritten(1000);
        if (!socket.waitForReadyRead(1000))
            return false;
        return socket.readAll() == "1";
    }

    // The main window of the instance with process id pid.
    QString WindowOf(qint64 pid) {
        return Xdotool({"search", "--all", "--sync", "--onlyvisible", "--pid", QString::number(pid),
                        "--name", "\\+"})
            .split('\n', Qt::SkipEmptyParts)
            .value(0);
    }

    QTemporaryDir dir;
    QProcess xvfb;
    QString display;
    QProcessEnvironment env;
    std::string sockets;
    std::vector<std::unique_ptr<QProcess>> programs;
};

TEST_F(InstancesTest, SpaceStartsAndStopsBothAndCtrlSpaceStartsOneAlone) {
    Launch();
    Launch();
    ASSERT_TRUE(WaitFor([this] {
        DismissNotes();
        return SocketCount() == 2;
    })) << "the two instances did not come up";
    const qint64 a = programs[0]->processId();
    const qint64 b = programs[1]->processId();
    const QString windowA = WindowOf(a);
    const QString windowB = WindowOf(b);
    ASSERT_FALSE(windowA.isEmpty());
    ASSERT_FALSE(windowB.isEmpty());
    ASSERT_NE(windowA, windowB);
    EXPECT_FALSE(Playing(a));
    EXPECT_FALSE(Playing(b));

    KeysTo(windowA, {"key", "space"});
    EXPECT_TRUE(WaitFor([&] { return Playing(a) && Playing(b); }));

    KeysTo(windowA, {"key", "space"});
    EXPECT_TRUE(WaitFor([&] { return !Playing(a) && !Playing(b); }));

    // Ctrl held while Space is handled: only this instance starts.
    KeysTo(windowB, {"keydown", "ctrl", "key", "space"});
    EXPECT_TRUE(WaitFor([&] { return Playing(b); }));
    Xdotool({"keyup", "ctrl"});
    EXPECT_FALSE(Playing(a));

    // Space in it now stops it and tells the other, already stopped, to stop.
    KeysTo(windowB, {"key", "space"});
    EXPECT_TRUE(WaitFor([&] { return !Playing(b); }));
    EXPECT_FALSE(Playing(a));
}

} // namespace
} // namespace mb
