// The LV2 plugin hosted as a DAW hosts it (through lilv): the block loop, the worker and
// the host's time:Position, against the command-line render of the same setup.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "plugin/PluginUris.h"

// The allocations and frees made while the plugin's run() runs (this program's operator new
// and delete stand in for the library's, the plugin's too). Not under the sanitizers,
// which keep their own.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define MB_COUNT_ALLOCATIONS 1
namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};
} // namespace
void* operator new(std::size_t size) {
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    if (p != nullptr && counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}
#endif

namespace mb {
namespace {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kBlock = 256;
constexpr size_t kAtomBytes = 16384;

// Samples of a 32-bit float stereo WAV file, interleaved.
std::vector<float> ReadFloatWave(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    for (size_t at = 12; at + 8 <= bytes.size();) {
        uint32_t size = 0;
        std::memcpy(&size, &bytes[at + 4], 4);
        if (std::memcmp(&bytes[at], "data", 4) == 0) {
            std::vector<float> samples(std::min<size_t>(size, bytes.size() - at - 8) / 4);
            std::memcpy(samples.data(), &bytes[at + 8], samples.size() * 4);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

// A host with one instance of the plugin: a URID map, a worker run between blocks (as
// hosts do, after run()), an atom sequence to send and the ports' buffers. It finds any
// memory allocated or freed in run() (where a start, a stop, a locate, a tempo change and
// a setup taking over all happen).
class Host {
public:
    explicit Host(uint32_t rate = kRate, uint32_t block = kBlock)
        : block_(block), left_(block), right_(block) {
        world_ = lilv_world_new();
        LilvNode* bundle = lilv_new_file_uri(world_, nullptr, MARROWBEAT_LV2_BUNDLE "/");
        lilv_world_load_bundle(world_, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(world_, MARROWBEAT_LV2_URI);
        plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), uri);
        lilv_node_free(uri);
        map_ = {this, &Host::Map};
        schedule_ = {this, &Host::Schedule};
        mapFeature_ = {LV2_URID__map, &map_};
        scheduleFeature_ = {LV2_WORKER__schedule, &schedule_};
        lv2_atom_forge_init(&forge_, &map_);
        if (plugin_ != nullptr)
            instance_ = lilv_plugin_instantiate(plugin_, rate, features_);
        if (instance_ == nullptr)
            return;
        worker_ = static_cast<const LV2_Worker_Interface*>(
            lilv_instance_get_extension_data(instance_, LV2_WORKER__interface));
        lilv_instance_connect_port(instance_, 0, control_.data());
        lilv_instance_connect_port(instance_, 1, notify_.data());
        lilv_instance_connect_port(instance_, 2, midi_.data());
        lilv_instance_connect_port(instance_, 3, left_.data());
        lilv_instance_connect_port(instance_, 4, right_.data());
        lilv_instance_activate(instance_);
        Clear();
    }
    ~Host() {
#ifdef MB_COUNT_ALLOCATIONS
        EXPECT_EQ(allocations.exchange(0), 0) << "run() allocated or freed memory";
#endif
        if (instance_ != nullptr) {
            lilv_instance_deactivate(instance_);
            lilv_instance_free(instance_);
        }
        lilv_world_free(world_);
    }
    bool ok() const {
        return instance_ != nullptr && worker_ != nullptr;
    }
    LV2_URID Urid(const char* uri) {
        return Map(this, uri);
    }

    // The next block's control input: empty, then what the calls below add.
    void Clear() {
        lv2_atom_forge_set_buffer(&forge_, reinterpret_cast<uint8_t*>(control_.data()), kAtomBytes);
        lv2_atom_forge_sequence_head(&forge_, &sequence_, 0);
    }
    void Position(uint32_t at, float speed, int64_t frame, double quarters, float bpm) {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge_, at);
        lv2_atom_forge_object(&forge_, &object, 0, Urid(LV2_TIME__Position));
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__speed));
        lv2_atom_forge_float(&forge_, speed);
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__frame));
        lv2_atom_forge_long(&forge_, frame);
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__bar));
        lv2_atom_forge_long(&forge_, static_cast<int64_t>(quarters / 4));
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__barBeat));
        lv2_atom_forge_float(&forge_, static_cast<float>(std::fmod(quarters, 4.0)));
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__beatUnit));
        lv2_atom_forge_int(&forge_, 4);
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__beatsPerBar));
        lv2_atom_forge_float(&forge_, 4.0f);
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__beatsPerMinute));
        lv2_atom_forge_float(&forge_, bpm);
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

    // Runs one block (the control input as built, then cleared) and the worker after it.
    // The block's sound is appended to `out` (interleaved), the frames of its note-ons to
    // `notes` (counted from the host's start).
    void Run(std::vector<float>* out = nullptr) {
        lv2_atom_forge_pop(&forge_, &sequence_);
        for (auto* port : {&notify_, &midi_}) {
            auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(port->data());
            seq->atom.type = Urid(LV2_ATOM__Chunk);
            seq->atom.size = kAtomBytes - sizeof(LV2_Atom);
        }
#ifdef MB_COUNT_ALLOCATIONS
        counting = true;
        lilv_instance_run(instance_, block_);
        counting = false;
#else
        lilv_instance_run(instance_, block_);
#endif
        const auto* seq = reinterpret_cast<const LV2_Atom_Sequence*>(midi_.data());
        LV2_ATOM_SEQUENCE_FOREACH(seq, event) {
            const auto* bytes = static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&event->body));
            if (event->body.type == Urid(LV2_MIDI__MidiEvent) && (bytes[0] & 0xF0) == 0x90 &&
                bytes[2] > 0)
                notes.push_back({frames + event->time.frames, bytes[1]});
        }
        if (out != nullptr)
            for (uint32_t i = 0; i < block_; ++i) {
                out->push_back(left_[i]);
                out->push_back(right_[i]);
            }
        frames += block_;
        Clear();
        while (!work_.empty()) {
            const std::vector<char> job = std::move(work_.front());
            work_.pop_front();
            worker_->work(lilv_instance_get_handle(instance_), &Host::Respond, this,
                          static_cast<uint32_t>(job.size()), job.data());
        }
        for (const std::vector<char>& answer : answers_)
            worker_->work_response(lilv_instance_get_handle(instance_),
                                   static_cast<uint32_t>(answer.size()), answer.data());
        answers_.clear();
    }

    // The path the plugin last told on its notify output (patch:Set of the setup).
    std::string Told() const {
        std::string told;
        const auto* seq = reinterpret_cast<const LV2_Atom_Sequence*>(notify_.data());
        LV2_ATOM_SEQUENCE_FOREACH(seq, event) {
            const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
            const LV2_Atom* value = nullptr;
            lv2_atom_object_get(object, const_cast<Host*>(this)->Urid(LV2_PATCH__value), &value, 0);
            if (value != nullptr)
                told = static_cast<const char*>(LV2_ATOM_BODY_CONST(value));
        }
        return told;
    }
    void Get() {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge_, 0);
        lv2_atom_forge_object(&forge_, &object, 0, Urid(LV2_PATCH__Get));
        lv2_atom_forge_pop(&forge_, &object);
    }
    // The plugin's state as a host saves it with the song, and restored into this one.
    LilvState* Save() {
        return lilv_state_new_from_instance(plugin_, instance_, &map_, nullptr, nullptr, nullptr,
                                            nullptr, &Host::NoPortValue, nullptr, 0, features_);
    }
    void Restore(const LilvState* state) {
        lilv_state_restore(state, instance_, nullptr, nullptr, 0, features_);
    }

    struct Note {
        int64_t at;
        int note;
    };
    int64_t frames = 0;
    std::vector<Note> notes;

private:
    static const void* NoPortValue(const char*, void*, uint32_t* size, uint32_t* type) {
        *size = 0;
        *type = 0;
        return nullptr;
    }
    static LV2_URID Map(LV2_URID_Map_Handle handle, const char* uri) {
        auto& uris = static_cast<Host*>(handle)->uris_;
        for (size_t i = 0; i < uris.size(); ++i)
            if (uris[i] == uri)
                return static_cast<LV2_URID>(i + 1);
        uris.emplace_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }
    static LV2_Worker_Status
    Schedule(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data) {
        // The host's own queue (a real host's is a ring made beforehand) is not run()'s.
#ifdef MB_COUNT_ALLOCATIONS
        const bool was = counting.exchange(false);
#endif
        const auto* bytes = static_cast<const char*>(data);
        static_cast<Host*>(handle)->work_.emplace_back(bytes, bytes + size);
#ifdef MB_COUNT_ALLOCATIONS
        counting = was;
#endif
        return LV2_WORKER_SUCCESS;
    }
    static LV2_Worker_Status
    Respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data) {
        const auto* bytes = static_cast<const char*>(data);
        static_cast<Host*>(handle)->answers_.emplace_back(bytes, bytes + size);
        return LV2_WORKER_SUCCESS;
    }

    LilvWorld* world_ = nullptr;
    const LilvPlugin* plugin_ = nullptr;
    LilvInstance* instance_ = nullptr;
    const LV2_Worker_Interface* worker_ = nullptr;
    std::vector<std::string> uris_;
    LV2_URID_Map map_{};
    LV2_Worker_Schedule schedule_{};
    LV2_Feature mapFeature_{};
    LV2_Feature scheduleFeature_{};
    const LV2_Feature* features_[3] = {&mapFeature_, &scheduleFeature_, nullptr};
    LV2_Atom_Forge forge_{};
    LV2_Atom_Forge_Frame sequence_{};
    alignas(8) std::vector<uint64_t> control_ = std::vector<uint64_t>(kAtomBytes / 8);
    std::vector<uint64_t> notify_ = std::vector<uint64_t>(kAtomBytes / 8);
    std::vector<uint64_t> midi_ = std::vector<uint64_t>(kAtomBytes / 8);
    uint32_t block_;
    std::vector<float> left_;
    std::vector<float> right_;
    std::deque<std::vector<char>> work_;
    std::vector<std::vector<char>> answers_;
};

std::string
Render(const std::string& setup, uint32_t rate, double seconds, const std::string& out) {
    const std::string line = std::string(MB_CLI_PATH) + " render '" + setup + "' --float --rate " +
                             std::to_string(rate) + " --seconds " + std::to_string(seconds) +
                             " -o '" + out + "' >/dev/null 2>&1";
    return std::system(line.c_str()) == 0 ? out : std::string();
}

const std::string kDemo = MARROWBEAT_LV2_BUNDLE "/kit/demo.mbx";

// Writes the demo to `path` with its sounds named by their folder and its JSON changed by
// the sed expression `edit`.
bool WriteDemo(const std::string& path, const std::string& edit) {
    const std::string line = std::string(MB_CLI_PATH) + " info '" + kDemo + "' | sed -e '" + edit +
                             "' -e 's#\"soundFolder\": *\"[^\"]*\"#\"soundFolder\": \"" +
                             MB_KIT_DIR + "\"#' | " + MB_CLI_PATH + " write - -o '" + path + "'";
    return std::system(line.c_str()) == 0;
}

// Sample for sample the render's, from the transport's start at bar 1, for the demo the
// plugin plays without a setup (at 118 BPM; also at 44.1 kHz in blocks of 333 frames) and
// for a setup named by the path parameter (the demo at 150 BPM).
TEST(PluginHostTest, PlaysAsTheRenderFromBarOne) {
    const std::filesystem::path dir = testing::TempDir();
    const std::string fast = (dir / "kit" / "fast.mbx").string();
    std::filesystem::create_directories(dir / "kit");
    ASSERT_TRUE(WriteDemo(fast, "s/\"bpm\": *[0-9.]*/\"bpm\": 150/"));
    struct Case {
        const char* name;
        std::string setup;
        float bpm;
        uint32_t rate;
        uint32_t block;
    };
    for (const Case& c : {Case{"demo", "", 118.0f, kRate, kBlock},
                          Case{"demo, 44.1 kHz, 333", "", 118.0f, 44100, 333},
                          Case{"named", fast, 150.0f, kRate, kBlock}}) {
        SCOPED_TRACE(c.name);
        const std::string setup = c.setup.empty() ? kDemo : c.setup;
        const std::vector<float> expected =
            ReadFloatWave(Render(setup, c.rate, 3.0, (dir / "render.wav").string()));
        ASSERT_GT(expected.size(), 2u * c.rate);
        Host host(c.rate, c.block);
        ASSERT_TRUE(host.ok());
        const float bpm = c.bpm;
        host.Position(0, 0.0f, 0, 0.0, bpm);
        if (!c.setup.empty())
            host.SetSetup(c.setup);
        host.Run();
        host.Run();
        host.Position(0, 1.0f, 0, 0.0, bpm);
        std::vector<float> played;
        while (played.size() < expected.size())
            host.Run(&played);
        played.resize(expected.size());
        size_t first = 0;
        while (first < played.size() && played[first] == expected[first])
            ++first;
        EXPECT_EQ(first, played.size()) << "first difference at frame " << first / 2;
    }
}

// The host's transport: the notes lie on its sixteenths to the frame from wherever it
// starts, and stop and locate with it.
TEST(PluginHostTest, FollowsTheTransport) {
    Host host;
    ASSERT_TRUE(host.ok());
    // 120 BPM at 48 kHz: 6000 frames a sixteenth. The transport rolls from bar 2, beat
    // 2 and a third of a sixteenth (host frame 100 000); half a second on, the host skips
    // a block (its frames run on 256 further than the plugin rendered, its master's beat
    // a block behind where the plugin stood); it stops after a second, and rolls again
    // from host frame 12 345. Every note lies on a sixteenth of the host's frames.
    const double perFrame = 2.0 / kRate;
    host.Position(0, 0.0f, 0, 0.0, 120.0f);
    host.Run();
    // The host frame of the plugin's frame 0.
    int64_t offset = 100000 - host.frames;
    host.Position(0, 1.0f, 100000, 100000 * perFrame, 120.0f);
    while (host.frames + offset < 124000)
        host.Run();
    const int64_t stale = host.frames + offset;
    offset += 256;
    host.Position(0, 1.0f, host.frames + offset, (stale - 256) * perFrame, 120.0f);
    while (host.frames + offset < 100000 + kRate)
        host.Run();
    const size_t before = host.notes.size();
    ASSERT_GT(before, 6u);
    for (const Host::Note& n : host.notes) {
        const int64_t hostFrame = n.at + (n.at < stale - offset + 256 ? offset - 256 : offset);
        EXPECT_EQ(hostFrame % 6000, 0) << "note at host frame " << hostFrame;
    }
    const int64_t stopped = host.frames + offset;
    host.Position(0, 0.0f, stopped, stopped * perFrame, 120.0f);
    for (int i = 0; i < 100; ++i)
        host.Run();
    EXPECT_EQ(host.notes.size(), before) << "notes after the stop";
    offset = 12345 - host.frames;
    host.Position(0, 1.0f, 12345, 12345 * perFrame, 120.0f);
    while (host.frames + offset < 12345 + kRate / 2)
        host.Run();
    ASSERT_GT(host.notes.size(), before);
    for (size_t i = before; i < host.notes.size(); ++i) {
        const int64_t hostFrame = host.notes[i].at + offset;
        EXPECT_EQ(hostFrame % 6000, 0) << "note at host frame " << hostFrame;
    }
}

// The loop chain counts from the host's bar 1: rolled from bar 4 (the demo's fill, after
// three passes of its main beat), the plugin plays there what it plays there when rolled
// from bar 1.
TEST(PluginHostTest, TheChainCountsFromBarOne) {
    const double perFrame = 2.0 / kRate;
    constexpr int64_t kBar = 96000;
    std::vector<Host::Note> heard[2];
    for (int from : {0, 3}) {
        Host host;
        ASSERT_TRUE(host.ok());
        host.Position(0, 0.0f, 0, 0.0, 120.0f);
        host.Run();
        const int64_t offset = from * kBar - host.frames;
        host.Position(0, 1.0f, from * kBar, from * kBar * perFrame, 120.0f);
        while (host.frames + offset < 6 * kBar)
            host.Run();
        for (const Host::Note& n : host.notes)
            if (n.at + offset >= 3 * kBar && n.at + offset < 6 * kBar)
                heard[from != 0].push_back({n.at + offset, n.note});
    }
    ASSERT_GT(heard[0].size(), 16u);
    ASSERT_EQ(heard[1].size(), heard[0].size());
    for (size_t i = 0; i < heard[0].size(); ++i) {
        EXPECT_EQ(heard[1][i].at, heard[0][i].at);
        EXPECT_EQ(heard[1][i].note, heard[0][i].note) << "at host frame " << heard[0][i].at;
    }
}

// A setup file saved anew is read again and takes over at the next bar; the path is kept
// in the state a host saves and comes back with it.
TEST(PluginHostTest, TakesUpTheSavedFileAtABarAndKeepsItsPath) {
    const std::filesystem::path dir = std::filesystem::path(testing::TempDir()) / "saved";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "song.mbx").string();
    ASSERT_TRUE(WriteDemo(path, "s/\"bpm\": *[0-9.]*/\"bpm\": 120/"));
    Host host;
    ASSERT_TRUE(host.ok());
    host.Position(0, 0.0f, 0, 0.0, 120.0f);
    host.SetSetup(path);
    host.Run();
    host.Get();
    host.Run();
    EXPECT_EQ(host.Told(), path);
    const int64_t start = host.frames;
    host.Position(0, 1.0f, 0, 0.0, 120.0f);
    while (host.frames < start + kRate / 4)
        host.Run();
    // Every step now plays sound 15 (note 51): saved as the window saves, a new file.
    const int64_t saved = host.frames - start;
    ASSERT_TRUE(WriteDemo(path, "s/\"sound\": *[0-9]*/\"sound\": 15/"));
    while (host.frames < start + 4 * kRate)
        host.Run();
    // 96 000 frames a bar. Old notes up to a bar line, new ones from it, within a bar and
    // the plugin's half-second look at the file.
    int64_t lastOld = -1, firstNew = -1;
    for (const Host::Note& n : host.notes) {
        if (n.note == 51 && firstNew < 0)
            firstNew = n.at - start;
        if (n.note != 51) {
            lastOld = n.at - start;
            EXPECT_LT(firstNew, 0) << "an old note after the new setup took over";
        }
    }
    ASSERT_GE(firstNew, 0);
    EXPECT_GT(lastOld, saved);
    EXPECT_EQ(firstNew % 96000, 0);
    EXPECT_LE(firstNew, saved + kRate / 2 + 96000 + kBlock);

    LilvState* state = host.Save();
    ASSERT_NE(state, nullptr);
    Host restored;
    ASSERT_TRUE(restored.ok());
    restored.Restore(state);
    lilv_state_free(state);
    restored.Get();
    restored.Run();
    EXPECT_EQ(restored.Told(), path);
}

} // namespace
} // namespace mb
