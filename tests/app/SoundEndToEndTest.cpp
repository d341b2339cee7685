// The program itself, on a virtual display, plays the demo setup through the sound
// server's null sink; what the sink's monitor records must match what the offline
// renderer makes of the same setup: the same onsets and the same levels within 1 dB, with
// groove (swing, chance, a condition) and without.
// Needs Xvfb, xdotool and a PulseAudio server (scripts/test.sh starts one); skipped
// without them, except in CI, where it fails.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "LiveCapture.h"
#include "ScriptedPrompts.h"
#include "connections/LocalInstanceLink.h"
#include "engine/OfflineSession.h"
#include "files/DemoSetup.h"
#include "files/PersistedSettings.h"
#include "files/SettingsStore.h"
#include "files/SetupDocument.h"
#include "files/SoundFolder.h"
#include "model/Groove.h"
#include "model/Setup.h"

namespace mb {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kRate = 44100;
constexpr double kPlaySeconds = 4.0;
// Every step sounds on its exact frame: the onsets match to the frame, whichever clock
// the timer setting picks (one frame for the onset finder's threshold on a level that
// went through the sound server's conversion).
constexpr int64_t kOnsetToleranceFrames = 1;
constexpr double kLevelToleranceDb = 1.0;
constexpr int64_t kPeakWindowFrames = kRate / 50;
constexpr size_t kMinOnsets = 8;

bool InCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

double PeakDb(const std::vector<int16_t>& x, int64_t from) {
    int peak = 1;
    const auto end = std::min<int64_t>(from + kPeakWindowFrames, static_cast<int64_t>(x.size()));
    for (int64_t i = from; i < end; ++i)
        peak = std::max(peak, std::abs(static_cast<int>(x[static_cast<size_t>(i)])));
    return 20.0 * std::log10(peak / 32768.0);
}

// The offline render of the setup file, left channel.
std::vector<int16_t> RenderOffline(const std::string& path, const std::string& kit) {
    const SetupDocument::ReadOutcome read = SetupDocument::ReadFile(path);
    EXPECT_TRUE(read.error.empty()) << read.error;
    Setup setup;
    read.record.ApplyTo(setup);
    ScriptedPrompts prompts;
    OfflineSession session(setup, prompts);
    SoundFolder folder(setup, session.engine(), prompts, {});
    EXPECT_TRUE(folder.ScanSoundFolder(kit));
    const std::vector<float> stereo = session.Render(static_cast<int64_t>(kPlaySeconds * kRate));
    std::vector<int16_t> left;
    for (size_t i = 0; i < stereo.size(); i += 2)
        left.push_back(static_cast<int16_t>(std::clamp(stereo[i], -1.0f, 1.0f) * 32767.0f));
    return left;
}

// The parameter is the timer setting: the time-stamp counter (on) or the monotonic clock.
class SoundEndToEnd : public ::testing::TestWithParam<bool> {};

TEST_P(SoundEndToEnd, TheProgramPlaysTheDemoAsTheOfflineRendererDoes) {
    for (const char* tool : {"Xvfb", "xdotool", "parec"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            if (InCi())
                FAIL() << tool << " is missing";
            GTEST_SKIP() << tool << " is not installed";
        }
    }
    if (!test::PulseServerReachable()) {
        if (InCi())
            FAIL() << "no PulseAudio server answers";
        GTEST_SKIP() << "no PulseAudio server answers; run scripts/test.sh, which starts one";
    }
    QTemporaryDir dir;
    const std::string kit = MARROWBEAT_KIT_FOLDER;
    const std::string demo = dir.filePath("demo.mbx").toStdString();
    {
        mb::Setup setup;
        DemoSetup::Build(setup, kit);
        // With the monotonic clock the demo plays with groove: swing, chance from the
        // seed and a condition, which a live run must play as the render does.
        if (!GetParam()) {
            setup.dDial = static_cast<int16_t>(DDial::kChance);
            setup.seed = 99;
            for (int l = 0; l < kLoopCount; ++l) {
                setup.loop(l).swing = 66;
                setup.loop(l).steps[6].condition = StepCondition::Ratio(1, 2).Code();
                for (int s = 1; s < kStepsPerLoop; s += 3)
                    setup.loop(l).steps[static_cast<size_t>(s)].dValue = 32;
            }
        }
        ASSERT_EQ(SetupDocument::WriteFile(demo, setup, DemoSetup::Face()), "");
    }

    QDir().mkpath(dir.filePath("config/marrowbeat"));
    SettingsStore(dir.filePath("config/marrowbeat/registry.ini").toStdString())
        .WriteString(PersistedSettings::kSettingsKey, PersistedSettings::kHighResValue,
                     GetParam() ? PersistedSettings::kOn : PersistedSettings::kOff);

    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb.waitForStarted());
    QString display;
    while (!display.contains('\n') && xvfb.waitForReadyRead(10000))
        display += QString::fromLatin1(xvfb.readAllStandardOutput());
    ASSERT_TRUE(display.contains('\n'));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", ":" + display.trimmed());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    auto xdotool = [&env](const QStringList& arguments) {
        QProcess tool;
        tool.setProcessEnvironment(env);
        tool.start("xdotool", arguments);
        tool.waitForFinished();
        return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    };

    QProcess program;
    program.setProcessEnvironment(env);
    program.start(MARROWBEAT_PROGRAM, {QString::fromStdString(demo)});
    ASSERT_TRUE(program.waitForStarted());
    const QString window = xdotool({"search", "--all", "--sync", "--onlyvisible", "--pid",
                                    QString::number(program.processId()), "--name", "demo"})
                               .split('\n', Qt::SkipEmptyParts)
                               .value(0);
    ASSERT_FALSE(window.isEmpty()) << "the window did not come up";
    // Started at once: a stream that does not flow yet only delays the whole run.

    QProcess recorder;
    recorder.setStandardOutputFile(dir.filePath("recording.raw"));
    recorder.start("parec", {"--device=@DEFAULT_MONITOR@", "--format=s16le", "--rate=44100",
                             "--channels=2", "--raw", "--latency-msec=20"});
    ASSERT_TRUE(recorder.waitForStarted());
    std::this_thread::sleep_for(300ms);
    xdotool({"windowfocus", "--sync", window, "key", "space"});
    std::this_thread::sleep_for(std::chrono::duration<double>(kPlaySeconds));
    xdotool({"windowfocus", "--sync", window, "key", "space"});
    std::this_thread::sleep_for(500ms);
    recorder.terminate();
    recorder.waitForFinished();
    program.kill();
    program.waitForFinished();
    xvfb.terminate();
    xvfb.waitForFinished();

    std::vector<int16_t> live;
    if (std::FILE* f = std::fopen(dir.filePath("recording.raw").toLocal8Bit().constData(), "rb")) {
        int16_t frame[2];
        while (std::fread(frame, sizeof frame, 1, f) == 1)
            live.push_back(frame[0]);
        std::fclose(f);
    }
    ASSERT_FALSE(live.empty()) << "parec recorded nothing";
    const std::vector<int16_t> offline = RenderOffline(demo, kit);

    const std::vector<int64_t> liveOnsets = test::FindOnsets(live);
    const std::vector<int64_t> offlineOnsets = test::FindOnsets(offline);
    ASSERT_GE(offlineOnsets.size(), kMinOnsets);
    ASSERT_GE(liveOnsets.size(), kMinOnsets) << "the program played too little";
    // Compared over the onsets both hold, each relative to the first.
    const size_t n = std::min(liveOnsets.size(), offlineOnsets.size()) - 1;
    RecordProperty("compared_onsets", static_cast<int>(n));
    for (size_t i = 0; i < n; ++i) {
        const int64_t liveAt = liveOnsets[i] - liveOnsets[0];
        const int64_t offlineAt = offlineOnsets[i] - offlineOnsets[0];
        EXPECT_NEAR(liveAt, offlineAt, kOnsetToleranceFrames) << "onset " << i;
        EXPECT_NEAR(PeakDb(live, liveOnsets[i]), PeakDb(offline, offlineOnsets[i]),
                    kLevelToleranceDb)
            << "level at onset " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(TimerSetting,
                         SoundEndToEnd,
                         ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "HighRes" : "Monotonic"; });

} // namespace
} // namespace mb
