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
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/patch/patch.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "plugin/PluginUris.h"

namespace {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kBlock = 256;
constexpr double kBlockSeconds = static_cast<double>(kBlock) / kRate;
constexpr float kBpm = 126.0f;
constexpr size_t kAtomBytes = 16384;

std::string g_setup = "build/bench/bench16.mbx";

// One instance of the plugin and what a host gives it: a URID map, a worker run on the
// host's thread after each block, the control input built anew each block.
class Host {
public:
    Host() {
        world_ = lilv_world_new();
        LilvNode* bundle = lilv_new_file_uri(world_, nullptr, MARROWBEAT_LV2_BUNDLE "/");
        lilv_world_load_bundle(world_, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(world_, MARROWBEAT_LV2_URI);
        const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), uri);
        lilv_node_free(uri);
        lv2_atom_forge_init(&forge_, &map_);
        if (plugin != nullptr)
            instance_ = lilv_plugin_instantiate(plugin, kRate, features_);
        if (instance_ == nullptr)
            return;
        worker_ = static_cast<const LV2_Worker_Interface*>(
            lilv_instance_get_extension_data(instance_, LV2_WORKER__interface));
        void* ports[] = {control_.data(), notify_.data(), midi_.data(), left_.data(),
                         right_.data()};
        for (uint32_t i = 0; i < 5; ++i)
            lilv_instance_connect_port(instance_, i, ports[i]);
        lilv_instance_activate(instance_);
        Clear();
    }
    ~Host() {
        if (instance_ != nullptr) {
            lilv_instance_deactivate(instance_);
            lilv_instance_free(instance_);
        }
        lilv_world_free(world_);
    }
    bool ok() const { return instance_ != nullptr && worker_ != nullptr; }

    // Rolling at kBpm, at transport frame `frame` (bar 1 at frame 0).
    void Position(int64_t frame) {
        const double quarters = static_cast<double>(frame) * kBpm / (60.0 * kRate);
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge_, 0);
        lv2_atom_forge_object(&forge_, &object, 0, Urid(LV2_TIME__Position));
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__frame));
        lv2_atom_forge_long(&forge_, frame);
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__speed));
        lv2_atom_forge_float(&forge_, 1.0f);
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__barBeat));
        lv2_atom_forge_float(&forge_, static_cast<float>(std::fmod(quarters, 4.0)));
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__bar));
        lv2_atom_forge_long(&forge_, static_cast<int64_t>(quarters / 4.0));
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__beatUnit));
        lv2_atom_forge_int(&forge_, 4);
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__beatsPerBar));
        lv2_atom_forge_float(&forge_, 4.0f);
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__beatsPerMinute));
        lv2_atom_forge_float(&forge_, kBpm);
        lv2_atom_forge_pop(&forge_, &object);
    }
    void SetSetup(const std::string& path) {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge_, 0);
        lv2_atom_forge_object(&forge_, &object, 0, Urid(LV2_PATCH__Set));
        lv2_atom_forge_key(&forge_, Urid(LV2_PATCH__property));
        lv2_atom_forge_urid(&forge_, Urid(MARROWBEAT_LV2_SETUP_URI));
        lv2_atom_forge_key(&forge_, Urid(LV2_PATCH__value));
        lv2_atom_forge_path(&forge_, path.c_str(), static_cast<uint32_t>(path.size()));
        lv2_atom_forge_pop(&forge_, &object);
    }

    // One block: the control input as built, run() (its time returned, in seconds), then
    // the worker and its answers, and a fresh control input.
    double Run() {
        lv2_atom_forge_pop(&forge_, &sequence_);
        for (auto* port : {&notify_, &midi_}) {
            auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(port->data());
            seq->atom.type = Urid(LV2_ATOM__Chunk);
            seq->atom.size = kAtomBytes - sizeof(LV2_Atom);
        }
        const auto start = std::chrono::steady_clock::now();
        lilv_instance_run(instance_, kBlock);
        const auto end = std::chrono::steady_clock::now();
        NoteSetup();
        if (std::any_of(left_.begin(), left_.end(), [](float v) { return v != 0.0f; }))
            ++sounding;
        frames += kBlock;
        Clear();
        LV2_Handle handle = lilv_instance_get_handle(instance_);
        while (!work_.empty()) {
            const std::vector<char> job = std::move(work_.front());
            work_.pop_front();
            worker_->work(handle, &Host::Respond, this, static_cast<uint32_t>(job.size()),
                          job.data());
        }
        for (const std::vector<char>& answer : answers_)
            worker_->work_response(handle, static_cast<uint32_t>(answer.size()), answer.data());
        answers_.clear();
        return std::chrono::duration<double>(end - start).count();
    }

    int64_t frames = 0;
    // Blocks with sound in them.
    int64_t sounding = 0;
    // The setup the plugin last said it plays (its notify output's patch:Set).
    std::string playing;

private:
    LV2_URID Urid(const char* uri) { return Map(this, uri); }
    void Clear() {
        lv2_atom_forge_set_buffer(&forge_, reinterpret_cast<uint8_t*>(control_.data()), kAtomBytes);
        lv2_atom_forge_sequence_head(&forge_, &sequence_, 0);
    }
    void NoteSetup() {
        const auto* seq = reinterpret_cast<const LV2_Atom_Sequence*>(notify_.data());
        LV2_ATOM_SEQUENCE_FOREACH(seq, event) {
            const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
            if (event->body.type != Urid(LV2_ATOM__Object) ||
                object->body.otype != Urid(LV2_PATCH__Set))
                continue;
            const LV2_Atom* value = nullptr;
            lv2_atom_object_get(object, Urid(LV2_PATCH__value), &value, 0);
            if (value != nullptr && value->type == Urid(LV2_ATOM__Path))
                playing = static_cast<const char*>(LV2_ATOM_BODY_CONST(value));
        }
    }
    static LV2_URID Map(LV2_URID_Map_Handle handle, const char* uri) {
        auto& uris = static_cast<Host*>(handle)->uris_;
        const auto found = std::find(uris.begin(), uris.end(), uri);
        if (found != uris.end())
            return static_cast<LV2_URID>(found - uris.begin() + 1);
        uris.emplace_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }
    static LV2_Worker_Status
    Schedule(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data) {
        const auto* bytes = static_cast<const char*>(data);
        static_cast<Host*>(handle)->work_.emplace_back(bytes, bytes + size);
        return LV2_WORKER_SUCCESS;
    }
    static LV2_Worker_Status
    Respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data) {
        const auto* bytes = static_cast<const char*>(data);
        static_cast<Host*>(handle)->answers_.emplace_back(bytes, bytes + size);
        return LV2_WORKER_SUCCESS;
    }

    LilvWorld* world_ = nullptr;
    LilvInstance* instance_ = nullptr;
    const LV2_Worker_Interface* worker_ = nullptr;
    std::vector<std::string> uris_;
    LV2_URID_Map map_{this, &Host::Map};
    LV2_Worker_Schedule schedule_{this, &Host::Schedule};
    LV2_Feature mapFeature_{LV2_URID__map, &map_};
    LV2_Feature scheduleFeature_{LV2_WORKER__schedule, &schedule_};
    const LV2_Feature* features_[3] = {&mapFeature_, &scheduleFeature_, nullptr};
    LV2_Atom_Forge forge_{};
    LV2_Atom_Forge_Frame sequence_{};
    std::vector<uint64_t> control_ = std::vector<uint64_t>(kAtomBytes / 8);
    std::vector<uint64_t> notify_ = std::vector<uint64_t>(kAtomBytes / 8);
    std::vector<uint64_t> midi_ = std::vector<uint64_t>(kAtomBytes / 8);
    std::vector<float> left_ = std::vector<float>(kBlock);
    std::vector<float> right_ = std::vector<float>(kBlock);
    std::deque<std::vector<char>> work_;
    std::vector<std::vector<char>> answers_;
};

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
    Host host;
    if (!host.ok()) {
        state.SkipWithError("the plugin did not instantiate from " MARROWBEAT_LV2_BUNDLE);
        return;
    }
    if (named)
        host.SetSetup(setup);
    host.Run();
    // A second of rolling first: the setup is loaded, takes over and its sounds are warm.
    host.Position(0);
    const int64_t start = host.frames;
    while (host.frames - start < kRate) {
        if (everyBlock)
            host.Position(host.frames - start);
        host.Run();
    }
    if (named && host.playing != setup) {
        state.SkipWithError(("the plugin plays '" + host.playing + "', not the setup").c_str());
        return;
    }
    if (host.sounding == 0) {
        state.SkipWithError("the plugin stayed silent for a second of rolling");
        return;
    }
    std::vector<double> times;
    times.reserve(1 << 22);
    for (auto _ : state) {
        if (everyBlock)
            host.Position(host.frames - start);
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
