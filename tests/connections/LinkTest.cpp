// Ableton Link, inside a private network namespace of its own (see PrivateNetwork.h):
// the real main window with a Link peer in the test.
#include <cmath>

#include <QTest>
#include <ableton/Link.hpp>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "PrivateNetwork.h"
#include "connections/LinkSession.h"
#include "files/PersistedSettings.h"
#include "files/SettingsStore.h"
#include "model/Setup.h"
#include "panel/WidgetPanel.h"
#include "platform/Clocks.h"

namespace mb {
namespace {

// How long a change may take to reach the other side, and joining: generous, for a busy
// machine and the sanitizers (each wait ends as soon as its condition holds).
constexpr int kReachMs = 5000;
constexpr int kJoinMs = 10000;

class LinkWindowTest : public ::testing::Test, protected test::AppFixture {
protected:
    static bool PeerPlaying(const ableton::Link& peer) {
        return peer.captureAppSessionState().isPlaying();
    }
};

TEST_F(LinkWindowTest, TheWindowSharesTempoStartAndStopWithAPeer) {
    if (!test::EnterPrivateNetwork())
        return;
    ableton::Link peer(100.0);
    peer.enableStartStopSync(true);
    peer.enable(true);
    Start();
    mb::Setup& setup = Probe(*window).GetSetup();
    WidgetPanel& panel = Probe(*window).Panel();
    setup.bpm = 126.0;
    setup.modified = 0;

    // The menu item turns Link on, keeps the choice, and the caption counts the peer.
    window->Commands().Run({Command::kLink});
    EXPECT_TRUE(Probe(*window).IsLinkOn());
    EXPECT_TRUE(PersistedSettings::ReadLinkSetting(Probe(*window).Settings()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.numPeers() == 1; }, kJoinMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->windowTitle().endsWith("  [Link: 1 peer]"); },
                                kReachMs));
    // One session tempo, whichever side's it is.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return std::abs(peer.captureAppSessionState().tempo() - setup.bpm) < 1e-3; },
        kReachMs));

    // A peer's tempo shows in the field and marks the setup modified.
    setup.modified = 0;
    auto state = peer.captureAppSessionState();
    state.setTempo(140.0, peer.clock().micros());
    peer.commitAppSessionState(state);
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::abs(setup.bpm - 140.0) < 1e-3; }, kReachMs));
    EXPECT_NEAR(panel.TempoField().GetTempo(), 140.0, 1e-3);
    EXPECT_EQ(setup.modified, 1);
    // A tempo stepped here reaches the peer: a semitone up.
    const double stepped = setup.bpm * MTempoField::kSemitoneRatio;
    Click(panel.TempoField().UpArrow().GetRect());
    EXPECT_NEAR(setup.bpm, stepped, 1e-6);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return std::abs(peer.captureAppSessionState().tempo() - stepped) < 1e-3; },
        kReachMs));

    // Start and stop both ways.
    state = peer.captureAppSessionState();
    state.setIsPlayingAndRequestBeatAtTime(true, peer.clock().micros(), 0.0, 4.0);
    peer.commitAppSessionState(state);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Probe(*window).GetSequencer().running(); }, kReachMs));
    EXPECT_TRUE(panel.PlayButton().GetState());
    Key(Qt::Key_Space);
    EXPECT_FALSE(Probe(*window).GetSequencer().running());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !PeerPlaying(peer); }, kReachMs));
    Key(Qt::Key_Space);
    EXPECT_TRUE(QTest::qWaitFor([&] { return PeerPlaying(peer); }, kReachMs));

    // Off again: the caption loses the count, the peer is alone.
    window->Commands().Run({Command::kLink});
    EXPECT_FALSE(Probe(*window).IsLinkOn());
    EXPECT_FALSE(PersistedSettings::ReadLinkSetting(Probe(*window).Settings()));
    EXPECT_FALSE(window->windowTitle().contains("Link"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return peer.numPeers() == 0; }, kJoinMs));

    // Link and the JACK transport exclude each other: choosing one clears the other.
    window->Commands().Run({Command::kLink});
    window->Commands().Run({Command::kJackTransport});
    EXPECT_FALSE(Probe(*window).IsLinkOn());
    EXPECT_FALSE(PersistedSettings::ReadLinkSetting(Probe(*window).Settings()));
    EXPECT_TRUE(PersistedSettings::ReadJackTransportSetting(Probe(*window).Settings()));
}

// Link keeps a finite tempo within its limits (20 to 999 BPM), but a NaN passes them and
// would reach every peer. Alone in the session, a run begins on the next bar: no more
// than four beats of the session's tempo away.
TEST(LinkSessionTempo, LinkIsOnlyHandedTemposThatAreNumbers) {
    if (!test::EnterPrivateNetwork())
        return;
    struct : MessagePoster {
        void PostMessage(int, intptr_t, intptr_t) override {}
    } poster;
    LinkSession session(poster, {});
    const auto nextBarWithin = [&session](double bpm) {
        const int64_t now = MonotonicNs();
        const int64_t bar = session.BeginRun(now, false);
        // Link counts whole microseconds.
        return bar >= now - 1000 && bar <= now + static_cast<int64_t>(4 * 60e9 / bpm) + 1000;
    };
    session.SetOn(true, std::nan(""));
    EXPECT_TRUE(nextBarWithin(kDefaultBpm));
    session.SetTempo(std::nan(""));
    EXPECT_TRUE(nextBarWithin(kDefaultBpm));
    session.SetTempo(1e300); // kMaxBpm, which Link keeps at 999
    EXPECT_TRUE(nextBarWithin(999.0));
    session.SetOn(false, 0.0);
}

} // namespace
} // namespace mb
