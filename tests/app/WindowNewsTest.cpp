// What the step clock's thread and the MIDI input's thread tell the real window: the
// clock's steps reach the window without an allocation or a lock on the clock's thread,
// and a flood of MIDI Start and Stop costs the window one wake-up.
#include <thread>

#include <QTest>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "RealTimeProbe.h"
#include "panel/WidgetPanel.h"

namespace mb {
namespace {

using test::RealTimeWatch;

// The step clock's callback, its thread watched from the first step it takes on: the
// steps, and the timer's own work between them.
int64_t WatchedTick(void* user) {
    RealTimeWatch::WatchThisThread();
    return static_cast<Sequencer*>(user)->Tick();
}

// Counts the events that reach one object.
class EventCounter : public QObject {
public:
    explicit EventCounter(QObject* target) : target_(target) { qApp->installEventFilter(this); }
    ~EventCounter() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == target_ && event->type() >= QEvent::User)
            ++count;
        return false;
    }
    int count = 0;

private:
    QObject* target_;
};

// The engine plays into a device that nothing renders: the steps go into the mixer's
// lane as they would live.
class WindowNewsTest : public ::testing::Test, protected test::AppFixture {
protected:
    WindowNewsTest()
        : AppFixture(SoundEngine::DeviceOpener(
              [] { return std::make_unique<AudioDevice>(AudioDevice::Config{}); })) {}
};

TEST_F(WindowNewsTest, TheStepClockShowsItsStepsWithoutAllocatingOrLocking) {
    Start(WriteDemo("demo.mbx", MARROWBEAT_KIT_FOLDER));
    Sequencer& sequencer = Probe(*window).GetSequencer();
    sequencer.clock()->Configure(&WatchedTick, &sequencer);
    Probe(*window).Controller().SetTempo(1200.0); // 12.5 ms steps
    const uint64_t allocations = RealTimeWatch::Allocations();
    const uint64_t locks = RealTimeWatch::Locks();
    const uint64_t wakeups = Probe(*window).newsWakeups();
    const uint32_t stepsBefore = sequencer.stepsTaken();
    const size_t sent =
        Probe(*window).GetSoundEngine().device()->mixer().Sent(AudioMixer::kStepClockLane);
    EventCounter events(window.get());
    Key(Qt::Key_Space);
    ASSERT_TRUE(sequencer.running());
    for (int i = 0; i < 2000 && sequencer.stepsTaken() - stepsBefore < 40; ++i)
        QTest::qWait(5);
    Key(Qt::Key_Space);
    QCoreApplication::processEvents();
    const uint32_t steps = sequencer.stepsTaken() - stepsBefore;
    ASSERT_GE(steps, 40u);
    EXPECT_GT(Probe(*window).GetSoundEngine().device()->mixer().Sent(AudioMixer::kStepClockLane),
              sent);
    EXPECT_EQ(RealTimeWatch::Allocations() - allocations, 0u);
    if (RealTimeWatch::CountsLocks()) {
        EXPECT_EQ(RealTimeWatch::Locks() - locks, 0u);
    }
    // The window was woken and took the steps in, at most once per step; the start and
    // the stop posted their loop marks.
    EXPECT_GT(Probe(*window).newsWakeups(), wakeups);
    EXPECT_LE(Probe(*window).newsWakeups() - wakeups, steps);
    EXPECT_EQ(events.count, 2);
}

// 40 000 MIDI Start and Stop, alternating, as fast as the input thread can hand them
// over: the window wakes once and acts on the last of them alone.
TEST_F(WindowNewsTest, AFloodOfMidiStartAndStopWakesTheWindowOnceForTheLatest) {
    Start();
    Sequencer& sequencer = Probe(*window).GetSequencer();
    for (bool last : {false, true, false}) {
        const uint64_t wakeups = Probe(*window).newsWakeups();
        const uint32_t run = sequencer.run();
        const bool wasRunning = sequencer.running();
        EventCounter events(window.get());
        std::thread input([this, last] {
            for (int i = 0; i < 40000; ++i)
                Probe(*window).OnMidiTransport(i % 2 == 0);
            Probe(*window).OnMidiTransport(last);
        });
        input.join();
        for (int i = 0; i < 400 && Probe(*window).newsWakeups() == wakeups; ++i)
            QTest::qWait(5);
        QCoreApplication::processEvents();
        EXPECT_EQ(sequencer.running(), last);
        EXPECT_EQ(sequencer.run(), run + (last && !wasRunning ? 1 : 0)) << last;
        // Stopped, nothing else wakes the window; a start or a stop posts its loop mark.
        if (!wasRunning && !last) {
            EXPECT_EQ(Probe(*window).newsWakeups() - wakeups, 1u);
        }
        EXPECT_LE(events.count, 1) << last;
    }
}

} // namespace
} // namespace mb
