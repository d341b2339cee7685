#include <gtest/gtest.h>

#include <cmath>

#include "ScriptedPrompts.h"
#include "WaveFiles.h"
#include "engine/OfflineSession.h"
#include "model/Setup.h"

namespace mb {
namespace {

// A sound that starts at full scale and ends after 50 frames, so that every step's
// onset can be found exactly.
std::vector<uint8_t> Click() {
    std::vector<int16_t> samples(50, 0);
    samples[0] = 30000;
    for (size_t i = 1; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(20000 - 400 * static_cast<int>(i));
    return test::MonoFile(samples);
}

class OfflineSessionTest : public ::testing::Test {
protected:
    void Load(int sounds) {
        setup.soundFolder = dir.path();
        for (int i = 0; i < sounds; ++i) {
            const std::string name = "s" + std::to_string(10 + i) + ".wav";
            dir.Write(name, Click());
            setup.soundNames.push_back(name);
        }
        session.engine().ReleaseAll();
        session.engine().LoadAll();
    }

    mb::Setup setup;
    ScriptedPrompts prompts;
    test::TempFolder dir;
    OfflineSession session{setup, prompts};
};

TEST_F(OfflineSessionTest, EveryStepStartsOnItsFrameOfTheGrid) {
    Load(16);
    const auto left = test::Left(session.Render(44100 * 10));
    const auto onsets = test::FindOnsets(left, 1000, 100);
    const double periodFrames = session.sequencer().period() * 44.1;
    std::vector<int64_t> grid;
    for (int k = 0; std::llround(k * periodFrames) < 44100 * 10; ++k)
        grid.push_back(std::llround(k * periodFrames));
    ASSERT_EQ(onsets, grid);
    // At 126 BPM a step is 5250 frames, to the frame for the first steps.
    for (size_t k = 0; k < 50; ++k)
        ASSERT_EQ(onsets[k], static_cast<int64_t>(5250 * k)) << k;
}

TEST_F(OfflineSessionTest, OnlyStepsWithALoadedSoundSound) {
    Load(3);
    for (int s = 0; s < kStepsPerLoop; ++s)
        setup.loop(0).steps[static_cast<size_t>(s)].on = static_cast<int16_t>(s % 2 == 0 ? 1 : 0);
    const auto onsets = test::FindOnsets(test::Left(session.Render(16 * 5250)), 1000, 100);
    // Of steps 0 to 2 (sounds 0 to 2), only the steps that are on: 0 and 2.
    EXPECT_EQ(onsets, (std::vector<int64_t>{0, 2 * 5250}));
}

TEST_F(OfflineSessionTest, ATempoChangeMovesTheGrid) {
    Load(16);
    setup.bpm = 120.0;
    const auto onsets = test::FindOnsets(test::Left(session.Render(44100 * 2)), 1000, 100);
    ASSERT_GE(onsets.size(), 10u);
    const double periodFrames = session.sequencer().period() * 44.1;
    EXPECT_NEAR(periodFrames, 5512.5, 0.01);
    for (size_t k = 0; k < onsets.size(); ++k)
        ASSERT_EQ(onsets[k], std::llround(static_cast<double>(k) * periodFrames)) << k;
}

TEST_F(OfflineSessionTest, TheFastestTempoLosesNoStep) {
    // About fifteen steps a frame: far more than the mixer holds at once fall in a block.
    Load(16);
    setup.bpm = kMaxBpm;
    session.Render(4 * OfflineSession::kBlockFrames);
    EXPECT_EQ(session.engine().device()->droppedCommands(), 0u);
    EXPECT_EQ(session.engine().device()->mixer().lateCommands(), 0u);
}

} // namespace
} // namespace mb
