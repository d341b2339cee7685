// The program's MIDI through a real JACK server that the test starts itself (the dummy
// back end: no sound card), and through the ALSA sequencer where the machine has one. A
// small recording client of the test's own notes the frame of every event the program
// sends, and sends it MIDI Start and Stop. Without jackd the JACK test is skipped,
// except in CI, where it fails.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <rtmidi/RtMidi.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AppTestSupport.h"
#include "JackXruns.h"
#include "devices/JackMidiOutput.h"
#include "devices/MidiPorts.h"
#include "files/PersistedSettings.h"
#include "files/SettingsStore.h"
#include "panel/WidgetPanel.h"
#include "platform/Clocks.h"

namespace mb {
namespace {

using namespace std::chrono_literals;

constexpr double kRate = 48000.0;
// 240 steps, as many as 30 s at 120 BPM, in 6 s.
constexpr double kBpm = 600.0;
constexpr int kSteps = 240;
constexpr unsigned char kStart = 0xFA;
constexpr unsigned char kStop = 0xFC;
constexpr unsigned char kClock = 0xF8;

bool InCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// Runs the window's events until done() holds or ten seconds have passed.
template <typename Done> bool WaitFor(Done done) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!done() && std::chrono::steady_clock::now() < end)
        QTest::qWait(5);
    return done();
}

struct Received {
    int64_t frame;
    unsigned char status;
};

// The frames of the events with that status.
std::vector<int64_t> Frames(const std::vector<Received>& events, unsigned char status) {
    std::vector<int64_t> frames;
    for (const Received& e : events)
        if (e.status == status)
            frames.push_back(e.frame);
    return frames;
}

// The test's JACK client: "in" records every MIDI event with its absolute frame, "out"
// sends one byte on request, "audio" records what it is given from its first cycle on.
// Its callback never allocates: the records are reserved.
class JackRecorder {
public:
    explicit JackRecorder(const char* name) {
        events_.resize(20000);
        samples_.resize(10 * 48000);
        client_ = jack_client_open(name, JackNoStartServer, nullptr);
        if (client_ == nullptr)
            return;
        in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        audio_ = jack_port_register(client_, "audio", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, &JackRecorder::Process, this);
        xruns_.Watch(client_);
        jack_activate(client_);
    }
    ~JackRecorder() {
        if (client_ != nullptr) {
            jack_deactivate(client_);
            jack_client_close(client_);
        }
    }
    bool ok() const {
        return client_ != nullptr && in_ != nullptr && out_ != nullptr && audio_ != nullptr;
    }
    std::string Port(const char* port) const {
        return std::string(jack_get_client_name(client_)) + ":" + port;
    }
    bool Connect(const char* source, const char* port) {
        return jack_connect(client_, source, Port(port).c_str()) == 0;
    }
    void Send(unsigned char byte) { pending_.store(byte, std::memory_order_release); }
    int Xruns() const { return xruns_.count(); }
    // JACK's estimate of the frame being processed now.
    int64_t FrameNow() const { return jack_frame_time(client_); }
    std::vector<Received> Events() const {
        const size_t n = count_.load(std::memory_order_acquire);
        return {events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(n)};
    }
    // The frames at which the recorded sound rises from silence.
    std::vector<int64_t> Onsets() const {
        const size_t n = sampleCount_.load(std::memory_order_acquire);
        std::vector<int64_t> onsets;
        size_t quietSince = 0;
        for (size_t i = 0; i < n; ++i) {
            if (std::fabs(samples_[i]) < 1e-3f)
                continue;
            if (i - quietSince > kQuietFrames)
                onsets.push_back(firstFrame_ + static_cast<int64_t>(i));
            quietSince = i;
        }
        return onsets;
    }

private:
    static int Process(jack_nframes_t frames, void* user) {
        auto* self = static_cast<JackRecorder*>(user);
        const jack_nframes_t start = jack_last_frame_time(self->client_);
        void* in = jack_port_get_buffer(self->in_, frames);
        const uint32_t n = jack_midi_get_event_count(in);
        size_t count = self->count_.load(std::memory_order_relaxed);
        for (uint32_t i = 0; i < n && count < self->events_.size(); ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, in, i) == 0 && e.size > 0)
                self->events_[count++] = {static_cast<int64_t>(start) + e.time, e.buffer[0]};
        }
        self->count_.store(count, std::memory_order_release);
        if (self->firstFrame_ < 0)
            self->firstFrame_ = start;
        const auto* audio = static_cast<const float*>(jack_port_get_buffer(self->audio_, frames));
        size_t have = self->sampleCount_.load(std::memory_order_relaxed);
        for (jack_nframes_t i = 0; i < frames && have < self->samples_.size(); ++i)
            self->samples_[have++] = audio[i];
        self->sampleCount_.store(have, std::memory_order_release);
        void* out = jack_port_get_buffer(self->out_, frames);
        jack_midi_clear_buffer(out);
        if (const unsigned char byte = self->pending_.exchange(0, std::memory_order_acq_rel))
            jack_midi_event_write(out, 0, &byte, 1);
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* in_ = nullptr;
    jack_port_t* out_ = nullptr;
    jack_port_t* audio_ = nullptr;
    // A sound's onset follows at least this many silent frames.
    static constexpr size_t kQuietFrames = 1000;
    std::vector<Received> events_;
    std::vector<float> samples_;
    std::atomic<size_t> sampleCount_{0};
    int64_t firstFrame_ = -1;
    std::atomic<size_t> count_{0};
    std::atomic<unsigned char> pending_{0};
    test::JackXruns xruns_;
};

class MidiTest : public ::testing::Test, protected test::AppFixture {
protected:
    void TearDown() override {
        window.reset();
        if (jackd_ > 0) {
            kill(jackd_, SIGTERM);
            waitpid(jackd_, nullptr, 0);
        }
    }

    // A JACK server of the test's own (its own name, so that no other server is
    // touched), answering; false when there is none.
    bool StartJack(int rate) {
        JackMidiOutput::QuietErrors();
        const std::string name = "marrowbeat-test-" + std::to_string(getpid());
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        // Spawned rather than forked by QProcess, which ThreadSanitizer cannot follow.
        const std::string hz = std::to_string(rate);
        const char* argv[] = {"jackd", "-n",       name.c_str(), "-d",   "dummy",
                              "-r",    hz.c_str(), "-p",         "1024", nullptr};
        if (posix_spawnp(&jackd_, "jackd", nullptr, nullptr, const_cast<char**>(argv), environ) !=
            0)
            return false;
        for (int i = 0; i < 100; ++i) {
            if (jack_client_t* probe = jack_client_open("probe", JackNoStartServer, nullptr)) {
                jack_client_close(probe);
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    void ChooseMidi(const MidiPortId& output, const MidiPortId& input) {
        SettingsStore store(Scratch("settings.ini"));
        MidiChoice choice;
        choice.output = output;
        choice.input = input;
        PersistedSettings::WriteMidiChoice(store, choice);
    }

    // Has the started window play at bpm through the `send` function's MIDI Start, and
    // stop through its Stop after `steps` steps; the `started` function is called as
    // soon as the program plays. The MIDI is closed at the end.
    void PlayThroughMidi(
        const std::function<void(unsigned char)>& send,
        double bpm,
        int steps,
        const std::function<void()>& started = [] {}) {
        ASSERT_TRUE(Probe(*window).Midi().sending());
        ASSERT_TRUE(Probe(*window).Midi().listening());
        Probe(*window).Document().SetTempo(bpm);
        send(kStart);
        ASSERT_TRUE(WaitFor([this] { return Probe(*window).GetSequencer().running(); }))
            << "MIDI Start did not start the program";
        started();
        QTest::qWait(static_cast<int>(steps * Sequencer::PeriodFromTempo(bpm)) + 100);
        send(kStop);
        ASSERT_TRUE(WaitFor([this] { return !Probe(*window).GetSequencer().running(); }))
            << "MIDI Stop did not stop the program";
        EXPECT_FALSE(Probe(*window).Panel().PlayButton().GetState());
        QTest::qWait(200);
        Probe(*window).Midi().Close();
    }

    static bool HaveJack() {
        if (!QStandardPaths::findExecutable("jackd").isEmpty())
            return true;
        if (InCi())
            ADD_FAILURE() << "jackd is missing";
        return false;
    }

    pid_t jackd_ = 0;
};

TEST_F(MidiTest, UnderJackNotesAndClocksLandOnTheStepFrames) {
    if (!HaveJack())
        GTEST_SKIP() << "jackd is not installed";
    ASSERT_TRUE(StartJack(48000)) << "the JACK server did not start";
    // A run in which the server missed cycles (a machine busy with other work) is run
    // again, three runs at most.
    constexpr int kRuns = 3;
    for (int run = 1; run <= kRuns; ++run) {
        if (run > 1)
            NewWindow();
        JackRecorder recorder("recorder");
        ASSERT_TRUE(recorder.ok());
        ChooseMidi({MidiPortId::kJack, recorder.Port("in")},
                   {MidiPortId::kJack, recorder.Port("out")});
        Start();
        int64_t startFrame = 0;
        PlayThroughMidi([&](unsigned char byte) { recorder.Send(byte); }, kBpm, kSteps,
                        [&] { startFrame = recorder.FrameNow(); });
        if (recorder.Xruns() > 0) {
            if (run < kRuns)
                continue;
            GTEST_SKIP() << "the JACK server missed cycles in every run";
        }

        const std::vector<Received> events = recorder.Events();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.front().status, kStart);
        EXPECT_EQ(events.back().status, kStop);
        const std::vector<int64_t> notes = Frames(events, 0x99);
        const std::vector<int64_t> clocks = Frames(events, kClock);
        // Every step of the new setup is on: a note on every step, on its exact frame from
        // the first, and six clocks from each to the next on their exact frames.
        const double p = Sequencer::PeriodFromTempo(kBpm);
        auto grid = [](double ms) { return std::llround(ms * kRate / 1000.0); };
        ASSERT_GE(notes.size(), static_cast<size_t>(kSteps));
        ASSERT_GE(clocks.size(), 6 * (notes.size() - 1));
        // The first step sounds when the program starts: with no sound output, its note is
        // one JACK period (1024 frames) and 5 ms (240) later, less the time the test took
        // to see it playing.
        EXPECT_LE(notes[0] - startFrame, 1024 + 240);
        EXPECT_GE(notes[0] - startFrame, 1024 + 240 - 24000);
        // A step clock held up for longer than that lead (a machine loaded with other work)
        // moves the rest of the run on, as it does the sound: the distance of each step
        // from its grid place may only grow, and seldom. Between such moves all is exact.
        int64_t shift = 0;
        int moves = 0;
        for (size_t k = 0; k < notes.size(); ++k) {
            const double stepMs = static_cast<double>(k) * p;
            const int64_t off = notes[k] - notes[0] - grid(stepMs);
            ASSERT_GE(off, shift) << "step " << k << " came early";
            moves += off != shift ? 1 : 0;
            shift = off;
            const bool steady =
                k + 1 < notes.size() && notes[k + 1] - notes[0] - grid(stepMs + p) == off;
            for (int j = 0; j < 6 && steady; ++j)
                ASSERT_EQ(clocks[6 * k + j] - notes[0] - off, grid(stepMs + j * p / 6))
                    << "step " << k << " clock " << j;
        }
        EXPECT_LE(moves, 2);
        break;
    }
}

// A JACK server that goes away takes the MIDI output with it: the window says so once,
// and the output comes back by itself, under the client name the README gives, once a
// server and the port are there again; notes then flow as before.
TEST_F(MidiTest, UnderJackTheOutputComesBackWithItsServer) {
    if (!HaveJack())
        GTEST_SKIP() << "jackd is not installed";
    ASSERT_TRUE(StartJack(48000)) << "the JACK server did not start";
    auto recorder = std::make_unique<JackRecorder>("recorder");
    ASSERT_TRUE(recorder->ok());
    ChooseMidi({MidiPortId::kJack, recorder->Port("in")}, {});
    Start();
    MidiConnection& midi = Probe(*window).Midi();
    ASSERT_TRUE(midi.sending());

    kill(jackd_, SIGKILL);
    waitpid(jackd_, nullptr, 0);
    jackd_ = 0;
    ASSERT_TRUE(WaitFor([&midi] { return midi.waiting(); })) << "the loss went unnoticed";
    recorder.reset();
    EXPECT_FALSE(midi.sending());
    QTest::qWait(1200);
    ASSERT_EQ(prompts.notices.size(), 1u) << "one notice, however long the server is away";
    EXPECT_NE(prompts.notices[0].find("MIDI output"), std::string::npos);

    ASSERT_TRUE(StartJack(48000)) << "the JACK server did not start again";
    recorder = std::make_unique<JackRecorder>("recorder");
    ASSERT_TRUE(recorder->ok());
    ASSERT_TRUE(WaitFor([&midi] { return midi.sending(); })) << "the output did not come back";
    EXPECT_FALSE(midi.waiting());
    jack_client_t* probe = jack_client_open("probe", JackNoStartServer, nullptr);
    ASSERT_NE(probe, nullptr);
    const char** ports = jack_get_ports(probe, "^Marrowbeat:midi_out$", nullptr, 0);
    EXPECT_NE(ports, nullptr) << "the client keeps its name";
    jack_free(ports);
    jack_client_close(probe);

    Probe(*window).GetSequencer().Start();
    EXPECT_TRUE(WaitFor([&recorder] { return Frames(recorder->Events(), 0x99).size() >= 3; }))
        << "no notes after the server came back";
    Probe(*window).GetSequencer().Stop();
    EXPECT_EQ(prompts.notices.size(), 1u);
}

TEST_F(MidiTest, UnderJackANoteCarriesTheFrameOfItsSound) {
    if (!HaveJack())
        GTEST_SKIP() << "jackd is not installed";
    // The sound output goes to JACK, at the server's 44 100 Hz.
    ASSERT_TRUE(StartJack(44100)) << "the JACK server did not start";
    // A run in which the server missed cycles is run again, three runs at most.
    constexpr int kRuns = 3;
    for (int run = 1; run <= kRuns; ++run) {
        window.reset();
        JackRecorder recorder("recorder");
        ASSERT_TRUE(recorder.ok());
        ChooseMidi({MidiPortId::kJack, recorder.Port("in")},
                   {MidiPortId::kJack, recorder.Port("out")});
        MainWindow::Options options;
        options.prompts = &prompts;
        options.linkInstances = false;
        options.settingsPath = Scratch("settings.ini");
        options.audioApi = "jack";
        window = std::make_unique<MainWindow>(std::move(options));
        Start(WriteDemo("demo.mbx", MARROWBEAT_KIT_FOLDER));
        ASSERT_TRUE(recorder.Connect("Marrowbeat:outport 0", "audio"))
            << "the sound output did not open on JACK";
        // One loop of the kick on every step, loud and short, with silence between.
        mb::Setup& setup = Probe(*window).GetSetup();
        setup.selectedLoop = 0;
        setup.loop(0).nextLoop = 0;
        for (Step& step : setup.loop(0).steps) {
            step.on = 1;
            step.sound = 0;
            step.pitch = 0;
            step.volume = 127;
        }
        QTest::qWait(500); // the sound output settles
        PlayThroughMidi([&](unsigned char byte) { recorder.Send(byte); }, 100.0, 16);
        if (recorder.Xruns() > 0) {
            window.reset();
            if (run < kRuns)
                continue;
            GTEST_SKIP() << "the JACK server missed cycles in every run";
        }

        const std::vector<int64_t> notes = Frames(recorder.Events(), 0x99);
        const std::vector<int64_t> onsets = recorder.Onsets();
        ASSERT_GE(notes.size(), 8u);
        // Every note with its sound, within 2 ms: the sound's frame is placed from the time
        // of its callback, which comes a little after JACK's own start of the cycle.
        for (size_t k = 0; k < notes.size(); ++k) {
            const auto near = std::lower_bound(onsets.begin(), onsets.end(), notes[k] - 88);
            EXPECT_TRUE(near != onsets.end() && *near <= notes[k] + 88)
                << "step " << k << " at frame " << notes[k] << " has no sound there";
        }
        EXPECT_EQ(onsets.size(), notes.size());
        // The window's sound output goes before the recorder it plays into.
        window.reset();
        break;
    }
}

TEST_F(MidiTest, ThroughTheAlsaSequencerNotesAndClocksFollowTheSteps) {
    if (!std::filesystem::exists("/dev/snd/seq"))
        GTEST_SKIP() << "no ALSA sequencer (/dev/snd/seq)";
    // A recording input and a sending output of the test's own, as ALSA ports.
    struct Record {
        std::mutex lock;
        std::vector<std::pair<int64_t, unsigned char>> received;
    } record;
    RtMidiIn in(RtMidi::LINUX_ALSA, "MarrowbeatTestIn");
    in.ignoreTypes(true, false, true);
    in.setCallback(
        [](double, std::vector<unsigned char>* message, void* user) {
            auto* r = static_cast<Record*>(user);
            const std::lock_guard<std::mutex> hold(r->lock);
            r->received.push_back({MonotonicNs(), message->at(0)});
        },
        &record);
    in.openVirtualPort("in");
    RtMidiOut out(RtMidi::LINUX_ALSA, "MarrowbeatTestOut");
    out.openVirtualPort("out");
    MidiPortId output;
    MidiPortId input;
    for (const MidiPortId& port : MidiPorts::Destinations())
        if (port.api == MidiPortId::kAlsa && port.name.find("MarrowbeatTestIn") == 0)
            output = port;
    for (const MidiPortId& port : MidiPorts::Sources())
        if (port.api == MidiPortId::kAlsa && port.name.find("MarrowbeatTestOut") == 0)
            input = port;
    ASSERT_FALSE(output.empty());
    ASSERT_FALSE(input.empty());
    ChooseMidi(output, input);
    Start();
    PlayThroughMidi([&](unsigned char byte) { out.sendMessage(&byte, 1); }, kBpm, kSteps);

    const std::lock_guard<std::mutex> hold(record.lock);
    std::vector<int64_t> notes;
    int clocks = 0;
    for (const auto& [ns, status] : record.received) {
        if (status == 0x99)
            notes.push_back(ns);
        clocks += status == kClock ? 1 : 0;
    }
    // Sent by a thread that sleeps until each event's moment: within a few milliseconds.
    const double p = Sequencer::PeriodFromTempo(kBpm);
    ASSERT_GE(notes.size(), static_cast<size_t>(kSteps));
    for (size_t k = 0; k < notes.size(); ++k)
        EXPECT_NEAR(static_cast<double>(notes[k] - notes[0]) / 1e6, static_cast<double>(k) * p, 3.0)
            << "step " << k;
    EXPECT_GE(clocks, static_cast<int>(6 * (notes.size() - 1)));
    EXPECT_LE(clocks, static_cast<int>(6 * notes.size()));
}

} // namespace
} // namespace mb
