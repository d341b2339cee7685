// The real window plays the demo through a PulseAudio server of the test's own; the
// server is killed while it plays and started again. Needs pulseaudio: skipped without
// it, except in CI, where it fails.
#include <cstdlib>

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "audio/AudioDevice.h"
#include "model/Setup.h"

namespace mb {
namespace {

bool InCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// A server of the test's own, in a runtime folder of its own.
class OwnServer {
public:
    explicit OwnServer(const std::string& folder) : folder_(folder) {
        setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
    }
    ~OwnServer() { Kill(); }
    bool Start() {
        const std::string command =
            "pulseaudio --daemonize=yes --system=no --exit-idle-time=-1 -n --disallow-exit=no "
            "--load='module-null-sink sink_name=fault rate=44100' "
            "--load=module-native-protocol-unix >/dev/null 2>&1";
        return std::system(command.c_str()) == 0 && std::system("pactl info >/dev/null 2>&1") == 0;
    }
    void Kill() { std::system("pulseaudio --kill >/dev/null 2>&1"); }

private:
    std::string folder_;
};

template <typename Done> bool WaitUntil(Done done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QTest::qWait(20);
    }
    return true;
}

class OutputFault : public ::testing::Test, protected test::AppFixture {
protected:
    OutputFault() : test::AppFixture(true) {}
};

TEST_F(OutputFault, TheWindowAnswersWhileTheServerIsGoneAndTheSoundComesBack) {
    if (QStandardPaths::findExecutable("pulseaudio").isEmpty()) {
        if (InCi())
            FAIL() << "pulseaudio is missing";
        GTEST_SKIP() << "pulseaudio is not installed";
    }
    OwnServer server(scratch.path().toStdString());
    ASSERT_TRUE(server.Start());
    Start(WriteDemo("demo.mbx", MARROWBEAT_KIT_FOLDER));
    AudioDevice* device = Probe(*window).GetSoundEngine().device();
    ASSERT_NE(device, nullptr) << "no output opened";
    Key(Qt::Key_Space);
    ASSERT_TRUE(Probe(*window).GetSequencer().running());
    const auto frames = [device] { return device->mixer().framesRendered(); };
    const int64_t before = frames();
    EXPECT_TRUE(WaitUntil([&] { return frames() > before + 22050; }, 3000));

    server.Kill();
    EXPECT_TRUE(WaitUntil([&] { return !prompts.notices.empty(); }, 3000));
    // The window still answers at once: a digit jumps to another loop.
    QElapsedTimer answer;
    answer.start();
    Key(Qt::Key_3);
    EXPECT_LT(answer.elapsed(), 100);
    EXPECT_EQ(Probe(*window).GetSetup().currentLoop, 2);
    EXPECT_TRUE(device->output()->Status().lost);

    ASSERT_TRUE(server.Start());
    QElapsedTimer back;
    back.start();
    EXPECT_TRUE(WaitUntil([&] { return !device->output()->Status().lost; }, 3000));
    const int64_t resumed = frames();
    EXPECT_TRUE(WaitUntil([&] { return frames() > resumed + 22050; }, 3000));
    RecordProperty("sound_back_ms", static_cast<int>(back.elapsed()));
    EXPECT_EQ(prompts.notices.size(), 1u) << "the loss is told once";
    Key(Qt::Key_Space);
}

} // namespace
} // namespace mb
