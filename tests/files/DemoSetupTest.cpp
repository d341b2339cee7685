#include <gtest/gtest.h>

#include <set>

#include "files/DemoSetup.h"
#include "files/SetupFileFormat.h"
#include "model/Setup.h"

namespace mb {
namespace {

TEST(DemoSetup, ChainsThreeLoopsOfTheKitAndSurvivesTheFile) {
    mb::Setup setup;
    DemoSetup::Build(setup, "/kits/demo");

    // Follow the chain from loop 0: it must come back to 0 through at least two loops,
    // and at least one of them must repeat.
    std::set<int> visited;
    int loop = 0;
    int repeats = 0;
    do {
        visited.insert(loop);
        repeats = std::max<int>(repeats, setup.loop(loop).repeatCount);
        loop = setup.loop(loop).nextLoop;
    } while (loop != 0 && visited.size() < 8);
    EXPECT_EQ(loop, 0);
    EXPECT_GE(visited.size(), 2u);
    EXPECT_GT(repeats, 1);

    std::set<int> pitches, pans, volumes;
    for (int i : visited) {
        for (const Step& s : setup.loop(i).steps) {
            EXPECT_GE(s.sound, 0);
            EXPECT_LT(s.sound, 16);
            if (s.on) {
                pitches.insert(s.pitch);
                pans.insert(s.pan);
                volumes.insert(s.volume);
            }
        }
    }
    EXPECT_GT(pitches.size(), 3u);
    EXPECT_GT(pans.size(), 3u);
    EXPECT_GT(volumes.size(), 3u);

    const auto bytes = SetupFileFormat::Write(SetupRecord::FromSetup(setup, DemoSetup::Face()));
    const auto read = SetupFileFormat::Read(bytes);
    ASSERT_EQ(read.status, SetupFileFormat::Status::kOk);
    EXPECT_EQ(read.record.soundFolder, "/kits/demo");
    EXPECT_EQ(read.record.polyphonic, 1);
}

} // namespace
} // namespace mb
