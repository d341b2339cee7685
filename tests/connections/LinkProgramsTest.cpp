// Ableton Link between two programs, inside a private network namespace of its own (see
// PrivateNetwork.h): each plays a different sound into one null sink, panned to its own
// side, and the recording shows them start on one bar and stay together through a tempo
// change made in one of them.
#include <algorithm>
#include <chrono>
#include <thread>

#include <QTest>
#include <gtest/gtest.h>

#include "LiveCapture.h"
#include "PrivateNetwork.h"
#include "ProgramHarness.h"
#include "files/DemoSetup.h"

namespace mb {
namespace {

using namespace std::chrono_literals;

TEST(LinkProgramsTest, TwoProgramsStartOnOneBarAndStayInPhaseThroughATempoChange) {
    if (!test::EnterPrivateNetwork())
        return;
    test::ProgramHarness harness;
    if (const std::string missing = harness.Start(); !missing.empty()) {
        if (std::getenv("CI") != nullptr && std::string(std::getenv("CI")) == "true")
            FAIL() << missing;
        GTEST_SKIP() << missing;
    }
    constexpr int kClave = 10;
    // A point inside the tempo field, in window pixels.
    constexpr int kTempoFieldX = 50;
    constexpr int kTempoFieldY = 155;
    const std::string left = harness.Scratch("left.mbx");
    const std::string right = harness.Scratch("right.mbx");
    ASSERT_TRUE(test::WriteClickSetup(left, MARROWBEAT_KIT_FOLDER, DemoSetup::kRim, 0, 120.0));
    ASSERT_TRUE(test::WriteClickSetup(right, MARROWBEAT_KIT_FOLDER, kClave, 127, 100.0));
    // Each with a runtime folder of its own: only Link joins them.
    QProcess& a = harness.Launch({"--link", QString::fromStdString(left)}, "run-a");
    QProcess& b = harness.Launch({"--link", QString::fromStdString(right)}, "run-b");
    const QString windowA = harness.WindowOf(a);
    const QString windowB = harness.WindowOf(b);
    ASSERT_FALSE(windowA.isEmpty());
    ASSERT_FALSE(windowB.isEmpty());
    auto joined = [&](const QString& window) {
        return harness.Xdotool({"getwindowname", window}).endsWith("[Link: 1 peer]");
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return joined(windowA) && joined(windowB); }, 10000))
        << "the two programs did not join one session";
    const auto join = std::chrono::steady_clock::now();

    harness.StartRecording();
    // Within a second of joining they share one tempo (either one's).
    std::this_thread::sleep_until(join + 1s);
    harness.Key(windowA, "space");
    std::this_thread::sleep_for(10s);
    // 150 BPM typed into the other one's tempo field.
    harness.Type(windowB, kTempoFieldX, kTempoFieldY, "150");
    std::this_thread::sleep_for(10s);
    harness.Key(windowA, "space");
    std::this_thread::sleep_for(500ms);
    const test::StereoRecording recording = harness.StopRecording();

    const std::vector<int64_t> onA = test::FindOnsets(recording.left);
    const std::vector<int64_t> onB = test::FindOnsets(recording.right);
    ASSERT_GE(onA.size(), 100u) << "the first program played too little";
    // Started on one bar, stepped together, stopped together: both grids follow the
    // session's timeline to the microsecond and each output says when its frames are
    // heard, so the two stay within a millisecond of each other, tempo change included.
    // One step may stray at the change: a step is sent a lead before it is heard, and the
    // program that learns of the new tempo a few milliseconds late has sent the first
    // step after the change on the old timeline by then.
    constexpr int64_t kPhaseFrames = 44;
    constexpr int64_t kLateTempoFrames = 441;
    ASSERT_NEAR(static_cast<double>(onB.size()), static_cast<double>(onA.size()), 1.0);
    std::vector<int64_t> distances;
    for (size_t i = 0; i < std::min(onA.size(), onB.size()); ++i)
        distances.push_back(onB[i] - onA[i]);
    std::sort(distances.begin(), distances.end(),
              [](int64_t a, int64_t b) { return std::abs(a) < std::abs(b); });
    const int64_t second = distances[distances.size() - 2];
    const int64_t furthest = distances.back();
    std::printf("%zu onsets; the second program's minus the first's: all but one within %lld "
                "frames, that one %lld\n",
                onA.size(), static_cast<long long>(std::abs(second)),
                static_cast<long long>(furthest));
    RecordProperty("distance_frames", static_cast<int>(std::abs(second)));
    EXPECT_LE(std::abs(second), kPhaseFrames);
    EXPECT_LE(std::abs(furthest), kLateTempoFrames);
    // Both end at the new tempo: a step of 100 ms.
    for (const auto* on : {&onA, &onB})
        EXPECT_NEAR(static_cast<double>(on->back() - (*on)[on->size() - 5]) / 4.0, 4410.0, 2.0);
}

// Two instances on one desktop, one runtime folder: Space in one starts both on the grid
// whose origin the start carries. Both play the same sound, one on each side, and every
// step lies within a sample of the other's.
TEST(InstancesPhaseTest, TwoInstancesStartedTogetherPlayWithinASampleOfEachOther) {
    test::ProgramHarness harness;
    if (const std::string missing = harness.Start(); !missing.empty()) {
        if (std::getenv("CI") != nullptr && std::string(std::getenv("CI")) == "true")
            FAIL() << missing;
        GTEST_SKIP() << missing;
    }
    const std::string left = harness.Scratch("left.mbx");
    const std::string right = harness.Scratch("right.mbx");
    ASSERT_TRUE(test::WriteClickSetup(left, MARROWBEAT_KIT_FOLDER, DemoSetup::kRim, 0, 126.0));
    ASSERT_TRUE(test::WriteClickSetup(right, MARROWBEAT_KIT_FOLDER, DemoSetup::kRim, 127, 126.0));
    QProcess& a = harness.Launch({QString::fromStdString(left)}, "run");
    QProcess& b = harness.Launch({QString::fromStdString(right)}, "run");
    const QString windowA = harness.WindowOf(a);
    ASSERT_FALSE(windowA.isEmpty());
    ASSERT_FALSE(harness.WindowOf(b).isEmpty());
    // Past their outputs' start-up (a start before an output flows only starts late),
    // and before they stand still for want of sound.
    std::this_thread::sleep_for(1s);
    harness.StartRecording();
    std::this_thread::sleep_for(300ms);
    harness.Key(windowA, "space");
    std::this_thread::sleep_for(4s);
    harness.Key(windowA, "space");
    std::this_thread::sleep_for(500ms);
    const test::StereoRecording recording = harness.StopRecording();
    const std::vector<int64_t> onA = test::FindOnsets(recording.left);
    const std::vector<int64_t> onB = test::FindOnsets(recording.right);
    ASSERT_GE(std::min(onA.size(), onB.size()), 20u);
    int64_t furthest = 0;
    for (size_t i = 0; i < std::min(onA.size(), onB.size()); ++i)
        furthest = std::max(furthest, std::abs(onB[i] - onA[i]));
    RecordProperty("distance_frames", static_cast<int>(furthest));
    EXPECT_LE(furthest, 1);
}

} // namespace
} // namespace mb
