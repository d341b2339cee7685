#include "devices/PulseStream.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <pulse/pulseaudio.h>

#include "platform/Clocks.h"
#include "platform/Doorbell.h"

namespace mb {

namespace {

constexpr unsigned kChannels = 2;
constexpr int64_t kFrameBytes = kChannels * sizeof(float);
// What the stream keeps queued on the server: two requests, and no less than
// kMinQueuedNs. A request is at least one block and no shorter than kMinRequestNs: the
// server cannot be asked for data much more often than that without underruns on a busy
// machine (measured with two busy loops on both cores of a two-core machine). The queue
// has to outlast the longest the server or the machine stands still: on a two-core virtual
// machine, with a null sink rendering 20 ms at a time, queues of 12, 20 and 30 ms each
// underran a few times a minute (both copies of the program at the same moment, so the
// server's, not theirs), 45 ms never in the same runs. An underrun is heard, and it moves
// the stream's frames for good, so two copies that played in phase no longer do.
constexpr unsigned kQueuedRequests = 2;
constexpr int64_t kMinQueuedNs = 45000000;
constexpr int64_t kMinRequestNs = 2500000;
constexpr int kCallbackPriority = 70;
// A new report is asked for when the last one is older than this (the second while the
// stream is quiet, see ReportOften); right after the mapping starts, with every block, so
// that the earliest reports are soon found. A report costs the callback thread a wake-up;
// while sound flows its runs are placed already, and a report every 50 ms keeps the mapping.
constexpr int64_t kReportEveryNs = 50000000;
constexpr int64_t kQuietReportEveryNs = 5000000;
constexpr int64_t kEagerReportsNs = 300000000;
// A report this far from the mapping means the sound went on from elsewhere (an
// underrun, a new latency of the sink): the mapping starts again from it.
constexpr int64_t kJumpNs = 5000000;
// A frame written again is written at least this long before the sink takes it: the
// time for the write to reach the server on a busy machine. (Too late, and the start of
// what is written again is lost: a step's attack is cut.)
constexpr int64_t kRewriteMarginNs = 6000000;
// The most a device's clock is believed to run fast or slow.
constexpr double kMaxDrift = 0.001;
// A slope measured over this many seconds is not bettered by a longer one.
constexpr int64_t kSlopeSeconds = 10;

int64_t WallNs() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

} // namespace

PulseStream::~PulseStream() {
    Close();
}

void PulseStream::OnStateChange(PulseStream* self) {
    const bool contextBad =
        self->context_ != nullptr && !PA_CONTEXT_IS_GOOD(pa_context_get_state(self->context_));
    const bool streamBad =
        self->stream_ != nullptr && !PA_STREAM_IS_GOOD(pa_stream_get_state(self->stream_));
    if (contextBad || streamBad)
        self->failed_.store(true, std::memory_order_release);
    pa_threaded_mainloop_signal(self->loop_, 0);
}

bool PulseStream::WaitFor(bool (*done)(PulseStream*)) {
    while (!done(this) && !failed())
        pa_threaded_mainloop_wait(loop_);
    return !failed();
}

bool PulseStream::Open(const std::string& sink,
                       uint32_t rate,
                       unsigned bufferFrames,
                       Callback callback,
                       Rewrite rewrite,
                       Doorbell* wake,
                       void* user,
                       std::string* error) {
    callback_ = callback;
    rewrite_ = rewrite;
    wake_ = wake;
    user_ = user;
    rate_ = rate;
    bufferFrames_ = bufferFrames;
    block_.assign(static_cast<size_t>(kChannels) * bufferFrames, 0.0f);
    nsPerFrame_ = 1e9 / rate;
    const auto framesIn = [rate](int64_t ns) {
        return static_cast<unsigned>((ns * rate + 999999999) / 1000000000);
    };
    // Whole blocks per request.
    const unsigned requestFrames =
        (std::max(bufferFrames, framesIn(kMinRequestNs)) + bufferFrames - 1) / bufferFrames *
        bufferFrames;
    const unsigned queuedFrames = std::max(requestFrames * kQueuedRequests, framesIn(kMinQueuedNs));
    queuedNs_.store(static_cast<int64_t>(queuedFrames) * 1000000000 / rate,
                    std::memory_order_relaxed);
    loop_ = pa_threaded_mainloop_new();
    pa_threaded_mainloop_set_name(loop_, "mb-pulse");
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Marrowbeat");
    pa_context_set_state_callback(
        context_, [](pa_context*, void* u) { OnStateChange(static_cast<PulseStream*>(u)); }, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0) {
        *error = "no sound server answers";
        return false;
    }
    pa_threaded_mainloop_lock(loop_);
    if (!WaitFor(
            [](PulseStream* s) { return pa_context_get_state(s->context_) == PA_CONTEXT_READY; })) {
        pa_threaded_mainloop_unlock(loop_);
        *error = "no sound server answers";
        return false;
    }
    const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, rate, kChannels};
    stream_ = pa_stream_new(context_, "Marrowbeat", &format, nullptr);
    pa_stream_set_state_callback(
        stream_, [](pa_stream*, void* u) { OnStateChange(static_cast<PulseStream*>(u)); }, this);
    pa_stream_set_write_callback(stream_, &PulseStream::OnWrite, this);
    pa_stream_set_underflow_callback(
        stream_, [](pa_stream*, void*) {}, this);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(queuedFrames * kFrameBytes);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(requestFrames * kFrameBytes);
    attr.fragsize = static_cast<uint32_t>(-1);
    // The server asks for a request's worth as the sink takes it, and keeps the sink's
    // own latency at about one request. (Left to set the sink's latency from the whole
    // queue, a server gives a null sink a fraction of a millisecond, at which its clock
    // runs a thousand ppm and more off and its timing reports no longer agree between
    // programs to a sample.)
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_EARLY_REQUESTS);
    const bool connected =
        pa_stream_connect_playback(stream_, sink.empty() ? nullptr : sink.c_str(), &attr, flags,
                                   nullptr, nullptr) == 0 &&
        WaitFor([](PulseStream* s) { return pa_stream_get_state(s->stream_) == PA_STREAM_READY; });
    if (connected) {
        // What the server granted: the guess of when a frame is heard before it reports.
        if (const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream_);
            granted != nullptr && granted->tlength != static_cast<uint32_t>(-1))
            queuedNs_.store(static_cast<int64_t>(granted->tlength / kFrameBytes) * 1000000000 /
                                rate,
                            std::memory_order_relaxed);
        if (wake_ != nullptr) {
            pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
            wakeEvent_ = api->io_new(
                api, wake_->fd(), PA_IO_EVENT_INPUT,
                [](pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t, void* u) {
                    auto* self = static_cast<PulseStream*>(u);
                    self->wake_->Answer();
                    self->WriteAgain();
                },
                this);
        }
    }
    pa_threaded_mainloop_unlock(loop_);
    if (!connected)
        *error = sink.empty() ? "the sound server takes no stream" : "no sink named " + sink;
    return connected;
}

void PulseStream::Cork(bool cork) {
    if (stream_ == nullptr)
        return;
    pa_threaded_mainloop_lock(loop_);
    corked_ = cork;
    if (!cork) {
        // What the server said before the stream stood still no longer holds: the frames
        // queued then are heard only now. The mapping starts again from a new report.
        mapped_ = false;
        freshAfterNs_ = WallNs();
    }
    if (!failed()) {
        pa_operation* op = pa_stream_cork(
            stream_, cork ? 1 : 0,
            [](pa_stream*, int, void* u) {
                pa_threaded_mainloop_signal(static_cast<PulseStream*>(u)->loop_, 0);
            },
            this);
        while (op != nullptr && pa_operation_get_state(op) == PA_OPERATION_RUNNING && !failed())
            pa_threaded_mainloop_wait(loop_);
        if (op != nullptr)
            pa_operation_unref(op);
        // Going on: the first report comes as soon as the server can give it, and with it
        // what waits is written over the queue of silence from before.
        if (!cork) {
            AskForReport();
            rewriteWanted_ = true;
        }
    }
    pa_threaded_mainloop_unlock(loop_);
}

void PulseStream::Start() {
    Cork(false);
}

void PulseStream::Stop() {
    Cork(true);
}

void PulseStream::Close() {
    if (loop_ == nullptr)
        return;
    pa_threaded_mainloop_lock(loop_);
    if (wakeEvent_ != nullptr) {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        api->io_free(wakeEvent_);
        wakeEvent_ = nullptr;
    }
    if (stream_ != nullptr) {
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

bool PulseStream::Reported(int64_t index, int64_t* playNs, int64_t* stamp, int64_t* sinkNs) const {
    const pa_timing_info* info = pa_stream_get_timing_info(stream_);
    if (info == nullptr || info->read_index_corrupt || info->write_index_corrupt ||
        info->playing == 0)
        return false;
    *stamp = static_cast<int64_t>(info->timestamp.tv_sec) * 1000000000 +
             static_cast<int64_t>(info->timestamp.tv_usec) * 1000;
    if (*stamp < freshAfterNs_)
        return false;
    // The sample at the read index was taken by the sink at the report's moment (on the
    // wall clock) and is heard the sink's latency later. The wall clock is read first: a
    // pause between the two readings makes the report late, never early (the mapping
    // follows the earliest reports).
    const int64_t wall = WallNs();
    const int64_t taken = MonotonicNs() - (wall - *stamp);
    *sinkNs = static_cast<int64_t>(info->sink_usec) * 1000;
    const int64_t heard = taken + *sinkNs;
    *playNs = heard + (index - info->read_index) / kFrameBytes * 1000000000 / rate_;
    return true;
}

void PulseStream::AskForReport() {
    if (updating_)
        return;
    pa_operation* op = pa_stream_update_timing_info(
        stream_,
        [](pa_stream*, int, void* u) {
            auto* self = static_cast<PulseStream*>(u);
            self->updating_ = false;
            if (self->rewriteWanted_)
                self->WriteAgain();
        },
        this);
    updating_ = op != nullptr;
    if (op != nullptr)
        pa_operation_unref(op);
}

int64_t PulseStream::PlayTime(int64_t index, bool* known) {
    const int64_t predicted =
        mapPlayNs_ +
        std::llround(static_cast<double>((index - mapIndex_) / kFrameBytes) * nsPerFrame_);
    int64_t reported = 0;
    int64_t stamp = 0;
    int64_t sinkNs = 0;
    const bool have = Reported(index, &reported, &stamp, &sinkNs);
    // The sink renders ahead in blocks of its own, so its latency at the moment of a
    // report may be far below what it takes ahead a moment later: the longest seen counts.
    if (have)
        sinkNs_ = std::max(sinkNs_, sinkNs);
    const bool eager = !mapped_ || MonotonicNs() - mappedAtNs_ < kEagerReportsNs;
    if (!have || eager || WallNs() - stamp > (often_ ? kQuietReportEveryNs : kReportEveryNs))
        AskForReport();
    *known = have || mapped_;
    if (!have)
        return mapped_ ? predicted : MonotonicNs() + queuedNs_.load(std::memory_order_relaxed);
    if (stamp == lastStamp_)
        return predicted;
    lastStamp_ = stamp;
    const int64_t error = reported - predicted;
    if (!mapped_ || error > kJumpNs || error < -kJumpNs) {
        mapped_ = true;
        mappedAtNs_ = MonotonicNs();
        errorCount_ = 0;
        mapIndex_ = index;
        mapPlayNs_ = reported;
        based_ = false;
        return reported;
    }
    // The server stamps a report after its sink has answered, so a report is on time or a
    // little late: the mapping follows the earliest of the recent reports. A real change
    // (the sink's latency) shows in all of them and is followed once they have all come.
    errors_[static_cast<size_t>(errorCount_++ % kWindowReports)] = error;
    int64_t earliest = error;
    for (size_t i = 0; i < kWindowReports && i < errorCount_; ++i)
        earliest = std::min(earliest, errors_[i]);
    for (size_t i = 0; i < kWindowReports && i < errorCount_; ++i)
        errors_[i] -= earliest;
    mapIndex_ = index;
    mapPlayNs_ = predicted + earliest;
    // The device's clock against the monotonic clock: the mapping's slope since a point
    // taken once the first reports have been weighed. A few hundred ppm are usual (a
    // sound card's crystal, a server's timer); a millisecond in a second would be a fault.
    if (!based_ && MonotonicNs() - mappedAtNs_ >= kEagerReportsNs) {
        based_ = true;
        baseIndex_ = index;
        basePlayNs_ = mapPlayNs_;
    } else if (based_) {
        // A longer measure is a better one: the slope of a measure cut short by a jump
        // stays until the new one is as long (or long enough).
        const int64_t frames = (index - baseIndex_) / kFrameBytes;
        const auto second = static_cast<int64_t>(rate_);
        if (frames >= second && frames >= std::min(slopeFrames_, kSlopeSeconds * second)) {
            const double nominal = 1e9 / rate_;
            const double slope =
                static_cast<double>(mapPlayNs_ - basePlayNs_) / static_cast<double>(frames);
            nsPerFrame_ =
                std::clamp(slope, nominal * (1.0 - kMaxDrift), nominal * (1.0 + kMaxDrift));
            slopeFrames_ = frames;
        }
    }
    return mapPlayNs_;
}

void PulseStream::OnWrite(pa_stream* /*stream*/, size_t bytes, void* user) {
    static_cast<PulseStream*>(user)->Fill(bytes);
}

void PulseStream::Fill(size_t bytes) {
    if (!raised_) {
        TryRealtimePriority(kCallbackPriority);
        raised_ = true;
    }
    WriteAgain();
    Write(static_cast<int64_t>(bytes) / kFrameBytes, 0);
}

void PulseStream::Write(int64_t frames, int64_t back) {
    int64_t offset = -back;
    while (frames > 0) {
        const auto n = static_cast<unsigned>(std::min<int64_t>(frames, bufferFrames_));
        if (corked_) {
            for (float& s : block_)
                s = 0.0f;
        } else {
            bool known = false;
            const int64_t playNs = PlayTime(written_, &known);
            callback_(block_.data(), n, playNs, known, user_);
        }
        pa_stream_write(stream_, block_.data(), n * kFrameBytes, nullptr, offset, PA_SEEK_RELATIVE);
        offset = 0;
        written_ += n * kFrameBytes;
        frames -= n;
    }
}

int64_t PulseStream::rewriteNs() const {
    return sinkNs_ < 0 ? 0 : sinkNs_ + kRewriteMarginNs;
}

void PulseStream::WriteAgain() {
    if (corked_ || rewrite_ == nullptr || stream_ == nullptr || failed())
        return;
    rewriteWanted_ = false;
    // Until the server has said when the queue is heard, nothing is written over it: the
    // next report tries again (asked for by whoever needs it, not from here).
    if (!mapped_) {
        int64_t playNs = 0;
        int64_t stamp = 0;
        int64_t sinkNs = 0;
        if (!Reported(written_, &playNs, &stamp, &sinkNs)) {
            rewriteWanted_ = true;
            return;
        }
    }
    bool known = false;
    const int64_t endNs = PlayTime(written_, &known);
    if (!known || sinkNs_ < 0)
        return;
    // What the sink has taken already, or takes before the write can reach the server,
    // stays as it is.
    const int64_t soonestNs = MonotonicNs() + sinkNs_ + kRewriteMarginNs;
    const int64_t most = std::min((endNs - soonestNs) * static_cast<int64_t>(rate_) / 1000000000,
                                  written_ / kFrameBytes);
    if (most <= 0)
        return;
    const int64_t frames = std::min(rewrite_(most, endNs, user_), most);
    if (frames <= 0)
        return;
    written_ -= frames * kFrameBytes;
    Write(frames, frames * kFrameBytes);
}

} // namespace mb
