// What the sound server's stream alone costs while it plays: the program's own PulseStream
// with a callback that writes silence, no mixer, no window. The process's CPU time over the
// run (all its threads: the main thread only sleeps) as a share of one core, and the
// thread switches it took, for each buffer size in turn, several rounds interleaved so that
// a change in the machine's state shows in every size alike. What the whole program spends
// beyond this figure is its own; this much is the price of the server's requests.
//
// Needs a running PulseAudio (or PipeWire) server; plays on its default sink.
//
//   bench_pulse_stream_cost [seconds per run, default 10] [rounds, default 3] [frames...]
//   (default frames: 256 512 1024)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <time.h>

#include "devices/PulseStream.h"
#include "devices/PulseSinks.h"

namespace {

struct Run {
    double cpuPct = 0.0;
    double switchesPerSec = 0.0;
};

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

long Switches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

bool Measure(unsigned frames, int seconds, Run* run) {
    std::string sink;
    const uint32_t rate = mb::PulseSinks::Rate("", &sink);
    if (rate == 0)
        return false;
    mb::PulseStream stream;
    std::string error;
    const auto silence = [](float* out, unsigned n, int64_t, bool, void*) {
        std::fill(out, out + 2 * static_cast<size_t>(n), 0.0f);
    };
    const auto nothingAgain = [](int64_t, int64_t, void*) -> int64_t { return 0; };
    if (!stream.Open("", rate, frames, silence, nothingAgain, nullptr, nullptr, &error)) {
        std::fprintf(stderr, "no stream: %s\n", error.c_str());
        return false;
    }
    stream.Start();
    // The first second holds the start's eager reports.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu0 = CpuSeconds();
    const long switches0 = Switches();
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    run->cpuPct = (CpuSeconds() - cpu0) / wall * 100.0;
    run->switchesPerSec = static_cast<double>(Switches() - switches0) / wall;
    const bool failed = stream.failed();
    stream.Stop();
    stream.Close();
    return !failed;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::vector<unsigned> sizes;
    for (int i = 3; i < argc; ++i)
        sizes.push_back(static_cast<unsigned>(std::max(64, std::atoi(argv[i]))));
    if (sizes.empty())
        sizes = {256, 512, 1024};

    std::map<unsigned, std::vector<Run>> runs;
    for (int round = 1; round <= rounds; ++round) {
        for (const unsigned frames : sizes) {
            Run run;
            if (!Measure(frames, seconds, &run)) {
                std::fprintf(stderr, "no sound server, or its stream failed\n");
                return 1;
            }
            std::printf("round %d, %4u frames: CPU %.2f %%, %.0f thread switches/s\n", round,
                        frames, run.cpuPct, run.switchesPerSec);
            std::fflush(stdout);
            runs[frames].push_back(run);
        }
    }
    std::printf("\nframes   CPU %% median (min-max)   switches/s median\n");
    for (auto& [frames, list] : runs) {
        std::sort(list.begin(), list.end(),
                  [](const Run& a, const Run& b) { return a.cpuPct < b.cpuPct; });
        std::vector<double> switches;
        for (const Run& r : list)
            switches.push_back(r.switchesPerSec);
        std::sort(switches.begin(), switches.end());
        std::printf("%6u   %.2f (%.2f-%.2f)          %.0f\n", frames,
                    list[list.size() / 2].cpuPct, list.front().cpuPct, list.back().cpuPct,
                    switches[switches.size() / 2]);
    }
    return 0;
}
