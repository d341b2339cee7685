#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/HostTimeline.h"
#include "engine/OfflineSession.h"
#include "engine/TransportGrid.h"
#include "midi/MidiSender.h"
#include "model/Setup.h"
#include "platform/Notifier.h"

namespace mb {

class MidiTarget;

// One setup as a plugin plays it: the setup, its sounds, the engine of an offline
// session that follows the host's timeline and the MIDI sender its steps feed (the live
// output's notes, without the clock). Made and destroyed off the audio thread; the rest
// runs on the audio thread.
class HostedSession {
public:
    struct Loaded {
        std::unique_ptr<HostedSession> session;
        // Why none was made, naming the file; otherwise what the user should know of it
        // (sounds that did not load), or empty.
        std::string error;
        std::string notice;
    };
    // Reads the setup at `path` and loads the sounds of its folder, found as opening the
    // file in the window finds it. Nothing is made for a file that is not a setup or
    // whose sound folder is nowhere.
    static Loaded Load(const std::string& path, uint32_t rate, HostTimeline& timeline);

    HostedSession(const HostedSession&) = delete;
    HostedSession& operator=(const HostedSession&) = delete;
    ~HostedSession();

    const Setup& setup() const { return setup_; }
    OfflineSession& offline() { return *offline_; }
    // The MIDI of the steps taken, placed before session frame `until` (see MidiSource).
    void TakeMidi(MidiTarget& target, int64_t from, int64_t until);
    // The host's tempo in quarter notes a minute from the next step on.
    void SetTempo(double qpm);

private:
    HostedSession() = default;

    Setup setup_;
    // Collects what loading the sounds said.
    struct Collector : Notifier {
        void ShowNote(const std::string& text) override { Add(text); }
        void ShowNotice(const std::string& text) override { Add(text); }
        void Add(const std::string& text) { said += (said.empty() ? "" : " ") + text; }
        std::string said;
    } notes_;
    MidiSender midi_;
    std::unique_ptr<OfflineSession> offline_;
};

// Where a host says its transport stands (LV2's time:Position): each part only when
// given.
struct HostPosition {
    bool hasSpeed = false, hasFrame = false, hasBeat = false, hasTempo = false;
    double speed = 0.0;
    int64_t frame = 0;
    // Bars (from 0), beats into the bar, beats to a bar and the note of a beat.
    int64_t bar = 0;
    double barBeat = 0.0;
    double beatsPerBar = 4.0;
    double beatUnit = 4.0;
    // Beats a minute.
    double bpm = 120.0;
};

// The plugin's player: the setup playing now on the host's timeline and the one that
// takes over from it at the next bar. A host that says where its transport stands is
// followed (start, stop, locate, tempo); until one does, the setup plays from the
// plugin's first frame at its own tempo, as a render does. The setup that is replaced
// rings out beside the new one and is then given back to be destroyed off the audio
// thread.
//
// Threads: every method on the host's audio thread, except that construction, Offer
// before the first Render, and destruction may run wherever the host instantiates.
class HostedPlayer {
public:
    // Frames rendered at once into the player's own buffers.
    static constexpr int kChunkFrames = 512;

    explicit HostedPlayer(uint32_t rate);
    HostedPlayer(const HostedPlayer&) = delete;
    HostedPlayer& operator=(const HostedPlayer&) = delete;
    ~HostedPlayer();

    HostTimeline& timeline() { return timeline_; }
    // Frames rendered since the start: the session frame of the next one.
    int64_t frame() const { return frame_; }
    const HostedSession* current() const { return current_.get(); }
    bool Playing() const { return current_ && current_->offline().Running(); }

    // A setup to play from the next bar (at once while the transport stands). A setup
    // offered before and not playing yet is given back.
    void Offer(std::unique_ptr<HostedSession> session);
    // The host's word, at the frame rendered next.
    void Position(const HostPosition& position);
    // Renders the next `frames` frames; the MIDI of their steps goes to `midi`, whose
    // places are session frames.
    void Render(float* left, float* right, int frames, MidiTarget& midi);
    // A setup done with, to be destroyed off the audio thread; none when none is.
    std::unique_ptr<HostedSession> TakeRetired();

private:
    void Start();
    void Stop();
    void Retire(std::unique_ptr<HostedSession> session);
    // The next bar's first frame on the timeline, from the frame rendered next.
    int64_t NextBarFrame() const;
    void TakeOver();
    // The view of a setup that plays by its own tempo from `at`, going on from `quarters`.
    TransportView OwnView(int64_t at, double quarters) const;

    uint32_t rate_;
    HostTimeline timeline_;
    int64_t frame_ = 0;
    // The host has said where its transport stands: it is followed from then on.
    bool hostKnown_ = false;
    bool begun_ = false;
    // The transport's speed as the host last said (frames of its own a frame of ours), and
    // its tempo (0 before it has said one).
    double speed_ = 1.0;
    double hostQpm_ = 0.0;
    double beatsPerBar_ = 4.0;
    double beatUnit_ = 4.0;
    BbtSmoother smoother_;
    std::unique_ptr<HostedSession> current_;
    std::unique_ptr<HostedSession> pending_;
    // The setup replaced, ringing out, and the frames it may still ring.
    std::unique_ptr<HostedSession> ringing_;
    int64_t ringFrames_ = 0;
    std::array<std::unique_ptr<HostedSession>, 4> retired_;
    std::array<float, 2 * kChunkFrames> mix_{};
    std::array<float, 2 * kChunkFrames> ring_{};
};

} // namespace mb
