#include "midi/MidiFileWriter.h"

#include <algorithm>
#include <cmath>

namespace mb {

namespace {

constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kMeta = 0xFF;
constexpr uint8_t kSetTempo = 0x51;
constexpr uint8_t kEndOfTrack = 0x2F;
constexpr int kMaxData = 127;
// The live output's note length: this share of the step period (of the spacing between
// the hits of a repeated step).
constexpr double kNoteLength = 0.25;
// A set-tempo event holds microseconds per quarter note in three bytes.
constexpr int64_t kMaxTempo = 0xFFFFFF;
constexpr int kStepsPerQuarter = 4;

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// A variable-length quantity: seven bits a byte, the high bit set on all but the last.
void PutVarLength(std::vector<uint8_t>& out, uint64_t value) {
    uint8_t bytes[10];
    int n = 0;
    do {
        bytes[n++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 1)
        out.push_back(static_cast<uint8_t>(bytes[--n] | 0x80));
    out.push_back(bytes[0]);
}

} // namespace

MidiFileWriter::MidiFileWriter(double periodMs, int channel)
    : periodMs_(periodMs), channel_(static_cast<uint8_t>(std::clamp(channel, 1, 16) - 1)) {}

void MidiFileWriter::KeepBetween(double fromMs, double untilMs) {
    fromMs_ = fromMs;
    untilMs_ = untilMs;
}

int64_t MidiFileWriter::TickOf(double ms) const {
    return std::llround(ms / periodMs_ * kTicksPerStep);
}

void MidiFileWriter::TakeStep(const StepEvent& step) {
    // As the live output: a step at volume 0 sends no note (velocity 0 would mean off).
    const auto velocity = static_cast<uint8_t>(std::clamp(step.volume, 0, kMaxData));
    if (!step.on || velocity == 0)
        return;
    if (!haveOrigin_) {
        haveOrigin_ = true;
        originNs_ = step.due.originNs;
    }
    const double stepMs =
        static_cast<double>(step.due.originNs - originNs_) / 1e6 + step.due.offsetMs;
    const auto note =
        static_cast<uint8_t>(std::clamp(MidiSender::kFirstNote + step.sound, 0, kMaxData));
    const int hits = std::max(step.hits, 1);
    const double lengthMs = (hits > 1 ? step.spacingMs : step.periodMs) * kNoteLength;
    for (int hit = 0; hit < hits; ++hit) {
        const double onMs = stepMs + step.shiftMs + hit * step.spacingMs;
        played_.push_back({onMs, onMs + lengthMs, note, velocity});
    }
}

std::vector<MidiFileWriter::Note> MidiFileWriter::Notes() const {
    const int64_t start = TickOf(fromMs_);
    std::vector<Note> notes;
    for (const Played& p : played_) {
        if (p.onMs < fromMs_ || p.onMs >= untilMs_)
            continue;
        const int64_t on = TickOf(p.onMs) - start;
        notes.push_back({on, std::max(TickOf(p.offMs) - start, on), p.note, p.velocity});
    }
    std::stable_sort(notes.begin(), notes.end(),
                     [](const Note& a, const Note& b) { return a.on < b.on; });
    // The same note still sounding ends where it starts again.
    std::vector<size_t> last(kMaxData + 1, notes.size());
    for (size_t i = 0; i < notes.size(); ++i) {
        size_t& before = last[notes[i].note];
        if (before != notes.size())
            notes[before].off = std::min(notes[before].off, notes[i].on);
        before = i;
    }
    return notes;
}

std::vector<uint8_t> MidiFileWriter::Bytes() const {
    struct Event {
        int64_t tick;
        bool on;
        uint8_t note;
        uint8_t velocity;
    };
    std::vector<Event> events;
    for (const Note& n : Notes()) {
        events.push_back({n.on, true, n.note, n.velocity});
        events.push_back({n.off, false, n.note, 0});
    }
    // At one tick the notes that end come before those that start, as the live output
    // sends them.
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.tick != b.tick ? a.tick < b.tick : (!a.on && b.on);
    });

    std::vector<uint8_t> track;
    // Microseconds a quarter note, to the nearest one (a tempo in BPM need not give a whole
    // number). Below about 3.6 BPM a quarter lasts longer than three bytes can say: the
    // file then plays faster than the render.
    const int64_t tempo =
        std::clamp<int64_t>(std::llround(periodMs_ * kStepsPerQuarter * 1000.0), 1, kMaxTempo);
    PutVarLength(track, 0);
    track.insert(track.end(), {kMeta, kSetTempo, 3, static_cast<uint8_t>(tempo >> 16),
                               static_cast<uint8_t>(tempo >> 8), static_cast<uint8_t>(tempo)});
    int64_t tick = 0;
    for (const Event& e : events) {
        PutVarLength(track, static_cast<uint64_t>(e.tick - tick));
        tick = e.tick;
        track.push_back(static_cast<uint8_t>((e.on ? kNoteOn : kNoteOff) | channel_));
        track.push_back(e.note);
        track.push_back(e.velocity);
    }
    PutVarLength(track, 0);
    track.insert(track.end(), {kMeta, kEndOfTrack, 0});

    std::vector<uint8_t> file = {'M', 'T', 'h', 'd'};
    Put32(file, 6);
    // Format 0, one track, ticks per quarter note.
    file.insert(file.end(), {0, 0, 0, 1, static_cast<uint8_t>(kTicksPerQuarter >> 8),
                             static_cast<uint8_t>(kTicksPerQuarter & 0xFF)});
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    Put32(file, static_cast<uint32_t>(track.size()));
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

} // namespace mb
