#include "files/SetupFileFormat.h"

#include <algorithm>
#include <charconv>

#include "files/ArchiveString.h"
#include "model/Setup.h"

namespace mb {

namespace {

// The window frame around the columns in the old window layouts: stepCount was
// (width - frame) / column width.
constexpr int32_t kOldFrameWide = 122;
constexpr int32_t kOldColumnWide = 35;
constexpr int32_t kOldFrameNarrow = 110;
constexpr int32_t kOldColumnNarrow = 30;

// The shortest text that reads back as the same float.
std::string VersionText(float version) {
    char text[32];
    return {text, std::to_chars(text, text + sizeof text, version).ptr};
}

std::string OutOfRange(const std::string& what, int64_t value, int low, int high) {
    return what + " " + std::to_string(value) + " out of range (" + std::to_string(low) + " to " +
           std::to_string(high) + ")";
}

} // namespace

std::vector<uint8_t> SetupFileFormat::Write(const SetupRecord& r) {
    ByteWriter out;
    out.F32(kWrittenVersion);
    out.I16(r.tempoUnit);
    out.F64(r.bpm);
    out.I32(r.legacyA);
    out.I16(r.legacyB);
    out.I16(r.selectedLoop);
    out.I32(r.muted);
    out.I32(static_cast<int32_t>(r.face.color));
    for (const SetupRecord::LoopValues& loop : r.loops) {
        out.I16(loop.nextLoop);
        out.I16(loop.repeatCount);
        for (const SetupRecord::StepValues& s : loop.steps) {
            out.I16(s.pitch);
            out.I16(s.sound);
            out.I16(s.volume);
            out.I16(s.pan);
            out.I16(s.dValue);
            out.I16(s.on);
        }
    }
    out.I32(r.face.windowX);
    out.I32(r.face.windowY);
    out.I32(r.stepCount);
    out.I32(r.polyphonic);
    out.I16(r.masterVolume.value_or(kDefaultMasterVolume));
    out.I16(r.eValue.value_or(kDefaultEValue));
    ArchiveString::Write(out, r.soundFolder.value_or(std::string{}));
    return out.Take();
}

void SetupFileFormat::ReadOldTrailer(ByteReader& in, SetupRecord& r) {
    const int32_t left = in.I32();
    const int32_t top = in.I32();
    const int32_t right = in.I32();
    in.I32(); // bottom
    r.polyphonic = 0;
    if (r.version >= kVersionWithPolyphonic)
        r.polyphonic = in.I32() == 0 ? 1 : 0;
    // 64-bit, so that no stored rectangle can overflow. Integer division truncates
    // toward zero. A window narrower or wider than the columns plays one or sixteen
    // steps: these files store no step count that could be wrong.
    const int64_t width = static_cast<int64_t>(right) - left;
    const int64_t columns = r.version < kVersionWithNarrowColumns
                                ? (width - kOldFrameWide) / kOldColumnWide
                                : (width - kOldFrameNarrow) / kOldColumnNarrow;
    r.stepCount = static_cast<int32_t>(std::clamp<int64_t>(columns, 1, kMaxStepCount));
    r.face.windowX = left;
    r.face.windowY = top;
}

std::string SetupFileFormat::CheckValues(const SetupRecord& r) {
    if (r.stepCount < 1 || r.stepCount > kMaxStepCount)
        return OutOfRange("step count", r.stepCount, 1, kMaxStepCount);
    if (r.selectedLoop < 0 || r.selectedLoop >= kLoopCount)
        return OutOfRange("selected loop", r.selectedLoop, 0, kLoopCount - 1);
    for (size_t i = 0; i < r.loops.size(); ++i) {
        const int16_t next = r.loops[i].nextLoop;
        if (next < 0 || next >= kLoopCount)
            return OutOfRange("loop " + std::to_string(i) + "'s next loop", next, 0,
                              kLoopCount - 1);
    }
    return {};
}

SetupFileFormat::ReadResult SetupFileFormat::Read(std::span<const uint8_t> data) {
    ReadResult result;
    SetupRecord& r = result.record;
    ByteReader in(data);

    r.version = in.F32();
    const float v = r.version;
    // Checked first, so that any other kind of file is named as such, however short.
    // (NaN fails both comparisons.)
    if (!in.failed() && !(v >= kFirstVersion && v <= kWrittenVersion)) {
        result.status = Status::kNotSetup;
        result.problem = "version " + VersionText(v);
        return result;
    }
    r.tempoUnit = in.I16();
    r.bpm = in.F64();
    r.legacyA = in.I32();
    r.legacyB = in.I16();
    r.selectedLoop = in.I16();
    r.muted = in.I32();
    r.face.color = static_cast<uint32_t>(in.I32());
    if (v < kVersionWithWideSteps) {
        r.face.color = static_cast<uint32_t>(in.I32());
        in.I32();
    }
    for (size_t i = 0; i < r.loops.size(); ++i) {
        SetupRecord::LoopValues& loop = r.loops[i];
        if (v < kVersionWithWideSteps)
            in.I32();
        if (v < kVersionWithLoopLinks) {
            in.I16();
            loop.nextLoop = static_cast<int16_t>(i);
            loop.repeatCount = 1;
        } else {
            loop.nextLoop = in.I16();
            loop.repeatCount = in.I16();
        }
        for (SetupRecord::StepValues& s : loop.steps) {
            s.pitch = in.I16();
            s.sound = in.I16();
            s.volume = in.I16();
            s.pan = in.I16();
            if (v < kVersionWithWideSteps) {
                s.on = in.I32() != 0 ? 1 : 0;
                s.dValue = in.I32() == 1 ? kOldDValueLow : kOldDValueHigh;
            } else {
                s.dValue = in.I16();
                s.on = in.I16();
            }
        }
    }
    if (v < kVersionWithWideSteps) {
        ReadOldTrailer(in, r);
    } else {
        r.face.windowX = in.I32();
        r.face.windowY = in.I32();
        r.stepCount = in.I32();
        r.polyphonic = in.I32();
        if (v == kVersionWithWideSteps) {
            r.masterVolume = kDefaultMasterVolume;
            r.eValue = kDefaultEValue;
        } else {
            r.masterVolume = in.I16();
            r.eValue = in.I16();
        }
    }
    if (!in.failed() && v >= kVersionWithSoundFolder) {
        std::string folder;
        switch (ArchiveString::Read(in, folder)) {
        case ArchiveString::Status::kOk:
            r.soundFolder = std::move(folder);
            break;
        case ArchiveString::Status::kTruncated:
            break;
        case ArchiveString::Status::kBadLength:
            result.status = Status::kBadString;
            result.offset = in.position();
            return result;
        }
    }
    if (in.failed()) {
        result.status = Status::kTruncated;
        result.offset = data.size();
        return result;
    }
    result.offset = in.position();
    result.problem = CheckValues(r);
    if (!result.problem.empty()) {
        result.status = Status::kBadValue;
        return result;
    }
    const MendedTempo tempo = MendTempo(r.bpm);
    if (tempo.replaced)
        result.unusableTempo = r.bpm;
    r.bpm = tempo.bpm;
    return result;
}

} // namespace mb
