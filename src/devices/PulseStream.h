#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct pa_context;
struct pa_io_event;
struct pa_stream;
struct pa_threaded_mainloop;

namespace mb {

class Doorbell;

// A playback stream on a PulseAudio (or PipeWire) server through libpulse's own
// asynchronous interface, which says when each sample is heard: with every block the
// callback fills it gets the CLOCK_MONOTONIC time at which the block's first frame will
// be played. That time comes from the server's reports of its read position and latency,
// asked for every 50 ms, every 5 ms while nothing sounds (with every block for a moment
// after the stream starts or goes on). A report is never early but may come late (the
// server stamps it after its sink has answered), so the mapping follows the earliest of the recent reports; and it measures
// how fast the sink's clock runs against the monotonic one (a few hundred ppm are usual),
// so that the earliest report still counts a second later. Streams of several programs on
// one sink therefore agree on when a moment is heard to within a sample.
//
// What is queued but not heard yet can be written again: when the owner's doorbell rings
// (or the server asks for more), the stream asks how many of the frames it may still write
// over (those heard later than the sink's own latency and a margin from now) the owner
// wants to give again, and writes them, from the callback, over the queue. A start from
// silence is so heard within a few milliseconds, however long the queue.
//
// Threads: Open, Start, Stop and Close on one thread at a time (never from inside the
// callbacks); the callbacks run on libpulse's main-loop thread, raised to real-time
// priority when the system grants it, and must neither block nor allocate.
class PulseStream {
public:
    // Fills `frames` interleaved stereo float frames, heard from playNs on; a guess while
    // `known` is false (the server has not reported since the stream began or went on).
    using Callback = void (*)(float* out, unsigned frames, int64_t playNs, bool known, void* user);
    // Of the last `most` frames written, how many the owner gives again (0: none); the
    // next frame to write is heard from playNs on. The callback is then called for them,
    // from the first of them on.
    using Rewrite = int64_t (*)(int64_t most, int64_t playNs, void* user);

    PulseStream() = default;
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;
    ~PulseStream();

    // Connects to the server and opens a stream on the sink named (empty: the default
    // sink) at `rate`, asking for `bufferFrames` at a time. Silent until Start. `wake`
    // (which outlives the stream) rings when the owner may want to write again. False,
    // with the reason in *error, when the server or the sink does not take it.
    bool Open(const std::string& sink,
              uint32_t rate,
              unsigned bufferFrames,
              Callback callback,
              Rewrite rewrite,
              Doorbell* wake,
              void* user,
              std::string* error);
    void Start();
    // Once Stop has returned the callback is not called until the next Start.
    void Stop();
    void Close();

    // The connection or the stream failed (the server went away). Any thread.
    bool failed() const { return failed_.load(std::memory_order_acquire); }
    // How long the queue the server granted takes to play, the sink's latency included:
    // about how long after it is written a frame is heard. Any thread, after Open.
    int64_t queuedNs() const { return queuedNs_.load(std::memory_order_relaxed); }
    // Inside the callback: how long after now a frame written again now is heard at the
    // soonest (the sink's longest latency and a margin); 0 before the server has reported.
    int64_t rewriteNs() const;
    // Inside the callback: nothing has sounded for a while (a start may come at any
    // moment). Where a run's first frame lies is read from the reports, and copies agree
    // on a common start only as closely as their readings agree: while quiet the stream
    // asks for reports five times as often, so that the earliest of them comes nearer the
    // server's own delay.
    void ReportOften(bool often) { often_ = often; }

private:
    static void OnWrite(pa_stream* stream, size_t bytes, void* user);
    static void OnStateChange(PulseStream* self);
    void Fill(size_t bytes);
    // Renders `frames` from the write index on and writes them, the first block `back`
    // bytes before it.
    void Write(int64_t frames, int64_t back);
    // Asks the owner what it gives again of the frames still queued, and writes it.
    void WriteAgain();
    // When the sample at write index `index` (bytes) is heard, from the server's latest
    // report; false when there is none yet. *stamp tells one report from the next;
    // *sinkNs is the sink's latency.
    bool Reported(int64_t index, int64_t* playNs, int64_t* stamp, int64_t* sinkNs) const;
    int64_t PlayTime(int64_t index, bool* known);
    // Asks the server for a new report, unless one is on its way. Under the loop's lock.
    void AskForReport();
    void Cork(bool cork);
    bool WaitFor(bool (*done)(PulseStream*));

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    Callback callback_ = nullptr;
    Rewrite rewrite_ = nullptr;
    Doorbell* wake_ = nullptr;
    pa_io_event* wakeEvent_ = nullptr;
    void* user_ = nullptr;
    uint32_t rate_ = 44100;
    unsigned bufferFrames_ = 256;
    std::atomic<bool> failed_{false};
    // How long the granted queue takes to play: the guess before the first report. Set
    // by Open only.
    std::atomic<int64_t> queuedNs_{0};
    // Main-loop thread (or under its lock) from here on.
    bool corked_ = true;
    bool raised_ = false;
    std::vector<float> block_;
    int64_t written_ = 0;
    bool mapped_ = false;
    int64_t mapIndex_ = 0;
    int64_t mapPlayNs_ = 0;
    int64_t mappedAtNs_ = 0;
    // How long a frame plays on the monotonic clock, and the point it is measured from.
    double nsPerFrame_ = 0.0;
    bool based_ = false;
    int64_t baseIndex_ = 0;
    int64_t basePlayNs_ = 0;
    // The length of the measure nsPerFrame_ comes from (0: the nominal rate).
    int64_t slopeFrames_ = 0;
    // The last reports' distances from the mapping (a third of a second to three seconds
    // of them), for the earliest to come near the server's own delay, on which copies
    // must agree.
    static constexpr size_t kWindowReports = 64;
    std::array<int64_t, kWindowReports> errors_{};
    size_t errorCount_ = 0;
    int64_t lastStamp_ = 0;
    // The sink's longest latency in the reports so far (-1: none yet).
    int64_t sinkNs_ = -1;
    // A write again waits for the time to be known.
    bool rewriteWanted_ = false;
    // Reports taken before this moment (wall clock) are not believed.
    int64_t freshAfterNs_ = 0;
    bool updating_ = false;
    bool often_ = false;
};

} // namespace mb
