#pragma once

// Real processes of the program on a virtual display of their own, playing into the null
// sink of a PulseAudio server of their own, recorded from its monitor. Shared by the Link
// test and the benchmark of instances in phase. Needs Xvfb, xdotool, pulseaudio, pactl
// and parec.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "files/SetupDocument.h"
#include "model/Setup.h"

namespace mb::test {

// A recording of the sink: left and right channels.
struct StereoRecording {
    std::vector<int16_t> left;
    std::vector<int16_t> right;
};

// A setup that plays one sound of the kit on all sixteen steps at full volume, panned
// to one side (pan 0: left, 127: right).
inline bool
WriteClickSetup(const std::string& path, const std::string& kit, int sound, int pan, double bpm) {
    Setup setup;
    for (Step& step : setup.loop(0).steps) {
        step.on = 1;
        step.sound = static_cast<int16_t>(sound);
        step.volume = 127;
        step.pan = static_cast<int16_t>(pan);
    }
    setup.bpm = bpm;
    setup.polyphonic = 1;
    setup.masterVolume = 100;
    setup.stepCount = kMaxStepCount;
    setup.soundFolder = kit;
    return SetupDocument::WriteFile(path, setup, {}).empty();
}

class ProgramHarness {
public:
    ~ProgramHarness() {
        for (auto& p : programs_) {
            p->kill();
            p->waitForFinished();
        }
        StopRecording();
        for (QProcess* p : {&listener_, &server_, &xvfb_}) {
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                p->waitForFinished();
            }
        }
    }

    // The display and the sound server; the missing tool or failure, empty when all is
    // ready.
    std::string Start() {
        for (const char* tool : {"Xvfb", "xdotool", "pulseaudio", "pactl", "parec"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                return std::string(tool) + " is not installed";
        if (!dir_.isValid())
            return "no scratch folder";
        env_ = QProcessEnvironment::systemEnvironment();
        xvfb_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        QString display;
        while (!display.contains('\n') && xvfb_.waitForReadyRead(10000))
            display += QString::fromLatin1(xvfb_.readAllStandardOutput());
        if (!display.contains('\n'))
            return "Xvfb gave no display";
        env_.insert("DISPLAY", ":" + display.trimmed());
        env_.insert("QT_QPA_PLATFORM", "xcb");

        // A server of its own whose one sink, the default, is a null sink: no other
        // test's sound is recorded here.
        const QString socket = dir_.filePath("pulse-native");
        QProcessEnvironment serverEnv = env_;
        serverEnv.insert("XDG_RUNTIME_DIR", dir_.filePath("pulse-runtime"));
        QDir().mkpath(dir_.filePath("pulse-runtime"));
        server_.setProcessEnvironment(serverEnv);
        server_.setStandardOutputFile(QProcess::nullDevice());
        server_.setStandardErrorFile(QProcess::nullDevice());
        server_.start(
            "pulseaudio",
            {"--daemonize=no", "--system=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
             "--load=module-null-sink sink_name=" + QString(kSink) + " rate=44100 channels=2",
             "--load=module-native-protocol-unix socket=" + socket});
        env_.insert("PULSE_SERVER", "unix:" + socket);
        for (int i = 0; i < 100 && !Tool("pactl", {"info"}); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!Tool("pactl", {"info"}))
            return "the sound server did not start";
        // A desktop's server gets real-time threads from rtkit; one started here (as root,
        // or without rtkit) runs them as ordinary threads, whose timing reports then come
        // tens of microseconds late whenever the machine is busy. Every thread of it takes
        // the priority a desktop's would, where the system allows it.
        Tool("chrt", {"-a", "-r", "-p", "5", QString::number(server_.processId())});
        // A null sink that nothing asks a short latency of renders two seconds ahead, and
        // a stream that comes then waits until they have passed. A listener asking for
        // 20 ms keeps it as prompt as a sound card, once its first two seconds are over.
        listener_.setProcessEnvironment(env_);
        listener_.setStandardOutputFile(QProcess::nullDevice());
        listener_.start("parec",
                        {"--device=" + QString(kSink) + ".monitor", "--raw", "--latency-msec=20"});
        std::this_thread::sleep_for(std::chrono::seconds(2));
        return {};
    }

    std::string Scratch(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }

    // Launches the program with its own settings; programs given the same runtime
    // folder name find each other as instances.
    QProcess& Launch(const QStringList& arguments, const QString& runtime) {
        auto program = std::make_unique<QProcess>();
        QProcessEnvironment env = env_;
        const QString config = dir_.filePath(QString("config-%1").arg(programs_.size()));
        env.insert("XDG_CONFIG_HOME", config);
        env.insert("XDG_RUNTIME_DIR", dir_.filePath(runtime));
        QDir().mkpath(dir_.filePath(runtime));
        QFile::setPermissions(dir_.filePath(runtime), QFileDevice::ReadOwner |
                                                          QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner);
        program->setProcessEnvironment(env);
        program->start(MARROWBEAT_PROGRAM, arguments);
        programs_.push_back(std::move(program));
        return *programs_.back();
    }

    QString Xdotool(const QStringList& arguments) const {
        QProcess tool;
        tool.setProcessEnvironment(env_);
        tool.start("xdotool", arguments);
        tool.waitForFinished();
        return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    }

    // The main window of a launched program, once it is shown; empty when it never is.
    QString WindowOf(const QProcess& program) const {
        return Xdotool({"search", "--all", "--sync", "--onlyvisible", "--pid",
                        QString::number(program.processId()), "--name", "\\+"})
            .split('\n', Qt::SkipEmptyParts)
            .value(0);
    }

    // Gives the window the focus and presses the key.
    void Key(const QString& window, const QString& key) const {
        Xdotool({"windowfocus", "--sync", window, "key", key});
    }

    // Clicks into the text field at a point of the window, replaces its text and
    // presses Enter.
    void Type(const QString& window, int x, int y, const QString& text) const {
        Xdotool({"windowraise", window, "windowfocus", "--sync", window, "mousemove", "--window",
                 window, QString::number(x), QString::number(y), "click", "1", "sleep", "0.2",
                 "key", "ctrl+a", "type", text});
        Xdotool({"key", "Return"});
    }

    void StartRecording() {
        recorder_.setStandardOutputFile(dir_.filePath("recording.raw"));
        recorder_.setProcessEnvironment(env_);
        recorder_.start("parec", {"--device=" + QString(kSink) + ".monitor", "--format=s16le",
                                  "--rate=44100", "--channels=2", "--raw", "--latency-msec=20"});
        recorder_.waitForStarted();
    }

    StereoRecording StopRecording() {
        StereoRecording out;
        if (recorder_.state() == QProcess::NotRunning)
            return out;
        recorder_.terminate();
        recorder_.waitForFinished();
        if (std::FILE* f = std::fopen(dir_.filePath("recording.raw").toLocal8Bit().data(), "rb")) {
            int16_t frame[2];
            while (std::fread(frame, sizeof frame, 1, f) == 1) {
                out.left.push_back(frame[0]);
                out.right.push_back(frame[1]);
            }
            std::fclose(f);
        }
        return out;
    }

private:
    // Whether a tool, run on this harness's display and sound server, succeeded.
    bool Tool(const QString& program, const QStringList& arguments) const {
        QProcess tool;
        tool.setProcessEnvironment(env_);
        tool.start(program, arguments);
        return tool.waitForFinished() && tool.exitStatus() == QProcess::NormalExit &&
               tool.exitCode() == 0;
    }

    static constexpr const char* kSink = "marrowbeat_test";

    QTemporaryDir dir_;
    QProcess xvfb_;
    QProcess server_;
    QProcess recorder_;
    QProcess listener_;
    QProcessEnvironment env_;
    std::vector<std::unique_ptr<QProcess>> programs_;
};

} // namespace mb::test
