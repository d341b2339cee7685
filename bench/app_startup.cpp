// The program's start-up, memory and playing cost, measured on the real main window with
// the demo setup and its sixteen sounds:
//   - start-up: from the launch of the process (exec) to the first painted window,
//     the step clock's calibration included;
//   - resident memory right after start-up;
//   - CPU use of the whole process while the demo plays for S seconds (default 20), as a
//     share of one core.
// Run it on a display (scripts/bench.sh uses a virtual one) with a sound server:
//   bench_app_startup KITDIR [SECONDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "ScriptedPrompts.h"
#include "app/MainWindow.h"
#include "files/DemoSetup.h"
#include "files/SetupDocument.h"

namespace {

constexpr const char* kLaunchVariable = "MARROWBEAT_LAUNCH_NS";

int64_t NowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// Notes the first paint of the window and the moment it has finished.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            QTimer::singleShot(0, [this] { doneNs = NowNs(); });
        }
        return false;
    }
    bool seen = false;
    int64_t doneNs = 0;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_app_startup KITDIR [SECONDS]\n");
        return 2;
    }
    // Measured from the exec of a fresh process: the program's loading counts.
    if (std::getenv(kLaunchVariable) == nullptr) {
        setenv(kLaunchVariable, std::to_string(NowNs()).c_str(), 1);
        execv("/proc/self/exe", argv);
        std::perror("exec");
        return 1;
    }
    const int64_t launchNs = std::atoll(std::getenv(kLaunchVariable));
    const double seconds = argc > 2 ? std::atof(argv[2]) : 20.0;

    QTemporaryDir dir;
    const std::string demo = dir.filePath("demo.mbx").toStdString();
    {
        mb::Setup setup;
        mb::DemoSetup::Build(setup, argv[1]);
        if (!mb::SetupDocument::WriteFile(demo, setup, mb::DemoSetup::Face()).empty())
            return 1;
    }

    QApplication app(argc, argv);
    mb::ScriptedPrompts prompts;
    mb::MainWindow::Options options;
    options.prompts = &prompts;
    options.linkInstances = false;
    options.settingsPath = dir.filePath("settings.ini").toStdString();
    mb::MainWindow window(std::move(options));
    FirstPaint paint;
    window.installEventFilter(&paint);
    window.Start(demo);
    window.show();
    while (paint.doneNs == 0)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double startupMs = static_cast<double>(paint.doneNs - launchNs) / 1e6;
    const long rssKb = ResidentKb();
    for (const std::string& note : prompts.notes)
        std::printf("note: %s\n", note.c_str());
    std::printf("start-up to first painted window: %.1f ms (goal < 400 ms)\n", startupMs);
    std::printf("resident memory after start-up:   %.1f MB (goal < 60 MB)\n", rssKb / 1024.0);
    std::printf("sounds loaded: %d\n", window.GetSoundEngine().soundCount());

    const double cpuBefore = CpuSeconds();
    const int64_t wallBefore = NowNs();
    window.Commands().Run({mb::Command::kTogglePlayback});
    QTimer::singleShot(static_cast<int>(seconds * 1000), &app, [&] {
        window.Commands().Run({mb::Command::kTogglePlayback});
        app.quit();
    });
    QApplication::exec();
    const double wall = static_cast<double>(NowNs() - wallBefore) / 1e9;
    const double cpu = CpuSeconds() - cpuBefore;
    std::printf("CPU while playing the demo %.0f s: %.2f %% of one core (goal < 3 %%)\n", wall,
                100.0 * cpu / wall);
    return 0;
}
