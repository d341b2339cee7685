// Two instances of the program on one desktop, one playing a rim shot on every step
// panned hard left, the other a clave panned hard right, both at 126 BPM, started
// together by Space in the first; recorded from one null sink. For each of R runs
// (default 3) of S seconds (default 8) it reports how far apart the two instances' onsets
// are (the second's minus the first's, in samples at 44 100 Hz): at the first step, and
// the least and the most over the run. Between runs it waits P seconds (default 1; from 3
// on the two outputs stand still before the next start). Starts its own virtual display
// and sound server (needs Xvfb, xdotool, pulseaudio, pactl and parec).
//
//   bench_instances_phase KIT_DIR [seconds] [runs] [pause]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <QCoreApplication>

#include "LiveCapture.h"
#include "ProgramHarness.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_instances_phase KIT_DIR [seconds] [runs] [pause]\n");
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 8.0;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    const double pause = argc > 4 ? std::atof(argv[4]) : 1.0;
    constexpr int kClave = 10;
    constexpr int kRim = 8;
    constexpr double kBpm = 126.0;

    mb::test::ProgramHarness harness;
    if (const std::string error = harness.Start(); !error.empty()) {
        std::fprintf(stderr, "bench_instances_phase: %s\n", error.c_str());
        return 1;
    }
    const std::string left = harness.Scratch("left.mbx");
    const std::string right = harness.Scratch("right.mbx");
    if (!mb::test::WriteClickSetup(left, argv[1], kRim, 0, kBpm) ||
        !mb::test::WriteClickSetup(right, argv[1], kClave, 127, kBpm)) {
        std::fprintf(stderr, "bench_instances_phase: cannot write the setups\n");
        return 1;
    }
    // One runtime folder: the two find each other.
    QProcess& a = harness.Launch({QString::fromStdString(left)}, "run");
    QProcess& b = harness.Launch({QString::fromStdString(right)}, "run");
    const QString windowA = harness.WindowOf(a);
    if (windowA.isEmpty() || harness.WindowOf(b).isEmpty()) {
        std::fprintf(stderr, "bench_instances_phase: the windows did not come up\n");
        return 1;
    }
    // Both streams flowing steadily.
    std::this_thread::sleep_for(std::chrono::seconds(2));

    std::printf("Two instances on one desktop at %.0f BPM, %.0f s per run: the second's onsets "
                "minus the first's, in samples\n",
                kBpm, seconds);
    int status = 0;
    for (int run = 1; run <= runs; ++run) {
        harness.StartRecording();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        harness.Key(windowA, "space");
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        harness.Key(windowA, "space");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const mb::test::StereoRecording recording = harness.StopRecording();
        const std::vector<int64_t> onA = mb::test::FindOnsets(recording.left);
        const std::vector<int64_t> onB = mb::test::FindOnsets(recording.right);
        const size_t n = std::min(onA.size(), onB.size());
        // A stop reaches the second instance when it arrives, not on the grid: it may
        // play one step more or less.
        if (n < 2 || std::max(onA.size(), onB.size()) - n > 1) {
            std::printf("run %d: %zu and %zu onsets: the two did not play together\n", run,
                        onA.size(), onB.size());
            status = 1;
            continue;
        }
        int64_t least = onB[0] - onA[0];
        int64_t most = least;
        for (size_t i = 1; i < n; ++i) {
            least = std::min(least, onB[i] - onA[i]);
            most = std::max(most, onB[i] - onA[i]);
        }
        std::printf("run %d: %3zu onsets  first step %+6lld  least %+6lld  most %+6lld  "
                    "(moved by %lld)\n",
                    run, n, static_cast<long long>(onB[0] - onA[0]), static_cast<long long>(least),
                    static_cast<long long>(most), static_cast<long long>(most - least));
        std::this_thread::sleep_for(std::chrono::duration<double>(pause));
    }
    return status;
}
