#include "devices/JackTransport.h"

#include <algorithm>
#include <cmath>

#include "devices/JackClock.h"
#include "devices/JackMidiOutput.h"

namespace mb {

namespace {

// The client's name beside the program's MIDI client.
constexpr const char* kClientName = "Marrowbeat transport";
constexpr double kSecondsPerMinute = 60.0;
// The master's bars: 4/4, in ticks of 1/1920 beat.
constexpr double kMasterBeatsPerBar = 4.0;
constexpr double kMasterBeatType = 4.0;
constexpr double kMasterTicksPerBeat = 1920.0;

int32_t StateOf(jack_transport_state_t state) {
    switch (state) {
    case JackTransportRolling:
    case JackTransportLooping:
        return TransportView::kRolling;
    case JackTransportStarting:
    case JackTransportNetStarting:
        return TransportView::kStarting;
    default:
        return TransportView::kStopped;
    }
}

} // namespace

JackTransport::JackTransport(Hooks hooks) : hooks_(std::move(hooks)) {}

std::unique_ptr<JackTransport> JackTransport::Open(Hooks hooks, double bpm, std::string* error) {
    JackMidiOutput::QuietErrors();
    std::unique_ptr<JackTransport> transport(new JackTransport(std::move(hooks)));
    transport->ownBpm_ = bpm;
    transport->client_ = jack_client_open(kClientName, JackNoStartServer, nullptr);
    if (transport->client_ == nullptr) {
        *error = "no JACK server is running";
        return nullptr;
    }
    jack_client_t* client = transport->client_;
    jack_set_process_callback(client, &JackTransport::Process, transport.get());
    jack_set_sync_callback(client, &JackTransport::Sync, transport.get());
    jack_on_shutdown(client, &JackTransport::ShutDown, transport.get());
    // Conditional: a master already there keeps the bars and beats.
    transport->master_ =
        jack_set_timebase_callback(client, 1, &JackTransport::Timebase, transport.get()) == 0;
    if (jack_activate(client) != 0) {
        *error = "JACK did not start the program's transport client";
        return nullptr;
    }
    return transport;
}

JackTransport::~JackTransport() {
    if (client_ == nullptr)
        return;
    if (!lost_.load(std::memory_order_acquire)) {
        if (master_)
            jack_release_timebase(client_);
        jack_deactivate(client_);
    }
    jack_client_close(client_);
}

void JackTransport::ShutDown(void* user) {
    static_cast<JackTransport*>(user)->lost_.store(true, std::memory_order_release);
}

void JackTransport::SetOwnTempo(double bpm) {
    if (bpm > 0.0 && std::isfinite(bpm))
        ownBpm_ = bpm;
}

int JackTransport::Process(uint32_t frames, void* user) {
    auto* self = static_cast<JackTransport*>(user);
    jack_position_t pos{};
    const jack_transport_state_t state = jack_transport_query(self->client_, &pos);
    const uint32_t time32 = jack_last_frame_time(self->client_);
    if (!self->counting_) {
        self->frameTime_ = time32;
        self->counting_ = true;
    } else {
        self->frameTime_ += static_cast<uint32_t>(time32 - self->frameTime32_);
    }
    self->frameTime32_ = time32;

    TransportView view;
    view.state = StateOf(state);
    view.frame = pos.frame;
    view.frameTime = self->frameTime_;
    view.rate = pos.frame_rate > 0 ? pos.frame_rate : jack_get_sample_rate(self->client_);
    view.period = frames;
    if ((pos.valid & JackPositionBBT) != 0 && pos.beats_per_minute > 0.0 &&
        pos.beat_type > 0.0F && pos.ticks_per_beat > 0.0) {
        view.qpm = QpmOfBpm(pos.beats_per_minute, pos.beat_type);
        const double quarters = QuartersOfBbt(pos.bar, pos.beat, pos.tick, pos.ticks_per_beat,
                                              pos.beats_per_bar, pos.beat_type);
        const double tickQuarters = 4.0 / (pos.ticks_per_beat * pos.beat_type);
        view.quarters =
            self->smoother_.Take(pos.frame, quarters, view.qpm, view.rate, 2.0 * tickQuarters);
    } else {
        // No bars and beats: the program's tempo from frame 0.
        self->smoother_.Reset();
        view.qpm = self->ownBpm_;
        view.quarters = static_cast<double>(pos.frame) * view.qpm / (kSecondsPerMinute * view.rate);
    }
    self->views_.Publish(view);
    return 0;
}

int JackTransport::Sync(jack_transport_state_t state, jack_position_t* position, void* user) {
    auto* self = static_cast<JackTransport*>(user);
    if (StateOf(state) != TransportView::kStarting)
        return 1;
    // Ready once the cycle before the planned one runs (the transport rolls with the next).
    if (self->planId_.load(std::memory_order_acquire) == 0 ||
        self->planFrame_.load() != static_cast<int64_t>(position->frame))
        return 0;
    const uint32_t now32 = jack_last_frame_time(self->client_);
    const int64_t next = self->frameTime_ + static_cast<uint32_t>(now32 - self->frameTime32_) +
                         jack_get_buffer_size(self->client_);
    return next >= self->rollFrame_.load() ? 1 : 0;
}

void JackTransport::Timebase(jack_transport_state_t /*state*/,
                             jack_nframes_t /*frames*/,
                             jack_position_t* pos,
                             int /*newPosition*/,
                             void* user) {
    auto* self = static_cast<JackTransport*>(user);
    const double rate = pos->frame_rate > 0 ? pos->frame_rate : 48000.0;
    const double bpm = self->ownBpm_;
    const auto frame = static_cast<int64_t>(pos->frame);
    // A tempo change bends the timeline at the present frame; before the first beat it
    // (or a locate back before the bend) starts again from frame 0.
    if (bpm != self->masterBpm_) {
        self->masterBeats_ = self->masterBpm_ > 0.0
                                 ? self->masterBeats_ + static_cast<double>(frame - self->masterFrame_) *
                                                            self->masterBpm_ / (kSecondsPerMinute * rate)
                                 : 0.0;
        self->masterFrame_ = self->masterBpm_ > 0.0 ? frame : 0;
        self->masterBpm_ = bpm;
    }
    double beats =
        self->masterBeats_ + static_cast<double>(frame - self->masterFrame_) * bpm / (kSecondsPerMinute * rate);
    if (beats < 0.0) {
        self->masterBeats_ = 0.0;
        self->masterFrame_ = 0;
        beats = static_cast<double>(frame) * bpm / (kSecondsPerMinute * rate);
    }
    const double bar = std::floor(beats / kMasterBeatsPerBar);
    const double inBar = beats - bar * kMasterBeatsPerBar;
    const double beat = std::floor(inBar);
    pos->valid = JackPositionBBT;
    pos->bar = static_cast<int32_t>(bar) + 1;
    pos->beat = static_cast<int32_t>(beat) + 1;
    pos->tick = static_cast<int32_t>((inBar - beat) * kMasterTicksPerBeat);
    pos->bar_start_tick = bar * kMasterBeatsPerBar * kMasterTicksPerBeat;
    pos->beats_per_bar = static_cast<float>(kMasterBeatsPerBar);
    pos->beat_type = static_cast<float>(kMasterBeatType);
    pos->ticks_per_beat = kMasterTicksPerBeat;
    pos->beats_per_minute = bpm;
}

int64_t JackTransport::NsOfFrameTime(int64_t frameTime, const TransportView& view) const {
    const int64_t toMonotonic = JackToMonotonicNs();
    // The server's time of the view's cycle, then the frames from there at the nominal
    // rate (JACK's own times come in whole microseconds).
    const auto cycleUs = jack_frames_to_time(client_, static_cast<jack_nframes_t>(view.frameTime));
    return static_cast<int64_t>(cycleUs) * 1000 + toMonotonic +
           (frameTime - view.frameTime) * 1000000000 / std::max<uint32_t>(view.rate, 1);
}

int64_t JackTransport::FrameTimeOfNs(int64_t ns, const TransportView& view) const {
    const int64_t viewNs = NsOfFrameTime(view.frameTime, view);
    const double frames = static_cast<double>(ns - viewNs) * view.rate / 1e9;
    return view.frameTime + static_cast<int64_t>(std::ceil(frames));
}

int64_t JackTransport::DelayNs(const TransportView& view) const {
    const int64_t periodNs =
        static_cast<int64_t>(view.period) * 1000000000 / std::max<uint32_t>(view.rate, 1);
    const int64_t sound = hooks_.runDelayNs ? hooks_.runDelayNs() : 0;
    // At least a period and what the step clock may be late by, as for MIDI through JACK.
    return std::max(sound, periodNs + JackMidiOutput::kAllowanceNs);
}

int64_t JackTransport::BeginRun(int64_t earliestNs, bool /*announce*/) {
    const TransportView view = Read();
    const int64_t delay = DelayNs(view);
    const int64_t reach = FrameTimeOfNs(earliestNs + delay + kStartMarginNs, view);
    int64_t step = 0;
    int64_t firstFrameTime = 0;
    if (view.Rolling()) {
        step = view.FirstStepFrom(view.frame + std::max<int64_t>(reach - view.frameTime, 0));
        firstFrameTime = view.frameTime + (view.FrameOfStep(step) - view.frame);
        planId_.store(0, std::memory_order_release);
    } else {
        // The transport rolls on the first cycle in reach; it is held back until then.
        const int64_t period = std::max<uint32_t>(view.period, 1);
        const int64_t cycles = std::max<int64_t>((reach - view.frameTime + period - 1) / period, 2);
        const int64_t roll = view.frameTime + cycles * period;
        step = view.FirstStepFrom(view.frame);
        firstFrameTime = roll + (view.FrameOfStep(step) - view.frame);
        planFrame_ = view.frame;
        rollFrame_ = roll;
        planId_.fetch_add(1, std::memory_order_acq_rel);
        if (view.state == TransportView::kStopped)
            jack_transport_start(client_);
    }
    runStep_ = step;
    runFrameTime_ = firstFrameTime;
    runOffset_ = firstFrameTime - view.FrameOfStep(step);
    planQuarters_ = view.quarters;
    planQpm_ = view.qpm;
    planViewFrame_ = view.frame;
    held_ = false;
    const int64_t origin = NsOfFrameTime(firstFrameTime, view) - delay;
    runOriginNs_ = origin;
    return origin;
}

void JackTransport::EndRun(bool announce) {
    // A transport still rolling after the run stopped here does not start it again.
    held_ = true;
    planId_.store(0, std::memory_order_release);
    if (announce && client_ != nullptr && !lost_.load(std::memory_order_acquire))
        jack_transport_stop(client_);
}

int64_t JackTransport::StepDueNs(int64_t n) {
    TransportView view = Read();
    // Until the transport rolls as planned, the steps lie on the view the run was
    // planned on.
    if (!view.Rolling() || !OnRun(view)) {
        view.quarters = planQuarters_;
        view.qpm = planQpm_;
        view.frame = planViewFrame_;
    }
    const int64_t frameTime = runOffset_ + view.FrameOfStep(runStep_ + n);
    return runOriginNs_ + (frameTime - runFrameTime_) * 1000000000 / std::max<uint32_t>(view.rate, 1);
}

bool JackTransport::OnRun(const TransportView& view) const {
    return view.frameTime - view.frame == runOffset_;
}

JackTransport::News JackTransport::Poll(bool playing) {
    News news;
    if (lost_.load(std::memory_order_acquire)) {
        news.lost = true;
        news.stop = playing;
        return news;
    }
    const TransportView view = Read();
    if (view.qpm != lastQpm_ && view.qpm > 0.0 && std::isfinite(view.qpm)) {
        lastQpm_ = view.qpm;
        news.bpm = view.qpm;
    }
    const bool planned = planId_.load(std::memory_order_acquire) != 0 && planFrame_ == view.frame;
    switch (view.state) {
    case TransportView::kStopped:
        held_ = false;
        news.stop = playing;
        break;
    case TransportView::kStarting:
        // A start or a locate this run was not planned for.
        if (!(playing && planned)) {
            news.stop = playing;
            news.start = true;
        }
        break;
    default:
        // Rolling, but not where the run was placed (it rolled later than planned, or
        // moved without stopping): the run starts again from where it is.
        if (held_ && !playing)
            break;
        // A single look off the run is not enough: the server may report a cycle's
        // position and its frame count a cycle apart.
        offRun_ = playing && !OnRun(view) ? offRun_ + 1 : 0;
        if (!playing || offRun_ >= kOffRunLooks) {
            offRun_ = 0;
            news.stop = playing;
            news.start = true;
        }
        break;
    }
    return news;
}

} // namespace mb
