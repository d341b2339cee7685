// The LV2 plugin hosted as a DAW hosts it (through lilv): the block loop, the worker and
// the host's time:Position, against the command-line render of the same setup.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "LilvHost.h"

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

// The test's host: it finds any memory allocated or freed in run() (where a start, a stop,
// a locate, a tempo change and a setup taking over all happen).
struct Host : test::LilvHost {
    explicit Host(uint32_t rate = kRate, uint32_t block = kBlock) : LilvHost(rate, block) {
#ifdef MB_COUNT_ALLOCATIONS
        counting = &::counting;
#endif
    }
    ~Host() {
#ifdef MB_COUNT_ALLOCATIONS
        EXPECT_EQ(allocations.exchange(0), 0) << "run() allocated or freed memory";
#endif
    }
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
    // a block behind where the plugin stood); it stops after a second, rolls again from
    // host frame 12 345, and half a second on goes on at half speed. Every note lies on a
    // sixteenth of the host's frames.
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
    // At half speed (a varispeed), told once: the host's frames run on at half a frame a
    // frame of the plugin's, and so do its sixteenths.
    const size_t fast = host.notes.size();
    const int64_t slowFrom = host.frames;
    const int64_t slowAt = host.frames + offset;
    host.Position(0, 0.5f, slowAt, slowAt * perFrame, 120.0f);
    while (host.frames < slowFrom + kRate)
        host.Run();
    ASSERT_GE(host.notes.size(), fast + 3);
    for (size_t i = fast; i < host.notes.size(); ++i) {
        const int64_t twice = 2 * slowAt + (host.notes[i].at - slowFrom);
        EXPECT_EQ(twice % 12000, 0) << "note at host frame " << twice / 2.0 << " at half speed";
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
    EXPECT_EQ(host.told, path);
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
    EXPECT_EQ(restored.told, path);
}

} // namespace
} // namespace mb
