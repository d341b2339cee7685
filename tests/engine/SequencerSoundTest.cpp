#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "ScriptedPrompts.h"
#include "WaveFiles.h"
#include "engine/PrecisionTimer.h"
#include "engine/Sequencer.h"
#include "engine/SoundEngine.h"
#include "model/Setup.h"
#include "platform/Clocks.h"

namespace mb {
namespace {

// Woken by the step-clock thread, read by the test thread.
class CountingFace : public MessagePoster, public StepFollower, public PlaybackFace {
public:
    void PostMessage(int, intptr_t, intptr_t) override {}
    void TakeStep(const StepEvent&) override { steps.fetch_add(1); }
    void SetPlayButton(bool) override {}
    bool IsSoundOn() const override { return soundOn.load(); }
    void SetStepLit(int, bool) override {}
    void SetPlayingLoop(int) override {}

    std::atomic<int> steps{0};
    std::atomic<bool> soundOn{true};
};

// The real step clock on its own timer thread plays through the engine while an audio
// thread mixes and the window thread edits, mutes, changes the tempo and switches loops:
// the three threads share the setup, the voices and the mixer's lanes (checked for
// races under ThreadSanitizer).
TEST(SequencerWithSound, TheStepClockPlaysThroughTheEngineWhileTheWindowEdits) {
    mb::Setup setup;
    setup.bpm = 1000.0; // a step every 15 ms
    setup.masterVolume = 100;
    ScriptedPrompts prompts;
    test::TempFolder dir;
    setup.soundFolder = dir.path();
    for (int i = 0; i < 4; ++i) {
        const std::string name = "s" + std::to_string(i) + ".wav";
        dir.Write(name, test::MonoFile(std::vector<int16_t>(2000, static_cast<int16_t>(4000 + i))));
        setup.soundNames.push_back(name);
    }
    SoundEngine engine;
    engine.Init(&setup, &prompts,
                [] { return std::make_unique<AudioDevice>(AudioDevice::Config{}); });
    engine.LoadAll();
    ASSERT_TRUE(prompts.notes.empty());

    std::atomic<bool> done{false};
    std::atomic<int64_t> loudFrames{0};
    std::thread audio([&] {
        std::vector<float> out(2 * 256);
        while (!done.load()) {
            engine.device()->Render(out.data(), 256, MonotonicNs());
            int64_t loud = 0;
            for (size_t i = 0; i < out.size(); i += 2)
                loud += std::abs(out[i]) > 0.01f ? 1 : 0;
            loudFrames.fetch_add(loud);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    CountingFace face;
    Sequencer sequencer;
    SequencerPorts ports{&face, &face, &engine, nullptr, nullptr};
    ports.windowSteps = &face;
    sequencer.Init(ports, &setup, std::make_unique<PrecisionTimer>(0));
    sequencer.Start();
    for (int i = 0; i < 300 && (face.steps.load() < 12 || loudFrames.load() == 0); ++i) {
        engine.AssignVoice(i % 2, i % 4, (i / 4) % 5); // sound 4 does not exist
        if (i % 25 == 10) {
            face.soundOn = !face.soundOn.load();
            sequencer.MuteToggled();
        }
        if (i % 40 == 20) {
            setup.bpm = setup.bpm == 1000.0 ? 900.0 : 1000.0;
            sequencer.TempoChanged();
        }
        if (i % 60 == 30) {
            setup.selectedLoop = static_cast<int16_t>((setup.selectedLoop + 1) % 2);
            sequencer.LoopSelected(setup.selectedLoop);
        }
        sequencer.TakeClockNews();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    sequencer.Stop();
    done.store(true);
    audio.join();

    EXPECT_GE(face.steps.load(), 12);
    EXPECT_GT(loudFrames.load(), 0);
    // With polyphony off, the stop silenced every step: once the mixer has taken the
    // commands, nothing sounds.
    std::vector<float> out(2 * 256);
    engine.device()->Render(out.data(), 256, MonotonicNs());
    for (int loop = 0; loop < kLoopCount; ++loop)
        for (int s = 0; s < kStepsPerLoop; ++s)
            EXPECT_FALSE(engine.IsPlaying(loop, s)) << loop << "/" << s;
}

} // namespace
} // namespace mb
