#include "plugin/HostedPlayer.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "files/PathNames.h"
#include "files/SetupDocument.h"
#include "files/SoundFolder.h"
#include "midi/MidiTarget.h"

namespace mb {

namespace {

// A position further than this from where the transport was running to is a locate
// (a host's beat cut to its tick lies far closer).
constexpr double kJumpQuarters = 1.0 / 64.0;
// Frames a host may skip (a quarter of a second) and still go on rather than locate.
constexpr uint32_t kMaxSkipParts = 4;
// A beat this close above the timeline's is on it (rounding).
constexpr double kOnQuarters = 1e-9;
// A beat that a host cut to its tick lies at most this far behind its frame's own.
constexpr double kTickQuarters = 1.0 / 128.0;
// The setup replaced rings out this long at most.
constexpr int64_t kRingSeconds = 10;

bool Usable(double value) {
    return std::isfinite(value) && value > 0.0;
}

} // namespace

HostedSession::Loaded
HostedSession::Load(const std::string& path, uint32_t rate, HostTimeline& timeline) {
    Loaded out;
    const SetupDocument::ReadOutcome read = SetupDocument::ReadFile(path);
    if (!read.error.empty()) {
        out.error = read.error;
        return out;
    }
    std::unique_ptr<HostedSession> s(new HostedSession);
    read.record.ApplyTo(s->setup_);
    const auto folder = PathNames::ExistingSoundFolder(s->setup_.soundFolder, path);
    if (!folder) {
        out.error = "Cannot find the sound folder '" + s->setup_.soundFolder +
                    "' of the setup file '" + path + "'.";
        return out;
    }
    std::error_code error;
    s->setup_.soundFolder = std::filesystem::absolute(*folder, error).string();
    s->setup_.soundNames = SoundFolder::ListWaveFiles(s->setup_.soundFolder);
    MidiSender::Options midi;
    midi.clock = false;
    midi.keepTimeOverGaps = true;
    s->midi_.Enable(midi);
    OfflineSession::Options options;
    options.rate = rate;
    options.midi = &s->midi_;
    options.timeline = &timeline;
    options.keepTimeOverGaps = true;
    s->offline_ = std::make_unique<OfflineSession>(s->setup_, s->notes_, options);
    s->offline_->engine().LoadAll();
    out.notice = read.notice;
    if (!s->notes_.said.empty())
        out.notice += (out.notice.empty() ? "" : " ") + s->notes_.said;
    out.session = std::move(s);
    return out;
}

HostedSession::~HostedSession() {
    // The engine goes before the sender its steps feed.
    offline_.reset();
}

void HostedSession::TakeMidi(MidiTarget& target, int64_t from, int64_t until) {
    midi_.Take(target, from, until);
}

void HostedSession::SetTempo(double qpm) {
    if (static_cast<float>(setup_.bpm) == static_cast<float>(qpm))
        return;
    setup_.bpm = qpm;
    offline_->sequencer().TempoChanged();
}

HostedPlayer::HostedPlayer(uint32_t rate) : rate_(rate > 0 ? rate : 1), timeline_(rate_) {}

HostedPlayer::~HostedPlayer() = default;

void HostedPlayer::Retire(std::unique_ptr<HostedSession> session) {
    if (!session)
        return;
    for (auto& slot : retired_)
        if (!slot) {
            slot = std::move(session);
            return;
        }
    // Every slot waits for the host's worker: kept rather than freed on the audio thread.
    (void)session.release();
}

std::unique_ptr<HostedSession> HostedPlayer::TakeRetired() {
    for (auto& slot : retired_)
        if (slot)
            return std::move(slot);
    return nullptr;
}

void HostedPlayer::Offer(std::unique_ptr<HostedSession> session) {
    Retire(std::move(pending_));
    pending_ = std::move(session);
}

TransportView HostedPlayer::OwnView(int64_t at, double quarters) const {
    TransportView view;
    view.state = TransportView::kRolling;
    view.frame = at;
    view.frameTime = at;
    view.rate = rate_;
    view.quarters = quarters;
    view.qpm = current_ ? current_->setup().bpm.load() : 120.0;
    return view;
}

void HostedPlayer::Start() {
    if (!current_)
        return;
    current_->SetTempo(timeline_.view().qpm);
    current_->offline().StartOnTimeline();
}

void HostedPlayer::Stop() {
    if (Playing())
        current_->offline().Stop();
}

void HostedPlayer::Position(const HostPosition& p) {
    const TransportView was = timeline_.view();
    const bool wasRolling = begun_ && was.Rolling();
    hostKnown_ = true;
    if (p.hasBeat) {
        beatsPerBar_ = Usable(p.beatsPerBar) ? p.beatsPerBar : 4.0;
        beatUnit_ = Usable(p.beatUnit) ? p.beatUnit : 4.0;
    }
    TransportView v = was;
    v.rate = rate_;
    v.frameTime = frame_;
    // The host's own tempo (the timeline holds it times the speed).
    v.qpm = hostQpm_;
    if (p.hasTempo && Usable(p.bpm))
        v.qpm = QpmOfBpm(p.bpm, beatUnit_);
    else if (!begun_ || !Usable(v.qpm))
        v.qpm = current_ ? current_->setup().bpm.load() : 120.0;
    const bool rolling = p.hasSpeed ? p.speed > 0.0 : wasRolling;
    v.state = rolling ? TransportView::kRolling : TransportView::kStopped;
    // A transport at another speed than 1 moves as far along its own frames.
    const auto elapsed = static_cast<int64_t>(
        std::llround(static_cast<double>(frame_ - was.frameTime) * (wasRolling ? speed_ : 0.0)));
    const int64_t expectedFrame = was.frame + elapsed;
    const double expectedQuarters = wasRolling ? timeline_.QuartersAt(frame_) : was.quarters;
    if (p.hasSpeed)
        speed_ = p.speed;
    v.frame = p.hasFrame ? p.frame : expectedFrame;
    const double perFrame = v.qpm / (60.0 * rate_);
    double quarters = 0.0;
    if (p.hasBeat) {
        quarters = (static_cast<double>(p.bar) * beatsPerBar_ + p.barBeat) * 4.0 / beatUnit_;
        // A host that counts at one tempo from frame 0 gives a beat cut to its tick: the
        // frame's own position is truer then.
        const double byFrame = static_cast<double>(v.frame) * perFrame;
        if (p.hasFrame && byFrame >= quarters && byFrame - quarters < kTickQuarters)
            quarters = byFrame;
    } else if (p.hasFrame) {
        quarters = static_cast<double>(v.frame) * perFrame;
    } else {
        quarters = expectedQuarters;
    }
    // The transport goes on from where this timeline has it (rolling on, stopping, starting
    // again where it stood), its frames maybe run on by cycles this plugin missed: its beat
    // is then no further ahead than the timeline is now, and no further behind than where
    // it stood by as many frames again (a master that missed those cycles too left its beat
    // cycles behind), cut to a tick. The timeline's own position is the true one; anything
    // else is a locate.
    const int64_t skipped = v.frame - expectedFrame;
    const double ours = expectedQuarters + static_cast<double>(skipped) * perFrame;
    const double oldest = expectedQuarters - static_cast<double>(skipped) * perFrame;
    const bool goesOn = begun_ && skipped >= 0 && skipped <= rate_ / kMaxSkipParts &&
                        quarters >= oldest - kTickQuarters && quarters <= ours + kOnQuarters;
    if (goesOn)
        quarters = ours;
    const bool jumped = wasRolling && rolling && !goesOn;
    if (!rolling || !wasRolling || jumped)
        smoother_.Reset();
    v.quarters =
        rolling ? smoother_.Take(v.frame, quarters, v.qpm, rate_, kJumpQuarters) : quarters;
    hostQpm_ = v.qpm;
    // Between the host's words its transport runs on at its speed: on the plugin's frames,
    // its quarters come as at that multiple of its tempo (the timeline counts frames only
    // from the view's own).
    if (rolling)
        v.qpm *= speed_;
    timeline_.Take(v);
    begun_ = true;
    if (!rolling) {
        Stop();
        return;
    }
    if (jumped || !Playing()) {
        Stop();
        Start();
        return;
    }
    if (current_) {
        current_->offline().TimelineMoved();
        current_->SetTempo(v.qpm);
    }
}

int64_t HostedPlayer::NextBarFrame() const {
    const auto perBar = std::max<int64_t>(std::llround(beatsPerBar_ * 4.0 * 4.0 / beatUnit_), 1);
    const int64_t step = timeline_.FirstStepFrom(frame_);
    // Rounded up to a whole bar, for steps before bar 1 too.
    const int64_t rest = ((step % perBar) + perBar) % perBar;
    return timeline_.FrameOfStep(rest == 0 ? step : step + perBar - rest);
}

void HostedPlayer::TakeOver() {
    const double quarters = timeline_.QuartersAt(frame_);
    Stop();
    Retire(std::move(ringing_));
    ringing_ = std::move(current_);
    ringFrames_ = kRingSeconds * rate_;
    current_ = std::move(pending_);
    current_->offline().MoveTo(frame_);
    if (!begun_)
        return;
    if (!hostKnown_)
        timeline_.Take(OwnView(frame_, quarters));
    if (timeline_.view().Rolling())
        Start();
}

void HostedPlayer::Render(float* left, float* right, int frames, MidiTarget& midi) {
    if (pending_ && !Playing())
        TakeOver();
    if (!begun_) {
        // No word from the host: the setup plays by its own tempo from here.
        begun_ = true;
        timeline_.Take(OwnView(frame_, 0.0));
        Start();
    }
    for (int done = 0; done < frames;) {
        int n = std::min(kChunkFrames, frames - done);
        if (pending_) {
            const int64_t bar = Playing() ? NextBarFrame() : frame_;
            if (bar <= frame_)
                TakeOver();
            else
                n = static_cast<int>(std::min<int64_t>(n, bar - frame_));
        }
        if (current_)
            current_->offline().Render(mix_.data(), n);
        else
            std::fill_n(mix_.begin(), 2 * n, 0.0f);
        if (ringing_) {
            ringing_->offline().Render(ring_.data(), n);
            for (int i = 0; i < 2 * n; ++i)
                mix_[static_cast<size_t>(i)] += ring_[static_cast<size_t>(i)];
            ringing_->TakeMidi(midi, frame_, frame_ + n);
            ringFrames_ -= n;
            if (ringFrames_ <= 0 || !ringing_->offline().Sounding())
                Retire(std::move(ringing_));
        }
        for (int i = 0; i < n; ++i) {
            left[done + i] = mix_[static_cast<size_t>(2 * i)];
            right[done + i] = mix_[static_cast<size_t>(2 * i + 1)];
        }
        if (current_)
            current_->TakeMidi(midi, frame_, frame_ + n);
        frame_ += n;
        done += n;
    }
}

} // namespace mb
