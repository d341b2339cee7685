// The LV2 plugin's run() as a host calls it: the build tree's bundle loaded through lilv,
// the transport rolling from bar 1 at 126 BPM, 256 frames a block at 48 kHz, the worker
// run after each block. Only lilv_instance_run is timed. The counters give its cost as
// a percentage of the block's own duration (5.33 ms): block_pct on average, p999_pct for
// the 99.9th percentile of the blocks and worst_pct for the slowest (on a loaded machine
// mostly a preempted thread). Each case once with one position at the start (as jalv
// sends it) and once with a position every block (as a DAW sends it).
//
//   bench_lv2_run_cost [benchmark flags] [SETUP]
//
// SETUP (or $MARROWBEAT_BENCH_SETUP) is the setup of the "setup" cases, by default
// build/bench/bench16.mbx from the working directory (../shared/bench/make_bench_setup.py
// build/bench makes it); the "demo" cases play the bundle's demo.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "LilvHost.h"

namespace {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kBlock = 256;
constexpr double kBlockSeconds = static_cast<double>(kBlock) / kRate;
constexpr float kBpm = 126.0f;

std::string g_setup = "build/bench/bench16.mbx";

// Args: 1 to play the setup (0: the demo); 1 to send a position every block.
void BM_Run(benchmark::State& state) {
    const bool named = state.range(0) != 0;
    const bool everyBlock = state.range(1) != 0;
    std::string setup;
    if (named) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(g_setup, error)) {
            state.SkipWithError(("no setup at '" + g_setup +
                                 "': make it with ../shared/bench/make_bench_setup.py build/bench")
                                    .c_str());
            return;
        }
        setup = std::filesystem::absolute(g_setup, error).string();
    }
    mb::test::LilvHost host(kRate, kBlock);
    if (!host.ok()) {
        state.SkipWithError("the plugin did not instantiate from " MARROWBEAT_LV2_BUNDLE);
        return;
    }
    if (named)
        host.SetSetup(setup);
    host.Run();
    // A second of rolling first: the setup is loaded, takes over and its sounds are warm.
    const int64_t start = host.frames;
    const auto position = [&host, start] {
        const int64_t frame = host.frames - start;
        host.Position(0, 1.0f, frame, static_cast<double>(frame) * kBpm / (60.0 * kRate), kBpm);
    };
    position();
    std::vector<float> warm;
    while (host.frames - start < kRate) {
        if (everyBlock)
            position();
        host.Run(&warm);
    }
    if (named && host.told != setup) {
        state.SkipWithError(("the plugin plays '" + host.told + "', not the setup").c_str());
        return;
    }
    if (std::all_of(warm.begin(), warm.end(), [](float v) { return v == 0.0f; })) {
        state.SkipWithError("the plugin stayed silent for a second of rolling");
        return;
    }
    std::vector<double> times;
    times.reserve(1 << 22);
    for (auto _ : state) {
        if (everyBlock)
            position();
        times.push_back(host.Run());
        state.SetIterationTime(times.back());
    }
    // The slowest blocks are mostly the machine's (a preempted thread): the 99.9th
    // percentile says what run() itself may cost at worst.
    double total = 0.0;
    for (double t : times)
        total += t;
    auto rank = times.begin() + static_cast<std::ptrdiff_t>(times.size() * 999 / 1000);
    std::nth_element(times.begin(), rank, times.end());
    const auto blocks = static_cast<double>(times.size());
    state.counters["block_pct"] = 100.0 * total / (blocks * kBlockSeconds);
    state.counters["p999_pct"] = 100.0 * *rank / kBlockSeconds;
    state.counters["worst_pct"] = 100.0 * *std::max_element(rank, times.end()) / kBlockSeconds;
    state.counters["audio_s"] = blocks * kBlockSeconds;
    state.SetLabel(named ? "setup" : "demo");
}
BENCHMARK(BM_Run)
    ->ArgNames({"setup", "position_each_block"})
    ->ArgsProduct({{1, 0}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (const char* env = std::getenv("MARROWBEAT_BENCH_SETUP"))
        g_setup = env;
    if (argc > 1)
        g_setup = argv[1];
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
