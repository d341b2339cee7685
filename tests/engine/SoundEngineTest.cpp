#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>

#include "ScriptedPrompts.h"
#include "WaveFiles.h"
#include "engine/SoundEngine.h"
#include "model/Setup.h"

namespace mb {
namespace {

using test::TempFolder;

TEST(SoundEngineLaws, VolumeInHundredthsOfADecibel) {
    struct Case {
        int volume;
        int master;
        int32_t expected;
    };
    const Case cases[] = {
        {127, 100, 0},    {110, 80, -876},  {1, 100, -7021},  {0, 100, -10000},
        {127, 0, -10000}, {64, 100, -1574}, {-5, 80, -10000}, {200, 100, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SoundEngine::VolumeFor(c.volume, c.master), c.expected)
            << c.volume << " at " << c.master;
}

TEST(SoundEngineLaws, PanFromLeftToRight) {
    const std::pair<int, int32_t> cases[] = {
        {63, 0},     {64, 0},      {62, -100}, {65, 100},   {32, -2858},   {1, -8585},
        {0, -10000}, {127, 10000}, {96, 3000}, {126, 8585}, {-40, -10000}, {300, 10000},
    };
    for (const auto& [pan, expected] : cases)
        EXPECT_EQ(SoundEngine::PanFor(pan), expected) << pan;
}

class SoundEngineTest : public ::testing::Test {
protected:
    SoundEngineTest() {
        engine.Init(&setup, &prompts, [this] {
            AudioDevice::Config config;
            config.clock = [this] { return nowNs; };
            return std::make_unique<AudioDevice>(std::move(config));
        });
    }

    static int64_t TimeOf(double frame) { return std::llround(frame * 1e9 / 44100.0); }
    // A plain time (no grid) at an output frame.
    static GridTime At(double frame) { return GridTime{0, TimeOf(frame), 0.0}; }
    GridTime Now() const { return GridTime{0, nowNs, 0.0}; }

    // Makes the files the sound folder's sounds and loads them.
    void Load(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
        setup.soundFolder = folder.path();
        setup.soundNames.clear();
        for (const auto& [name, bytes] : files) {
            folder.Write(name, bytes);
            setup.soundNames.push_back(name);
        }
        engine.ReleaseAll();
        engine.LoadAll();
    }

    std::vector<float> Render(int frames) {
        std::vector<float> out(static_cast<size_t>(frames) * 2);
        for (int at = 0; at < frames; at += 64) {
            const int n = std::min(64, frames - at);
            nowNs = TimeOf(static_cast<double>(rendered));
            engine.device()->Render(out.data() + 2 * at, n, nowNs);
            rendered += n;
        }
        nowNs = TimeOf(static_cast<double>(rendered));
        return out;
    }

    Step& StepAt(int loop, int step) { return setup.loop(loop).steps[static_cast<size_t>(step)]; }

    // Full volume, centre pan, pitch 0 on every step.
    void Plain() {
        setup.masterVolume = 100;
        for (int l = 0; l < kLoopCount; ++l) {
            for (int s = 0; s < kStepsPerLoop; ++s) {
                StepAt(l, s).volume = 127;
                StepAt(l, s).pan = 64;
                StepAt(l, s).pitch = 0;
            }
        }
    }

    static std::vector<int16_t> Ramp(int n) {
        std::vector<int16_t> v;
        for (int i = 0; i < n; ++i)
            v.push_back(static_cast<int16_t>(100 + i * 7));
        return v;
    }

    mb::Setup setup;
    ScriptedPrompts prompts;
    SoundEngine engine;
    TempFolder folder;
    int64_t nowNs = 0;
    int64_t rendered = 0;
};

TEST_F(SoundEngineTest, NoteFrequenciesKeepTheRoundingOfNeighbourByNeighbourProducts) {
    // Each note is its neighbour times a semitone, so the rounding adds up: an octave up
    // is not exactly 88200. A power of two, or other constants, give other values and
    // other renders.
    struct Case {
        int pitch;
        double hz;
    };
    const Case cases[] = {
        {0, 44100.0},
        {1, 0x1.6d04a519a3ea6p+15},
        {12, 0x1.5888000000004p+16},
        {SoundEngine::kMaxPitch, 0x1.021b57933a36dp+21},
        {-1, 0x1.4531b6e182d36p+15},
        {-12, 0x1.5887ffffffff9p+14},
        {SoundEngine::kMinPitch, 0x1.5887fffffffe2p+10},
    };
    for (const Case& c : cases)
        EXPECT_EQ(engine.noteFrequency(c.pitch), c.hz) << c.pitch;
}

TEST_F(SoundEngineTest, StepFrequencyFromPitchAndStepIndex) {
    struct Case {
        int pitch;
        int fine;
        int32_t hz;
    };
    const Case cases[] = {
        {0, 0, 44100},  {12, 0, 88200},   {-12, 0, 22049}, {24, 0, 100000},
        {-60, 0, 1378}, {0, 1, 44126},    {0, 15, 44493},  {-12, 3, 22089},
        {0, -1, 44075}, {200, 0, 100000}, {-300, 0, 1378},
    };
    for (const Case& c : cases)
        EXPECT_EQ(engine.StepFrequency(c.pitch, c.fine), c.hz) << c.pitch << "/" << c.fine;
}

TEST_F(SoundEngineTest, LoadAllGivesEveryStepOfALoadedSoundItsOwnVoice) {
    Load({{"a.wav", test::MonoFile(Ramp(100))}, {"b.wav", test::MonoFile(Ramp(50))}});
    EXPECT_TRUE(prompts.notes.empty());
    EXPECT_EQ(engine.soundCount(), 2);
    // The new setup names sound j on step j: steps 0 and 1 have voices, the rest none.
    for (int l = 0; l < kLoopCount; ++l) {
        for (int s = 0; s < kStepsPerLoop; ++s) {
            EXPECT_EQ(engine.StepBuffer(l, s) != 0, s < 2) << l << "/" << s;
            EXPECT_EQ(StepAt(l, s).sound, s);
        }
    }
    // Steps naming one sound play its one buffer, each on its own voice.
    EXPECT_EQ(engine.StepBuffer(0, 0), engine.StepBuffer(1, 0));
}

TEST_F(SoundEngineTest, TheSameSoundOnTwoStepsSoundsTwiceEachFromItsOwnStart) {
    Plain();
    Load({{"dc.wav", test::MonoFile(std::vector<int16_t>(2000, 4096))}});
    engine.AssignVoice(0, 1, 0);
    engine.AssignVoice(0, 2, 0);
    engine.PlayStep(0, 1, At(100));
    engine.PlayStep(0, 2, At(600));
    const auto out = Render(3000);
    const float one = 4096 / 32768.0f;
    EXPECT_EQ(out[2 * 99], 0.0f);
    EXPECT_NEAR(out[2 * 300], one, 1e-5);
    EXPECT_NEAR(out[2 * 1000], 2 * one, 1e-5);
    EXPECT_NEAR(out[2 * 2300], one, 1e-5);
}

TEST_F(SoundEngineTest, AStepFiredAgainRestartsFromTheBeginning) {
    Plain();
    const auto ramp = Ramp(1000);
    Load({{"ramp.wav", test::MonoFile(ramp)}});
    engine.PlayStep(0, 0, At(0));
    engine.PlayStep(0, 0, At(300));
    const auto out = Render(1400);
    EXPECT_EQ(out[2 * 299], ramp[299] / 32768.0f);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(out[2 * static_cast<size_t>(300 + i)], ramp[static_cast<size_t>(i)] / 32768.0f)
            << i;
    EXPECT_EQ(out[2 * 1300], 0.0f);
}

TEST_F(SoundEngineTest, A22050HzFilePlaysAnOctaveHighAtPitchZero) {
    Plain();
    const auto ramp = Ramp(400);
    Load({{"low.wav", test::MonoFile(ramp, 22050)}});
    engine.PlayStep(0, 0, At(0));
    const auto out = Render(1000);
    for (size_t i = 0; i < ramp.size(); ++i)
        ASSERT_EQ(out[2 * i], ramp[i] / 32768.0f) << i;
    EXPECT_EQ(out[2 * 400], 0.0f) << "400 frames at twice the file's rate";
}

TEST_F(SoundEngineTest, PanAndVolumeOfTheStepReachTheVoice) {
    Load({{"dc.wav", test::MonoFile(std::vector<int16_t>(500, 16384))}});
    setup.masterVolume = 80;
    StepAt(0, 0).volume = 110;
    StepAt(0, 0).pan = 32;
    engine.PlayStep(0, 0, At(0));
    const auto out = Render(100);
    const double gain = std::pow(10.0, -876 / 2000.0);
    EXPECT_NEAR(out[2 * 50], 0.5 * gain, 1e-6);
    EXPECT_NEAR(out[2 * 50 + 1], 0.5 * gain * std::pow(10.0, -2858 / 2000.0), 1e-6);
}

TEST_F(SoundEngineTest, MutingWhileThreeStepsSoundSilencesThemAtOnce) {
    Plain();
    setup.polyphonic = 1;
    Load({{"dc.wav", test::MonoFile(std::vector<int16_t>(20000, 4096))}});
    for (int s : {3, 4, 5})
        engine.AssignVoice(0, s, 0);
    for (int s : {3, 4, 5})
        engine.PlayStep(0, s, At(10 * s));
    auto out = Render(500);
    EXPECT_NEAR(out[2 * 400], 0.375, 1e-4);
    EXPECT_TRUE(engine.IsPlaying(0, 3) && engine.IsPlaying(0, 4) && engine.IsPlaying(0, 5));
    EXPECT_FALSE(engine.IsPlaying(0, 6));

    setup.muted = 1;
    engine.MuteAll();
    out = Render(500);
    EXPECT_LT(std::abs(out[2 * 10]), 1e-4);
    // A step started while muted plays silenced.
    engine.AssignVoice(0, 6, 0);
    engine.PlayStep(0, 6, Now());
    out = Render(500);
    EXPECT_LT(std::abs(out[2 * 10]), 1e-4);

    setup.muted = 0;
    engine.UnmuteAll();
    out = Render(500);
    EXPECT_NEAR(out[2 * 10], 0.5, 1e-4) << "four steps sound again";
}

// A step that is on cuts the sound last started, across loops, when not polyphonic, at
// its own due time; a step that is off cuts nothing. Polyphonic steps ring on.
TEST_F(SoundEngineTest, TakenStepsCutTheLastSoundUnlessPolyphonic) {
    Plain();
    Load({{"dc.wav", test::MonoFile(std::vector<int16_t>(20000, 4096))}});
    for (int s = 0; s < 2; ++s)
        for (int l = 0; l < 2; ++l)
            engine.AssignVoice(l, s, 0);
    bool cuts = true;
    const auto take = [&](int loop, int step, bool on, double frame) {
        StepEvent e;
        e.loop = loop;
        e.step = step;
        e.on = on;
        e.volume = 127;
        e.pan = 64;
        e.cutsLast = cuts;
        e.due = At(frame);
        engine.TakeStep(e);
    };
    const float one = 4096 / 32768.0f;
    for (const bool c : {true, false}) {
        cuts = c;
        SCOPED_TRACE(cuts);
        const double start = static_cast<double>(rendered);
        take(0, 0, true, start + 100);
        take(0, 1, true, start + 200);
        take(1, 0, false, start + 300);
        take(1, 1, true, start + 400);
        const auto out = Render(500);
        EXPECT_NEAR(out[2 * 150], one, 1e-5);
        EXPECT_NEAR(out[2 * 250], cuts ? one : 2 * one, 1e-5) << "cut at the next step's time";
        EXPECT_NEAR(out[2 * 350], cuts ? one : 2 * one, 1e-5) << "an off step cuts nothing";
        EXPECT_NEAR(out[2 * 450], cuts ? one : 3 * one, 1e-5);
        engine.SilenceAll();
        Render(100);
    }
    // A step that is on but has no sound (step 5 names none loaded) cuts the one before it,
    // and is the one the next step cuts.
    cuts = true;
    const double start = static_cast<double>(rendered);
    take(0, 0, true, start + 100);
    take(0, 5, true, start + 200);
    take(0, 1, true, start + 300);
    const auto out = Render(400);
    EXPECT_EQ(out[2 * 250], 0.0f);
    EXPECT_NEAR(out[2 * 350], one, 1e-5);
}

TEST_F(SoundEngineTest, SilenceStepAndSilenceAllStopVoices) {
    Plain();
    setup.polyphonic = 1;
    Load({{"dc.wav", test::MonoFile(std::vector<int16_t>(20000, 8192))}});
    engine.AssignVoice(1, 7, 0);
    engine.PlayStep(0, 0, At(0));
    engine.PlayStep(1, 7, At(0));
    engine.SilenceStep(0, 0, At(200));
    auto out = Render(400);
    EXPECT_NEAR(out[2 * 199], 0.5, 1e-4);
    EXPECT_NEAR(out[2 * 200], 0.25, 1e-4);
    EXPECT_FALSE(engine.IsPlaying(0, 0));
    engine.SilenceAll();
    out = Render(100);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_FALSE(engine.IsPlaying(1, 7));
}

TEST_F(SoundEngineTest, AStepKeepsItsVoiceUntilItIsGivenAnother) {
    Plain();
    Load({{"dc.wav", test::MonoFile(std::vector<int16_t>(1000, 8192))}});
    const uint32_t old = engine.StepBuffer(0, 0);
    ASSERT_NE(old, 0u);
    // Step 1 names sound 1, which is not loaded. Copying its values (paste, undo, shift)
    // changes what the step names, not what its voice plays, until it gets a voice.
    StepAt(0, 0).CopyValues(StepAt(0, 1));
    engine.PlayStep(0, 0, At(0));
    EXPECT_NEAR(Render(200)[2 * 100], 0.25, 1e-6);
    engine.AssignVoice(0, 0, StepAt(0, 0).sound);
    EXPECT_EQ(engine.StepBuffer(0, 0), 0u);
    engine.PlayStep(0, 0, Now());
    EXPECT_EQ(Render(200)[2 * 100], 0.0f);
}

TEST_F(SoundEngineTest, AVoiceReplacedWhileItsStepPlaysStops) {
    Plain();
    Load({{"a.wav", test::MonoFile(std::vector<int16_t>(5000, 8192))},
          {"b.wav", test::MonoFile(std::vector<int16_t>(5000, 4096))}});
    engine.PlayStep(0, 0, At(0));
    Render(100);
    engine.AssignVoice(0, 0, 1);
    auto out = Render(100);
    EXPECT_EQ(out[2 * 50], 0.0f);
    engine.PlayStep(0, 0, Now());
    out = Render(100);
    EXPECT_NEAR(out[2 * 50], 0.125, 1e-6);
}

TEST_F(SoundEngineTest, ReleaseAllReleasesEveryVoiceWhateverItsStepNamesNow) {
    Load({{"a.wav", test::MonoFile(Ramp(100))}, {"b.wav", test::MonoFile(Ramp(100))}});
    const uint32_t voice = engine.StepBuffer(2, 1);
    ASSERT_NE(voice, 0u);
    // A setup load stores sound indexes without assigning voices.
    StepAt(2, 1).sound = 9;
    engine.ReleaseAll();
    EXPECT_FALSE(engine.device()->IsBuffer(voice));
    EXPECT_EQ(engine.StepBuffer(2, 1), 0u);
    EXPECT_EQ(engine.BufferOf(1), 0u);
    Render(64);
    engine.device()->Collect();
    EXPECT_EQ(engine.device()->dataCount(), 0u);
}

TEST_F(SoundEngineTest, AssignVoiceBeyondTheSoundListLeavesTheStepSilent) {
    Load({{"a.wav", test::MonoFile(Ramp(100))}});
    EXPECT_EQ(engine.AssignVoice(0, 4, 3), AudioDevice::DS_OK);
    EXPECT_EQ(StepAt(0, 4).sound, 3);
    EXPECT_EQ(engine.StepBuffer(0, 4), 0u);
    // A negative sound changes nothing.
    EXPECT_EQ(engine.AssignVoice(0, 4, -1), AudioDevice::DS_OK);
    EXPECT_EQ(StepAt(0, 4).sound, 3);
    EXPECT_EQ(engine.AssignVoice(9, 0, 0), AudioDevice::DSERR_INVALIDPARAM);
}

TEST_F(SoundEngineTest, LoadFailuresAreReportedAndTheirStepsStaySilent) {
    auto adpcm = test::Riff({test::Chunk("fmt ", test::FormatBody(2, 1, 44100, 4, 0)),
                             test::Chunk("data", std::vector<uint8_t>(100, 0))});
    // 300 MB of 16-bit samples would take 600 MB decoded: too large. The file is sparse,
    // so it takes no room on the disk.
    std::vector<uint8_t> header;
    test::PutId(header, "data");
    test::Put(header, 300000000, 4);
    auto huge = test::Riff({test::Chunk("fmt ", test::FormatBody(1, 1, 44100, 16)), header});
    Load({{"good.wav", test::MonoFile(Ramp(100))},
          {"adpcm.wav", adpcm},
          {"broken.wav", {'R', 'I', 'F', 'F', 0, 0}},
          {"huge.wav", huge}});
    std::filesystem::resize_file(folder.path() + "/huge.wav", huge.size() + 300000000);
    engine.ReleaseAll();
    prompts.notes.clear();
    engine.LoadAll();
    ASSERT_EQ(prompts.notes.size(), 3u);
    EXPECT_EQ(prompts.notes[0],
              "Could not load sound:\n" + folder.path() + "/adpcm.wav\nError: -2005401500");
    EXPECT_EQ(prompts.notes[1],
              "Could not load sound:\n" + folder.path() + "/huge.wav\nError: -2147024882");
    EXPECT_EQ(prompts.notes[2], "Failed to load some sounds.");
    EXPECT_TRUE(engine.IsLoaded(0));
    EXPECT_FALSE(engine.IsLoaded(1));
    EXPECT_FALSE(engine.IsLoaded(2));
    EXPECT_NE(engine.StepBuffer(0, 0), 0u);
    EXPECT_EQ(engine.StepBuffer(0, 1), 0u);
    EXPECT_EQ(engine.StepBuffer(0, 2), 0u);
    EXPECT_EQ(StepAt(0, 2).sound, 2) << "the step keeps its sound index";
}

TEST_F(SoundEngineTest, TruncatedDataLeavesNoHalfLoadedSound) {
    std::vector<uint8_t> data;
    test::PutId(data, "data");
    test::Put(data, 1000, 4);
    data.insert(data.end(), 300, 9);
    Load({{"cut.wav", test::Riff({test::Chunk("fmt ", test::FormatBody(1, 1, 44100, 16)), data})}});
    EXPECT_EQ(prompts.notes, std::vector<std::string>{"Failed to load some sounds."});
    EXPECT_FALSE(engine.IsLoaded(0));
    EXPECT_EQ(engine.StepBuffer(0, 0), 0u);
}

TEST_F(SoundEngineTest, TheBufferHoldsTheDataAndNothingMore) {
    Plain();
    // 1000 bytes of data: 500 frames; the buffer's one extra byte is not a sample.
    Load({{"a.wav", test::MonoFile(std::vector<int16_t>(500, 8192))}});
    engine.PlayStep(0, 0, At(0));
    const auto out = Render(600);
    EXPECT_NE(out[2 * 499], 0.0f);
    EXPECT_EQ(out[2 * 500], 0.0f);
}

TEST(SoundEngineWithoutDevice, SaysSoAndDoesNothingElse) {
    mb::Setup setup;
    ScriptedPrompts prompts;
    SoundEngine engine;
    engine.Init(&setup, &prompts, [] { return std::unique_ptr<AudioDevice>(); });
    EXPECT_EQ(prompts.notes, std::vector<std::string>{"Failed to initialize DirectX."});
    setup.soundNames = {"a.wav", "b.wav"};
    setup.soundFolder = "/nonexistent";
    engine.ReleaseAll();
    engine.LoadAll();
    EXPECT_EQ(engine.soundCount(), 2);
    EXPECT_EQ(engine.AssignVoice(0, 0, 1), AudioDevice::DS_OK);
    engine.PlayStep(0, 0, GridTime{});
    engine.SilenceStep(0, 0, GridTime{});
    engine.SilenceAll();
    engine.MuteAll();
    engine.UnmuteAll();
    EXPECT_FALSE(engine.IsPlaying(0, 0));
    EXPECT_EQ(prompts.notes.size(), 1u);
    EXPECT_EQ(engine.StepFrequency(12, 0), 88200);
}

// The window thread reassigns voices while the step-clock thread plays and silences
// steps and the audio thread renders: every handle that crosses is checked, nothing is
// freed under the audio thread.
TEST_F(SoundEngineTest, VoicesMayBeReplacedWhileTheStepClockPlaysThem) {
    Plain();
    setup.polyphonic = 1;
    Load({{"a.wav", test::MonoFile(Ramp(3000))}, {"b.wav", test::MonoFile(Ramp(2000))}});
    std::atomic<bool> done{false};
    std::atomic<int64_t> clockNs{0};
    std::thread audio([&] {
        std::vector<float> out(2 * 128);
        int64_t frames = 0;
        while (!done.load()) {
            engine.device()->Render(out.data(), 128, TimeOf(static_cast<double>(frames)));
            frames += 128;
            clockNs.store(TimeOf(static_cast<double>(frames)));
            std::this_thread::yield();
        }
    });
    std::thread stepClock([&] {
        for (int i = 0; i < 3000; ++i) {
            const int step = i % 4;
            const GridTime now{0, clockNs.load(), 0.0};
            engine.SilenceStep(0, (step + 3) % 4, now);
            engine.PlayStep(0, step, now);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 1500; ++i) {
        engine.AssignVoice(0, i % 4, i % 2);
        if (i % 100 == 0)
            engine.MuteAll();
        engine.device()->Collect();
        std::this_thread::yield();
    }
    stepClock.join();
    done.store(true);
    audio.join();
    engine.SilenceAll();
    for (int s = 0; s < 4; ++s)
        EXPECT_TRUE(engine.device()->IsBuffer(engine.StepBuffer(0, s))) << s;
}

} // namespace
} // namespace mb
