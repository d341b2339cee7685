// Plays the demo kit live through the sound server for a number of seconds (default 20)
// and reports how far apart the recorded onsets are, against the step period: mean,
// standard deviation and maximum of the deviation, in samples. Needs a PulseAudio (or
// PipeWire) server whose default sink's monitor can be recorded (scripts/bench.sh starts
// one with a null sink).
//
//   bench_live_timing KIT_DIR [seconds]
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "LiveCapture.h"

namespace {

int Measure(const char* kit, double seconds, bool cpuClock) {
    const auto capture = mb::test::PlayAndRecord(kit, seconds, cpuClock);
    if (!capture.error.empty()) {
        std::fprintf(stderr, "bench_live_timing: %s\n", capture.error.c_str());
        return 1;
    }
    const auto& on = capture.onsets;
    if (on.size() < 3) {
        std::fprintf(stderr, "bench_live_timing: only %zu onsets recorded\n", on.size());
        return 1;
    }
    double sum = 0.0;
    double squares = 0.0;
    double worst = 0.0;
    const size_t n = on.size() - 1;
    for (size_t i = 0; i < n; ++i) {
        const double d = static_cast<double>(on[i + 1] - on[i]) - capture.periodFrames;
        sum += d;
        squares += d * d;
        worst = std::max(worst, std::abs(d));
    }
    const double mean = sum / static_cast<double>(n);
    const double sd = std::sqrt(std::max(0.0, squares / static_cast<double>(n) - mean * mean));
    std::printf("%-20s %4zu onsets  interval - period: mean %+7.3f  sd %6.3f  max |%6.3f| "
                "samples  (late commands %llu, mapping moves %llu)\n",
                cpuClock ? "time-stamp counter" : "monotonic clock", on.size(), mean, sd, worst,
                static_cast<unsigned long long>(capture.lateCommands),
                static_cast<unsigned long long>(capture.mappingMoves));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_live_timing KIT_DIR [seconds]\n");
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 20.0;
    if (!mb::test::PulseServerReachable()) {
        std::fprintf(stderr, "bench_live_timing: no PulseAudio server answers\n");
        return 1;
    }
    std::printf("Live timing: the kit at 126 BPM (period %.4f samples) for %.0f s per step-clock "
                "source, recorded from the sound server\n",
                mb::Sequencer::PeriodFromTempo(126.0) * 44.1, seconds);
    const int a = Measure(argv[1], seconds, true);
    const int b = Measure(argv[1], seconds, false);
    return a != 0 || b != 0 ? 1 : 0;
}
