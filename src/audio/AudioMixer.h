#pragma once

#include <array>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "audio/MixerCommand.h"
#include "audio/RunEnds.h"
#include "audio/SpscQueue.h"

namespace mb {

class SoundData;

// The software mixer: a table of sounds (decoded sample data) and a fixed set of voices,
// each playing one sound at its own position, speed, pan and volume, summed into a
// stereo float stream.
//
// Threads. Audio thread (Render): never locks, allocates, frees, logs or waits; it reads
// commands from one fixed-size lock-free queue per producing thread, applies them on the
// output frame that matches their time, and publishes each voice's status through
// atomics. Producers: the window thread sends on kWindowLane, the step-clock thread on
// kStepClockLane; each lane has exactly one producing thread at a time. Sound data is
// allocated and freed by the window thread only, once Drained() shows that the audio
// thread has received the command that removed it.
//
// Time. A command for a step carries its place on the grid of one run of the step clock
// (see GridTime). The first time the mixer sees a run it maps the run's origin to an
// output frame, through a mapping from the producers' clock to the stream's frame count;
// every step of the run then sounds on that frame plus round(offset x rate), exactly,
// whatever the jitter of the callbacks. The mapping is taken at the first callback and
// moves only when the stream gets ahead of it (at once, with some headroom, so that no
// command comes too late), when it jumps (an interrupted stream), or, one frame at a
// time, when the stream stays far behind it. A run that starts while the mapping is not
// settled yet (the stream has not flowed steadily for `settleNs`) waits for it: its grid
// then starts when the output flows, a constant latency for the whole run. A step whose
// frame has already been rendered sounds at the start of the block being rendered, and
// the rest of its run moves with it, so that the spacing stays exact.
//
// Ends. A command on the grid of a run that has ended never sounds: the mixer asks the
// step clock's RunEnds (see FollowRunEnds) each time it places such a command and again
// when its frame comes; a kEndRun command drops at once what waits for its frame. So a
// step that the step clock sent just before a stop, and that the mixer reads only after
// the stop (the lanes are read one after the other), is dropped and does not start its
// run again.
//
// Steps. The step clock's triggers say whether they cut the sound of the step started
// before them (see MixerCommand::StepRole): the mixer alone knows which voice that is.
class AudioMixer {
public:
    enum Lane : int {
        kWindowLane = 0,
        kStepClockLane = 1,
        kLaneCount = 2,
    };

    static constexpr int kMaxVoices = 1024;
    static constexpr int kMaxSounds = 4096;
    static constexpr size_t kLaneCapacity = 8192;
    static constexpr int kMaxPending = 4096;

    struct Config {
        // Output frames per second.
        uint32_t rate = 44100;
        // Frames between a command's time and the frame it is rendered on: 0 offline, one
        // buffer plus the step clock's allowance live.
        int64_t latencyFrames = 0;
        // Frames from rendering a frame to hearing it (the device's own latency): part of
        // LatencyNs, not of where a command is placed.
        int64_t heardAfterFrames = 0;
        // Frames of room the mapping keeps ahead of the stream's frame count when it has
        // to move forward: 0 offline; live, enough for the bursts of a sound server.
        double headroomFrames = 0.0;
        // How long the mapping must have stayed put before a new run is placed by it: 0
        // offline; live, long enough to see a sound server's start-up stall.
        int64_t settleNs = 0;
        // Mix eight frames at a time where the processor has AVX2 and FMA (false: always
        // the baseline four-frame kernels).
        bool wideKernels = true;
        // Pass the mix through the final limiter (see Limit); false only for parts of a
        // mix that are summed afterwards.
        bool limitOutput = true;
        // The output gives every callback the exact time of its first frame (a stream that
        // says when each frame is heard): the mapping takes it as it comes instead of
        // guessing from the callbacks' rhythm.
        bool exactTimes = false;
        // With exact times: how long after its time a command is heard (the output gives
        // each block's time that much early).
        int64_t leadNs = 0;
        // With exact times: a jump in the blocks' times is not a delay of what the
        // output plays. Frames the device counted but the output did not render (a JACK
        // client that missed cycles, see FramesSkipped) move every run's grid and every
        // waiting command with them; a jump in the time the output gives beyond that (the
        // server's clock corrected after a lost cycle) moves only what is placed by time
        // (commands for a moment, steps placed by time): a grid counts frames, which did
        // not jump. So the steps after a gap keep their places (those that fell in it
        // sound at once). A step that comes after its frame was held up on its way: it
        // sounds at once, and its run's grid stays.
        bool keepTimeOverGaps = false;
    };

    explicit AudioMixer(const Config& config);
    AudioMixer(const AudioMixer&) = delete;
    AudioMixer& operator=(const AudioMixer&) = delete;

    // Producer thread of `lane`. False when the lane is full (the command is dropped).
    bool Send(Lane lane, const MixerCommand& command);
    // Producer thread of kStepClockLane: the commands sent so far make whole steps. Only
    // those are written over a queue (see Rewind): a step's trigger that came after its
    // stop command was written would come too late for it.
    void StepSent() {
        wholeSteps_.store(lanes_[kStepClockLane].Pushed(), std::memory_order_release);
    }
    // Producer thread of `lane`: commands sent so far.
    size_t Sent(Lane lane) const { return lanes_[static_cast<size_t>(lane)].Pushed(); }
    // Any thread: commands of `lane` the audio thread has received.
    size_t Drained(Lane lane) const {
        return drained_[static_cast<size_t>(lane)].load(std::memory_order_acquire);
    }

    // Any thread: whether the voice is sounding, or has a trigger waiting for its frame.
    bool IsPlaying(int voice) const;
    // Any thread: from now on the mixer also asks `ends` (nullptr: none) whether a run has
    // ended. `ends` stays valid until it is replaced, or the mixer goes.
    void FollowRunEnds(const RunEnds* ends) {
        followedEnds_.store(ends, std::memory_order_release);
    }

    // Producer threads: a trigger is about to be sent for the voice (undone with
    // TriggerNotSent when the lane was full).
    void TriggerAnnounced(int voice);
    void TriggerNotSent(int voice);

    // Audio thread: mixes `frames` stereo frames into `out` (interleaved, overwritten).
    // nowNs is the time, on the producers' clock, of this callback.
    void Render(float* out, int frames, int64_t nowNs);

    // The thread that renders, while no stream runs (the one that ended has been joined
    // and the next is not started yet): the next frames go to a new stream with its own
    // rate and latencies. Sounding voices go on at their pitch; every run and every
    // waiting command is placed again through the new stream's timing, so the steps keep
    // their places in time.
    void Restart(const Config& config);
    // Audio thread: no voice sounds and nothing waits, in the lanes or for its frame.
    bool IsIdle() const;
    // Audio thread, before a Render: the time given with the next block is only a guess
    // (an output that says when its frames are heard has not said it yet). New runs wait
    // until the times are known (and steady for settleNs).
    void TimeUnknown(int64_t nowNs);
    // Audio thread, before a Render: with exact times, the lead is now `leadNs` (the
    // output gives each block's time that much earlier from now on). Runs already placed
    // keep their frames; their steps are sent earlier by as much as the lead grew (see
    // sendAheadNs).
    void SetLead(int64_t leadNs);
    // Audio thread, before a Render: the device's frame count went on by `frames` more
    // than were rendered since the last block (see Config::keepTimeOverGaps).
    void FramesSkipped(int64_t frames) { skippedFrames_ += frames; }
    // Audio thread, with exact times, between Renders: the output can still write again
    // the last `most` frames it was given (they are queued, not yet heard); nowNs is the
    // time Render would get for the next block. When whole steps wait in the step clock's
    // lane and one falls on those frames, after the last one in which something sounded, the
    // mixer goes back to it and returns how many frames it went back; the output then
    // asks Render for them again, with their times, and writes them over what it queued.
    // So a run that starts while all is quiet is heard as soon as the output can write,
    // not after its whole queue. 0: nothing to write again.
    int64_t Rewind(int64_t most, int64_t nowNs);
    // Audio thread: how long after a moment a frame that the output writes again then can
    // be heard (its device's own latency and a margin), 0 when it cannot write again.
    void SetRewriteNs(int64_t rewriteNs) { rewriteNs_.store(rewriteNs, std::memory_order_relaxed); }
    // Any thread: the last SetRewriteNs.
    int64_t rewriteNs() const { return rewriteNs_.load(std::memory_order_relaxed); }

    uint32_t rate() const { return config_.rate; }
    // How long after a command's time its frame is heard, as the mapping places it (the
    // latency, the headroom and the device's own latency, or with exact times the lead):
    // a step that must be heard at a given moment is sent this much earlier. Any thread
    // (the stream's configuration changes on another).
    int64_t LatencyNs() const { return latencyNs_.load(std::memory_order_relaxed); }
    // Any thread: how long after its time a command sounds, in nanoseconds, as of the
    // last callback: the latency plus the lead the mapping keeps over the stream (its
    // headroom, and what it has not come back by yet), or the output's fixed lead. A
    // step that must be heard at a given moment (a Link beat, a MIDI note) is due this
    // much earlier.
    int64_t soundDelayNs() const { return soundDelayNs_.load(std::memory_order_relaxed); }
    // Any thread: how long after its time the first step of a run begun now is rendered,
    // as of the last callback. With exact times the lead: what the latest run's grid has
    // crept (see sendAheadNs) is that run's, and a new run begins without it. Otherwise
    // the sound delay.
    int64_t runDelayNs() const { return runDelayNs_.load(std::memory_order_relaxed); }
    // Any thread: how much earlier than their time the steps of the latest run must be
    // sent, as of the last callback. A device whose clock runs faster than the monotonic
    // clock consumes the run's grid, which is counted in its own frames, ahead of the
    // moments the step clock sends the steps at; by as much as it has crept ahead since
    // the run's origin was placed (at most kMaxSendAheadNs) the steps go earlier, so
    // that they never arrive after their frame. Negative when the run is behind its
    // moments (it started late, its step came late, the lead came down): its steps go
    // that much later, still in time, so that an edit made the lead before a step is
    // heard at it.
    int64_t sendAheadNs() const { return sendAheadNs_.load(std::memory_order_relaxed); }
    static constexpr int64_t kMaxSendAheadNs = 1'000'000'000;
    // Any thread, with exact times: the moment (on the producers' clock) whose frame is
    // the first one not rendered yet, as of the last callback: a run whose origin is
    // there starts as soon as the output can play it. INT64_MAX before the first callback
    // and without exact times (the mapping from callbacks does not say it precisely).
    int64_t nextFrameNs() const { return nextFrameNs_.load(std::memory_order_relaxed); }
    // Any thread: the earliest moment (on the producers' clock) a run starting at nowNs
    // can be placed on: the next frame not rendered yet, or, while nothing sounds and the
    // output can write its queue again (see Rewind), the first frame it can still write
    // then. INT64_MAX as for nextFrameNs.
    int64_t EarliestNs(int64_t nowNs) const;

    // The final stage of every mix, live and rendered: samples up to -1 dBFS pass
    // unchanged, louder ones bend smoothly towards full scale and never reach beyond it.
    static void Limit(float* samples, size_t count);
    // Any thread: commands that arrived after their frame had been rendered.
    uint64_t lateCommands() const { return late_.load(std::memory_order_relaxed); }
    // Any thread: how often the stream got ahead of the time-to-frame mapping, which then
    // moved forward.
    uint64_t mappingMoves() const { return moves_.load(std::memory_order_relaxed); }
    // Any thread: how often the output wrote its queue again (see Rewind).
    uint64_t rewinds() const { return rewinds_.load(std::memory_order_relaxed); }
    // Any thread: frames rendered so far.
    int64_t framesRendered() const { return renderedOut_.load(std::memory_order_relaxed); }

private:
    struct Voice {
        const SoundData* data = nullptr;
        uint16_t sound = 0;
        // The playback frequency, kept to set the speed again for a new output rate.
        uint32_t hz = 44100;
        // Position and step per output frame in frames, fixed point 32.32.
        uint64_t position = 0;
        uint64_t step = uint64_t{1} << 32;
        float gainLeft = 1.0f;
        float gainRight = 1.0f;
        int32_t volume = 0;
        int32_t pan = 0;
        bool playing = false;
    };
    struct Sound {
        const SoundData* data = nullptr;
        uint32_t generation = 0;
    };
    struct Timed {
        int64_t frame;
        MixerCommand command;
    };
    // The output frame of a run's origin.
    struct RunOrigin {
        uint32_t run = 0;
        int64_t frame = 0;
    };
    static constexpr int kRunOrigins = 4;
    // The frame of a grid command whose run has no origin yet: kept at the end.
    static constexpr int64_t kUnplaced = INT64_MAX;

    void UpdateAnchor(int64_t nowNs);
    void MappingMoved(int64_t nowNs);
    // Publishes LatencyNs for the present configuration.
    void StoreLatency();
    // Audio thread: publishes sendAheadNs from where the stream is now.
    void UpdateSendAhead();
    bool Settled(int64_t nowNs) const;
    int64_t FrameOf(int64_t whenNs) const;
    // Audio thread: moves every run's grid, and the waiting commands placed on one, by
    // `gridFrames`, and the waiting commands placed by time by `timeFrames` (see
    // Config::keepTimeOverGaps).
    void ShiftPlaced(int64_t gridFrames, int64_t timeFrames);
    int64_t PlaceOnGrid(const GridTime& at, int64_t blockStart, bool settled);
    void Drain(Lane lane, int64_t blockStart, bool settled, size_t most = SIZE_MAX);
    void Schedule(const MixerCommand& command, int64_t blockStart, bool settled);
    void Insert(int64_t frame, const MixerCommand& command);
    void PlaceWaiting(int64_t blockStart);
    void EndRun(uint32_t run);
    // Audio thread: the command lies on the grid of a run that has ended.
    bool OfEndedRun(const MixerCommand& command) const;
    void Dropped(const MixerCommand& command);
    void Apply(const MixerCommand& command);
    void SetGains(Voice& v);
    void SetSpeed(Voice& v) const;
    void StartVoice(int voice);
    void StopVoice(int voice);
    void MixVoices(float* out, int from, int to);
    // Mixes one voice; false when it reached its end. wide: with the eight-frame kernels.
    static bool MixVoice(Voice& v, float* out, int frames, bool wide);

    Config config_;
    // The processor has AVX2 and FMA: eight frames at a time.
    bool wide_ = false;
    std::array<SpscQueue<MixerCommand, kLaneCapacity>, kLaneCount> lanes_;
    std::array<std::atomic<size_t>, kLaneCount> drained_{};
    std::array<std::atomic<uint8_t>, kMaxVoices> sounding_{};
    std::array<std::atomic<int32_t>, kMaxVoices> pendingTriggers_{};
    std::atomic<uint64_t> late_{0};
    std::atomic<uint64_t> moves_{0};
    std::atomic<uint64_t> rewinds_{0};
    std::atomic<size_t> wholeSteps_{0};
    std::atomic<int64_t> renderedOut_{0};
    std::atomic<int64_t> latencyNs_{0};
    std::atomic<int64_t> soundDelayNs_{0};
    std::atomic<int64_t> runDelayNs_{0};
    std::atomic<int64_t> sendAheadNs_{0};
    std::atomic<int64_t> nextFrameNs_{INT64_MAX};
    std::atomic<int64_t> rewriteNs_{0};
    // The moment (producers' clock) of quietFrom_ while nothing sounds or waits for its
    // frame; INT64_MAX otherwise.
    std::atomic<int64_t> quietFromNs_{INT64_MAX};
    std::atomic<const RunEnds*> followedEnds_{nullptr};

    // Audio thread only from here on.
    std::array<Voice, kMaxVoices> voices_{};
    std::array<Sound, kMaxSounds> sounds_{};
    std::array<uint16_t, kMaxVoices> active_{};
    int activeCount_ = 0;
    // Waiting commands, by frame; equal frames in order of arrival.
    std::array<Timed, kMaxPending> pending_{};
    int pendingCount_ = 0;
    std::array<RunOrigin, kRunOrigins> runs_{};
    int nextRun_ = 0;
    // The voice of the step started last (see MixerCommand::StepRole).
    uint16_t lastStarted_ = 0;
    int64_t rendered_ = 0;
    // The first frame after the last one in which something sounded.
    int64_t quietFrom_ = 0;
    bool anchored_ = false;
    int64_t anchorNs_ = 0;
    double anchorFrame_ = 0.0;
    // When the mapping last moved forward or jumped.
    int64_t movedNs_ = 0;
    // With exact times: the moment that streamAt_ counts from.
    int64_t exactSinceNs_ = 0;
    // Frames skipped since the last block (FramesSkipped).
    int64_t skippedFrames_ = 0;
    // The time given with the block being rendered is only a guess (TimeUnknown).
    bool timeUnknown_ = false;
    // The stream's furthest frame (as implied at the anchor time) over the current
    // window of callbacks, and the frames the mapping still means to come back by.
    double windowMax_ = 0.0;
    int windowCallbacks_ = 0;
    int framesToLower_ = 0;
    int callbacksSinceNudge_ = 0;
    // The stream's frame at the anchor time, as the least delayed recent callback implies
    // it (see soundDelayNs).
    double streamAt_ = 0.0;
    // streamAt_ when the latest run's origin was placed, plus the frames that run has
    // been moved on by steps that came late; NaN before any run.
    double runStreamAt_ = std::numeric_limits<double>::quiet_NaN();
};

} // namespace mb
