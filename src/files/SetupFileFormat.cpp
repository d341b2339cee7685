#include "files/SetupFileFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <type_traits>

#include "files/ArchiveString.h"
#include "files/SetupFields.h"
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

void Put(ByteWriter& out, int16_t v) {
    out.I16(v);
}
void Put(ByteWriter& out, int32_t v) {
    out.I32(v);
}
void Put(ByteWriter& out, uint32_t v) {
    out.I32(static_cast<int32_t>(v));
}
void Put(ByteWriter& out, double v) {
    out.F64(v);
}

void Get(ByteReader& in, int16_t& v) {
    v = in.I16();
}
void Get(ByteReader& in, int32_t& v) {
    v = in.I32();
}
void Get(ByteReader& in, uint32_t& v) {
    v = static_cast<uint32_t>(in.I32());
}
void Get(ByteReader& in, double& v) {
    v = in.F64();
}

// A step record stores the six values by their file slots.
void WriteStep(ByteWriter& out, const SetupRecord::StepValues& step) {
    std::array<int16_t, kStepValueCount> bySlot{};
    VisitStepValues(
        [&bySlot](const StepField& field, int16_t value) {
            bySlot[static_cast<size_t>(field.fileSlot)] = value;
        },
        step);
    for (int16_t value : bySlot)
        out.I16(value);
}

void ReadStep(ByteReader& in, SetupRecord::StepValues& step) {
    std::array<int16_t, kStepValueCount> bySlot{};
    for (int16_t& value : bySlot)
        value = in.I16();
    VisitStepValues(
        [&bySlot](const StepField& field, int16_t& value) {
            value = bySlot[static_cast<size_t>(field.fileSlot)];
        },
        step);
}

} // namespace

void SetupFileFormat::ReadOldStep(ByteReader& in, SetupRecord::StepValues& s) {
    s.pitch = in.I16();
    s.sound = in.I16();
    s.volume = in.I16();
    s.pan = in.I16();
    s.on = in.I32() != 0 ? 1 : 0;
    s.dValue = in.I32() == 1 ? kOldDValueLow : kOldDValueHigh;
}

std::vector<uint8_t> SetupFileFormat::Write(const SetupRecord& r) {
    ByteWriter out;
    out.F32(kWrittenVersion);
    const auto put = [&out](const SetupField& field, const auto& value, auto) {
        using Value = std::remove_cvref_t<decltype(value)>;
        if constexpr (std::is_same_v<Value, std::optional<std::string>>)
            ArchiveString::Write(out, value.value_or(std::string{}));
        else if constexpr (std::is_same_v<Value, std::optional<int16_t>>)
            out.I16(value.value_or(field.absent));
        else
            Put(out, value);
    };
    VisitFieldsBeforeLoops(r, put);
    for (const SetupRecord::LoopValues& loop : r.loops) {
        VisitLoopLinkFields(loop, put);
        for (const SetupRecord::StepValues& step : loop.steps)
            WriteStep(out, step);
    }
    VisitFieldsAfterLoops(r, put);
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
    std::string problem;
    const auto check = [&problem](const std::string& owner) {
        return [&problem, owner](const SetupField& field, const auto& value, auto) {
            if constexpr (std::is_integral_v<std::remove_cvref_t<decltype(value)>>) {
                if (problem.empty() && !field.InRange(value))
                    problem = OutOfRange(owner + field.what, value, field.low, field.high);
            }
        };
    };
    // The step count is named before the selected loop and the loop links when more than
    // one is out of range.
    VisitFieldsAfterLoops(r, check(""));
    VisitFieldsBeforeLoops(r, check(""));
    for (size_t i = 0; i < r.loops.size(); ++i)
        VisitLoopLinkFields(r.loops[i], check("loop " + std::to_string(i) + "'s "));
    return problem;
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
    ArchiveString::Status folderStatus = ArchiveString::Status::kOk;
    const auto get = [&in, &folderStatus, v](const SetupField& field, auto& value, auto) {
        using Value = std::remove_cvref_t<decltype(value)>;
        if constexpr (std::is_same_v<Value, std::optional<std::string>>) {
            std::string text;
            if (!in.failed() && v >= kVersionWithSoundFolder) {
                folderStatus = ArchiveString::Read(in, text);
                if (folderStatus == ArchiveString::Status::kOk)
                    value = std::move(text);
            }
        } else if constexpr (std::is_same_v<Value, std::optional<int16_t>>) {
            // Version 2.0 is the one layout with wide steps that stores neither the
            // master volume nor the E value.
            value = v == kVersionWithWideSteps ? field.absent : in.I16();
        } else {
            Get(in, value);
        }
    };
    VisitFieldsBeforeLoops(r, get);
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
            VisitLoopLinkFields(loop, get);
        }
        for (SetupRecord::StepValues& s : loop.steps) {
            if (v < kVersionWithWideSteps)
                ReadOldStep(in, s);
            else
                ReadStep(in, s);
        }
    }
    if (v < kVersionWithWideSteps)
        ReadOldTrailer(in, r);
    else
        VisitFieldsAfterLoops(r, get);
    if (folderStatus == ArchiveString::Status::kBadLength) {
        result.status = Status::kBadString;
        result.offset = in.position();
        return result;
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
