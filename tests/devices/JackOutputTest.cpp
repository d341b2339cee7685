// The output through a real JACK server, started by the test with its dummy driver at
// 48 000 Hz (no sound card needed), recorded by a JACK client of the test's own. Skipped
// without jackd, except in CI, where that is a failure.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <jack/jack.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "LiveCapture.h"
#include "devices/JackTransport.h"

extern char** environ;

namespace mb {
namespace {

using namespace std::chrono_literals;

constexpr const char* kServer = "marrowbeat-test";
constexpr int kRate = 48000;
constexpr double kSeconds = 2.0;

bool InCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// Records its input port's samples into a buffer made beforehand: all of them, or with
// `whileRolling` only those of cycles the transport rolls in, from the transport's frame
// the roll began on.
class Recorder {
public:
    explicit Recorder(bool whileRolling = false) : whileRolling_(whileRolling) {}
    bool Open() {
        client_ = jack_client_open("recorder", JackNoStartServer, nullptr);
        if (client_ == nullptr)
            return false;
        port_ = jack_port_register(client_, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        samples_.assign(static_cast<size_t>(kRate * (kSeconds + 3)), 0.0f);
        jack_set_process_callback(
            client_,
            [](jack_nframes_t n, void* user) {
                static_cast<Recorder*>(user)->Take(n);
                return 0;
            },
            this);
        return jack_activate(client_) == 0;
    }
    // Connects the program's first output port (its stream is named "Marrowbeat").
    bool Listen() {
        const char** ports = jack_get_ports(client_, "Marrowbeat", nullptr, JackPortIsOutput);
        const bool ok = ports != nullptr && ports[0] != nullptr &&
                        jack_connect(client_, ports[0], jack_port_name(port_)) == 0;
        jack_free(ports);
        return ok;
    }
    jack_client_t* client() const { return client_; }
    // The server skipped a cycle while recording.
    bool Held() const { return held_.load(std::memory_order_relaxed); }
    std::vector<int16_t> Take() {
        jack_deactivate(client_);
        std::vector<int16_t> left;
        const size_t n = count_.load(std::memory_order_acquire);
        for (size_t i = 0; i < n; ++i)
            left.push_back(static_cast<int16_t>(std::lrint(samples_[i] * 32767.0f)));
        return left;
    }
    // While rolling: the onsets recorded, as transport frames, and whether a cycle the
    // transport did not move on by exactly a period broke the record.
    std::vector<int64_t> TransportOnsets(bool* broken) {
        std::vector<int64_t> onsets = test::FindOnsets(Take());
        *broken = broken_.load(std::memory_order_relaxed);
        for (int64_t& onset : onsets)
            onset += first_.load(std::memory_order_relaxed);
        return onsets;
    }
    ~Recorder() {
        if (client_ != nullptr)
            jack_client_close(client_);
    }

private:
    // The process thread.
    void Take(jack_nframes_t n) {
        size_t at = count_.load(std::memory_order_relaxed);
        // A cycle the server skipped or whose frame time it reset (the machine held it up)
        // leaves the record without the frames between.
        const jack_nframes_t cycle = jack_last_frame_time(client_);
        if (at > 0 && cycle != lastCycle_ + n)
            held_.store(true, std::memory_order_relaxed);
        lastCycle_ = cycle;
        if (whileRolling_) {
            jack_position_t pos{};
            if (jack_transport_query(client_, &pos) != JackTransportRolling)
                return;
            if (at == 0)
                first_.store(pos.frame, std::memory_order_relaxed);
            if (at > 0 && pos.frame != first_.load(std::memory_order_relaxed) + at)
                broken_.store(true, std::memory_order_relaxed);
        }
        const auto* in = static_cast<const float*>(jack_port_get_buffer(port_, n));
        for (jack_nframes_t i = 0; i < n && at < samples_.size(); ++i)
            samples_[at++] = in[i];
        count_.store(at, std::memory_order_release);
    }

    const bool whileRolling_;
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::vector<float> samples_;
    std::atomic<size_t> count_{0};
    std::atomic<int64_t> first_{0};
    std::atomic<bool> broken_{false};
    std::atomic<bool> held_{false};
    jack_nframes_t lastCycle_ = 0;
};

// A JACK server of the test's own, stopped when the test ends however it ends.
struct JackServer {
    pid_t pid = 0;
    bool Start(int period = 256) {
        setenv("JACK_DEFAULT_SERVER", kServer, 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        const std::string rate = std::to_string(kRate);
        const std::string frames = std::to_string(period);
        const char* argv[] = {"jackd", "-n",         kServer, "-d",           "dummy",
                              "-r",    rate.c_str(), "-p",    frames.c_str(), nullptr};
        return posix_spawnp(&pid, "jackd", nullptr, nullptr, const_cast<char**>(argv), environ) ==
               0;
    }
    ~JackServer() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

TEST(JackOutput, PlaysAtTheServersRateWithEveryStepOnItsFrame) {
    JackServer server;
    if (!server.Start()) {
        if (InCi())
            FAIL() << "jackd is missing";
        GTEST_SKIP() << "jackd is not installed";
    }
    // A run in which the machine held the server up (it skipped a cycle: the record lacks
    // its frames) or the step clock beyond the output's lead (a step reached the mixer after
    // its frame) says nothing of the placing: it is run again, three times at most.
    constexpr int kRuns = 3;
    for (int run = 1; run <= kRuns; ++run) {
        Recorder recorder;
        bool up = false;
        for (int i = 0; i < 50 && !up; ++i) {
            std::this_thread::sleep_for(100ms);
            up = recorder.Open();
        }
        ASSERT_TRUE(up) << "the JACK server did not come up";
        mb::Setup setup;
        ScriptedPrompts prompts;
        SoundEngine engine;
        // A buffer the server does not use: the server's period is the buffer.
        engine.Init(&setup, &prompts, [] { return DeviceOutput::Open({"jack", "", 1024}); });
        SoundFolder folder(setup, engine, prompts, {});
        ASSERT_NE(engine.device(), nullptr) << "the JACK output did not open";
        ASSERT_TRUE(folder.ScanSoundFolder(MB_KIT_DIR));
        const OutputStatus status = engine.device()->output()->Status();
        EXPECT_EQ(status.api, "jack");
        EXPECT_EQ(status.rate, static_cast<uint32_t>(kRate));
        EXPECT_EQ(status.bufferFrames, 256);
        EXPECT_TRUE(status.serverSetsBuffer);
        ASSERT_TRUE(recorder.Listen());
        test::NoFace face;
        Sequencer sequencer;
        sequencer.Init({&face, &face, &engine, nullptr, nullptr}, &setup);
        sequencer.Start();
        std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
        sequencer.Stop();
        std::this_thread::sleep_for(300ms);
        const std::vector<int16_t> left = recorder.Take();
        if (recorder.Held() || engine.device()->mixer().lateCommands() != 0) {
            if (run < kRuns)
                continue;
            GTEST_SKIP() << "the machine held the JACK server or the step clock up in every run";
        }
        const std::vector<int64_t> onsets = test::FindOnsets(left);
        const double period = sequencer.period() * kRate / 1000.0;
        ASSERT_GE(onsets.size(), 12u) << "recorded " << left.size() << " frames";
        for (size_t i = 1; i < onsets.size(); ++i)
            EXPECT_LE(std::abs(static_cast<double>(onsets[i] - onsets[0]) -
                               static_cast<double>(i) * period),
                      1.0)
                << "onset " << i;
        break;
    }
}

TEST(JackOutput, FollowingTheTransportEveryStepSoundsOnItsSixteenthFromTheStart) {
    JackServer server;
    // Long periods: a mapping guessed from the callbacks' rhythm is frames off here for
    // the first seconds.
    if (!server.Start(1024)) {
        if (InCi())
            FAIL() << "jackd is missing";
        GTEST_SKIP() << "jackd is not installed";
    }
    Recorder recorder(true);
    bool up = false;
    for (int i = 0; i < 50 && !up; ++i) {
        std::this_thread::sleep_for(100ms);
        up = recorder.Open();
    }
    ASSERT_TRUE(up) << "the JACK server did not come up";
    mb::Setup setup;
    ScriptedPrompts prompts;
    SoundEngine engine;
    engine.Init(&setup, &prompts, [] { return DeviceOutput::Open({"jack", "", 256}); });
    SoundFolder folder(setup, engine, prompts, {});
    ASSERT_NE(engine.device(), nullptr) << "the JACK output did not open";
    ASSERT_TRUE(folder.ScanSoundFolder(MB_KIT_DIR));
    // The output flows on while stopped: the start is met on its frame, and the
    // connection made here stays.
    engine.device()->output()->HoldFlowing(true);
    ASSERT_TRUE(recorder.Listen());
    std::string error;
    JackTransport::Hooks hooks;
    hooks.runDelayNs = [&engine] { return engine.device()->mixer().runDelayNs(); };
    // No other timebase master: the program is one, at the setup's tempo from frame 0.
    std::unique_ptr<JackTransport> transport = JackTransport::Open(hooks, setup.bpm, &error);
    ASSERT_NE(transport, nullptr) << error;
    EXPECT_TRUE(transport->IsMaster());
    test::NoFace face;
    Sequencer sequencer;
    sequencer.Init({&face, &face, &engine, nullptr, nullptr, transport.get()}, &setup);
    std::this_thread::sleep_for(500ms);
    jack_transport_locate(recorder.client(), 0);
    jack_transport_start(recorder.client());
    // The window's part: look every 10 ms and start or stop the run as told.
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kSeconds + 1);
    while (std::chrono::steady_clock::now() < end) {
        const JackTransport::News news = transport->Poll(sequencer.running());
        if (news.stop)
            sequencer.OnWindowMessage(MSG_REMOTE_STOP, 0, 0);
        if (news.start)
            sequencer.OnWindowMessage(MSG_REMOTE_START, 0, 0);
        std::this_thread::sleep_for(10ms);
    }
    jack_transport_stop(recorder.client());
    std::this_thread::sleep_for(100ms);
    transport->Poll(sequencer.running());
    sequencer.Stop();
    sequencer.Shutdown();
    bool broken = false;
    const std::vector<int64_t> onsets = recorder.TransportOnsets(&broken);
    if (broken)
        GTEST_SKIP() << "the server lost cycles (the machine is too busy to measure)";
    const double perStep = kRate * 15.0 / setup.bpm;
    ASSERT_GE(onsets.size(), 8u);
    // Each within a frame of the frame its sixteenth falls on, the first on the start.
    for (size_t i = 0; i < onsets.size(); ++i)
        EXPECT_LE(std::llabs(onsets[i] - std::llround(static_cast<double>(i) * perStep)), 1)
            << "onset " << i;
}

} // namespace
} // namespace mb
