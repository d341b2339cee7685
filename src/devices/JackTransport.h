#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/SessionTimeline.h"
#include "engine/TransportGrid.h"
#include "model/Relaxed.h"
#include "platform/Snapshots.h"

#include <jack/jack.h>
#include <jack/transport.h>

namespace mb {

// The program following a JACK server's transport: a client of its own (no ports) that
// reads the transport in every cycle, holds a start back (as a slow-sync client) until
// its first step can be sent in time, and offers itself as timebase master (4/4 at the
// setup's tempo) when no other client is one.
//
// Every run lies on the transport's grid of sixteenth notes counted from bar 1: step n
// of a run is heard on the frame the transport reaches that sixteenth, whatever the
// tempo does meanwhile. A run begun while the transport stands or starts holds the start
// back until the cycle its first step can still be sent for; a run begun while it rolls
// starts on the first sixteenth still in reach.
//
// Threads. Open, the destructor, SetOwnTempo, Poll, BeginRun and EndRun run on the window
// thread; StepDueNs on the step-clock thread; the callbacks on JACK's process thread,
// where nothing blocks, locks or allocates. The cycle's view passes to the other threads
// through a few slots and a sequence number.
class JackTransport : public SessionTimeline {
public:
    // A run's first step is planned at least this much beyond the sound's delay, so that
    // the step clock sends it in time.
    static constexpr int64_t kStartMarginNs = 20'000'000;
    // Looks in a row that must find the transport off the run before it starts again.
    static constexpr int kOffRunLooks = 3;

    struct Hooks {
        // How long after its time the first step of a run begun now is rendered (see
        // AudioMixer::runDelayNs): a step is sent that much before its frame.
        std::function<int64_t()> runDelayNs;
    };

    // What the window must do after a look at the transport.
    struct News {
        // Stop the run (the transport stopped or moved), then start one (it starts or
        // rolls without the run).
        bool stop = false;
        bool start = false;
        // The transport's tempo in quarter notes a minute, when it changed (0: not).
        double bpm = 0.0;
        // The server has gone.
        bool lost = false;
    };

    static std::unique_ptr<JackTransport> Open(Hooks hooks, double bpm, std::string* error);
    ~JackTransport() override;

    // The tempo the program gives the transport while it is the timebase master.
    void SetOwnTempo(double bpm);
    // Whether this program is the timebase master.
    bool IsMaster() const { return master_; }
    // Looks at the latest cycle; `playing`: whether the program's run goes on.
    News Poll(bool playing);

    // SessionTimeline.
    bool IsOn() const override { return !lost_.load(std::memory_order_acquire); }
    int64_t BeginRun(int64_t earliestNs, bool announce) override;
    void EndRun(bool announce) override;
    int64_t StepDueNs(int64_t n) override;
    int64_t RunStartsAtStep() const override { return runStep_; }

private:
    explicit JackTransport(Hooks hooks);
    static int Process(uint32_t frames, void* user);
    static int Sync(jack_transport_state_t state, jack_position_t* position, void* user);
    static void Timebase(jack_transport_state_t state,
                         jack_nframes_t frames,
                         jack_position_t* position,
                         int newPosition,
                         void* user);
    static void ShutDown(void* user);
    TransportView Read() const { return views_.Read(); }
    // Window thread: JACK's time of a frame on CLOCK_MONOTONIC, and back.
    int64_t NsOfFrameTime(int64_t frameTime, const TransportView& view) const;
    int64_t FrameTimeOfNs(int64_t ns, const TransportView& view) const;
    int64_t DelayNs(const TransportView& view) const;
    // The transport rolls where the run begun last was placed.
    bool OnRun(const TransportView& view) const;

    Hooks hooks_;
    jack_client_t* client_ = nullptr;
    bool master_ = false;
    std::atomic<bool> lost_{false};
    // Each cycle's view, published by the process callback.
    Snapshots<TransportView> views_;
    // The setup's tempo, for the master's bars and beats.
    Relaxed<double> ownBpm_{120.0};

    // The start the window has planned: the transport frame it starts from and the
    // server frame it rolls on. Written by the window thread before planId_.
    Relaxed<int64_t> planFrame_{-1};
    Relaxed<int64_t> rollFrame_{0};
    std::atomic<uint32_t> planId_{0};

    // The run begun last (window thread at its start, read by the step clock): the
    // sixteenth and server frame of its first step, its due time, how far the server's
    // frame count lies ahead of the transport's position while it rolls as planned, and
    // the view it was planned on (until the transport rolls).
    Relaxed<int64_t> runStep_{-1};
    Relaxed<int64_t> runFrameTime_{0};
    Relaxed<int64_t> runOriginNs_{0};
    Relaxed<int64_t> runOffset_{0};
    Relaxed<double> planQuarters_{0.0};
    Relaxed<double> planQpm_{120.0};
    Relaxed<int64_t> planViewFrame_{0};
    // The run was stopped here while the transport rolled: Poll starts none until the
    // transport stops or starts anew.
    bool held_ = false;
    // Looks in a row that found the transport rolling off the run's place.
    int offRun_ = 0;
    double lastQpm_ = 0.0;

    // Process thread only.
    bool counting_ = false;
    uint32_t frameTime32_ = 0;
    int64_t frameTime_ = 0;
    BbtSmoother smoother_;
    // The master's own timeline: the beat at a frame and the tempo from there.
    int64_t masterFrame_ = 0;
    double masterBeats_ = 0.0;
    double masterBpm_ = 0.0;
};

} // namespace mb
