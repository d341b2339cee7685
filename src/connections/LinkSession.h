#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QObject>

#include "engine/SessionTimeline.h"
#include "model/Relaxed.h"

namespace mb {

class MessagePoster;

// The program's place in an Ableton Link session. It is off until turned on, and its
// Link peer is made the first time it is turned on, so that nothing is sent before. While
// it is on, the session's tempo and the setup's are kept equal both ways, starts and
// stops are shared with the session's other programs (Link's start/stop sync: a peer's
// start or stop reaches the window as MSG_REMOTE_START or MSG_REMOTE_STOP), and every run
// follows the session's beat timeline: it starts on a bar of kBeatsPerBar beats, and
// step n of the run sounds n quarter beats after that bar.
//
// Link reads its host clock in microseconds. Here that clock is CLOCK_MONOTONIC (left to
// itself, Link would read CLOCK_MONOTONIC_RAW, whose rate differs from the step clock's
// while the system clock is being slewed), so a Link time is the step clock's
// nanoseconds divided by 1000 and converts back exactly.
//
// Threads: Link calls back on threads of its own; those callbacks only queue a call to
// this object's thread, the window thread, and never touch the window. StepDueNs runs on
// the step-clock thread and reads the session through Link's real-time capture, which no
// other thread uses. Everything else runs on the window thread.
class LinkSession : public QObject, public SessionTimeline {
public:
    static constexpr double kBeatsPerBar = 4.0;
    static constexpr double kStepsPerBeat = 4.0;
    // A start the peers are told of lies at least this much further ahead: time for
    // them to hear of it.
    static constexpr int64_t kPeerLeadNs = 100'000'000;
    // Tempos this close (relative) are the same: Link carries a tempo as whole
    // microseconds per beat, so a tempo comes back from a peer slightly changed.
    static constexpr double kSameTempo = 1e-5;

    struct Hooks {
        // The session's tempo changed here: a peer changed it, or Link kept ours within
        // its limits. Not called for a tempo given to SetTempo.
        std::function<void(double bpm)> tempo;
        // The number of peers changed.
        std::function<void(int peers)> peers;
        // How long before a step is heard it must be sent (the output's latency).
        std::function<int64_t()> latencyNs;
    };

    LinkSession(MessagePoster& window, Hooks hooks);
    ~LinkSession() override;

    // Joins (on) or leaves the session. bpm is the setup's tempo, which the session
    // takes unless its other programs have one already. Link is only ever handed a
    // tempo that MendTempo has kept, and a session's tempo passes it on the way back.
    void SetOn(bool on, double bpm);
    bool IsOn() const override { return on_; }
    int Peers() const;
    // A tempo set here (typed, stepped, loaded): the session takes it.
    void SetTempo(double bpm);

    // SessionTimeline.
    int64_t BeginRun(int64_t earliestNs, bool announce) override;
    void EndRun(bool announce) override;
    int64_t StepDueNs(int64_t n) override;

private:
    struct Peer;
    void OnTempo(double bpm);
    void OnStartStop(bool playing);

    MessagePoster& window_;
    Hooks hooks_;
    std::unique_ptr<Peer> peer_;
    bool on_ = false;
    // The last tempo set here or taken from the session.
    double tempo_ = 0.0;
    // The bar the run begun last starts on, in the session's beats, and the output's
    // latency then; read by the step clock.
    Relaxed<double> firstBeat_{0.0};
    Relaxed<int64_t> latencyNs_{0};
};

} // namespace mb
