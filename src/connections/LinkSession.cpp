#include "connections/LinkSession.h"

#include <chrono>
#include <cmath>

#include <ableton/Link.hpp>

#include "engine/SequencerPorts.h"
#include "model/Tempo.h"
#include "platform/Clocks.h"

namespace mb {

namespace {

using Micros = std::chrono::microseconds;
using LinkPeer = ableton::BasicLink<ableton::platforms::linux::ClockMonotonic>;

// A phase this close to 0 is on the bar.
constexpr double kOnBar = 1e-6;

Micros ToLink(int64_t ns) {
    return Micros(ns / 1000);
}

int64_t FromLink(Micros time) {
    return static_cast<int64_t>(time.count()) * 1000;
}

bool SameTempo(double a, double b) {
    return std::abs(a - b) <= LinkSession::kSameTempo * std::max(std::abs(a), std::abs(b));
}

} // namespace

struct LinkSession::Peer {
    explicit Peer(double bpm) : link(bpm) {}
    LinkPeer link;
};

LinkSession::LinkSession(MessagePoster& window, Hooks hooks)
    : window_(window), hooks_(std::move(hooks)) {}

LinkSession::~LinkSession() {
    // Link's threads end here, before this object stops taking their queued calls.
    peer_.reset();
}

void LinkSession::SetOn(bool on, double bpm) {
    if (on && !peer_) {
        tempo_ = MendTempo(bpm).bpm;
        peer_ = std::make_unique<Peer>(tempo_);
        LinkPeer& link = peer_->link;
        link.setTempoCallback([this](double tempo) {
            QMetaObject::invokeMethod(
                this, [this, tempo] { OnTempo(tempo); }, Qt::QueuedConnection);
        });
        link.setStartStopCallback([this](bool playing) {
            QMetaObject::invokeMethod(
                this, [this, playing] { OnStartStop(playing); }, Qt::QueuedConnection);
        });
        link.setNumPeersCallback([this](std::size_t) {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (hooks_.peers)
                        hooks_.peers(Peers());
                },
                Qt::QueuedConnection);
        });
        link.enableStartStopSync(true);
    } else if (on) {
        SetTempo(bpm);
    }
    on_ = on && peer_;
    if (peer_)
        peer_->link.enable(on_);
    if (hooks_.peers)
        hooks_.peers(Peers());
}

int LinkSession::Peers() const {
    return on_ ? static_cast<int>(peer_->link.numPeers()) : 0;
}

void LinkSession::SetTempo(double bpm) {
    // Link keeps a finite tempo within its own limits, but a NaN would pass those and
    // reach every peer.
    tempo_ = MendTempo(bpm).bpm;
    if (!peer_)
        return;
    LinkPeer& link = peer_->link;
    LinkPeer::SessionState state = link.captureAppSessionState();
    if (SameTempo(state.tempo(), tempo_))
        return;
    // From the first step not yet sent to the output on, so that no step already on its
    // way moves.
    const int64_t latency = hooks_.latencyNs ? hooks_.latencyNs() : 0;
    state.setTempo(tempo_, ToLink(MonotonicNs() + latency));
    link.commitAppSessionState(state);
}

void LinkSession::OnTempo(double session) {
    const double bpm = MendTempo(session).bpm;
    if (!on_ || SameTempo(bpm, tempo_))
        return;
    tempo_ = bpm;
    if (hooks_.tempo)
        hooks_.tempo(bpm);
}

void LinkSession::OnStartStop(bool playing) {
    if (!on_)
        return;
    // A change that has since been undone (a quick start and stop) is not followed.
    const LinkPeer::SessionState state = peer_->link.captureAppSessionState();
    if (state.isPlaying() != playing)
        return;
    if (!playing) {
        window_.PostMessage(MSG_REMOTE_STOP, 0, 0);
        return;
    }
    // The moment the session's start is heard: the step clock meets it with the lead.
    window_.PostMessage(MSG_REMOTE_START, 0,
                        static_cast<intptr_t>(FromLink(state.timeForIsPlaying())));
}

int64_t LinkSession::BeginRun(int64_t earliestNs, bool announce) {
    if (!on_)
        return earliestNs;
    LinkPeer& link = peer_->link;
    const int64_t latency = hooks_.latencyNs ? hooks_.latencyNs() : 0;
    latencyNs_ = latency;
    // Times on the session's timeline are when a beat is heard.
    int64_t heardNs = earliestNs + latency;
    LinkPeer::SessionState state = link.captureAppSessionState();
    if (announce) {
        if (link.numPeers() > 0)
            heardNs += kPeerLeadNs;
        // Alone, beat 0 moves to this moment; with peers it falls on their next bar.
        state.setIsPlayingAndRequestBeatAtTime(true, ToLink(heardNs), 0.0, kBeatsPerBar);
        link.commitAppSessionState(state);
    }
    // The first bar at or after the moment (rounded up to Link's whole microseconds).
    const Micros at = ToLink(heardNs + 999);
    const double beat = state.beatAtTime(at, kBeatsPerBar);
    const double phase = state.phaseAtTime(at, kBeatsPerBar);
    const double bar = phase < kOnBar ? beat - phase : beat - phase + kBeatsPerBar;
    firstBeat_ = bar;
    return FromLink(state.timeAtBeat(bar, kBeatsPerBar)) - latency;
}

void LinkSession::EndRun(bool announce) {
    if (!on_ || !announce)
        return;
    LinkPeer& link = peer_->link;
    LinkPeer::SessionState state = link.captureAppSessionState();
    state.setIsPlaying(false, ToLink(MonotonicNs()));
    link.commitAppSessionState(state);
}

int64_t LinkSession::StepDueNs(int64_t n) {
    const LinkPeer::SessionState state = peer_->link.captureAudioSessionState();
    const double beat = firstBeat_ + static_cast<double>(n) / kStepsPerBeat;
    return FromLink(state.timeAtBeat(beat, kBeatsPerBar)) - latencyNs_;
}

} // namespace mb
