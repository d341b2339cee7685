#include "files/SetupFileFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <type_traits>

#include "files/ArchiveString.h"
#include "files/SetupFields.h"
#include "model/Groove.h"
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

// One chunk of the groove trailer: its tag, the size of its content, and how its values
// are told apart from a new setup's, written and read (returning what is wrong, or empty).
struct GrooveChunk {
    std::string_view tag;
    size_t bytes;
    bool (*differs)(const SetupRecord& r);
    void (*write)(ByteWriter& out, const SetupRecord& r);
    std::string (*read)(ByteReader& in, SetupRecord& r);
};

constexpr size_t kSwingBytes = sizeof(int16_t) * kLoopCount;
constexpr size_t kConditionBytes = sizeof(int16_t) * kLoopCount * kStepsPerLoop;

std::string LoopName(size_t i) {
    return "loop " + std::to_string(i) + "'s ";
}

const std::array<GrooveChunk, 4> kGrooveChunks = {{
    {SetupFileFormat::kSwingTag, kSwingBytes,
     [](const SetupRecord& r) {
         return std::any_of(r.loops.begin(), r.loops.end(),
                            [](const auto& loop) { return loop.swing != kStraightSwing; });
     },
     [](ByteWriter& out, const SetupRecord& r) {
         for (const auto& loop : r.loops)
             out.I16(loop.swing);
     },
     [](ByteReader& in, SetupRecord& r) -> std::string {
         for (size_t i = 0; i < r.loops.size(); ++i) {
             r.loops[i].swing = in.I16();
             if (r.loops[i].swing < kStraightSwing || r.loops[i].swing > kMaxSwing)
                 return OutOfRange(LoopName(i) + "swing", r.loops[i].swing, kStraightSwing,
                                   kMaxSwing);
         }
         return {};
     }},
    {SetupFileFormat::kDialTag, 4,
     [](const SetupRecord& r) { return r.dDial != 0 || r.eDial != 0; },
     [](ByteWriter& out, const SetupRecord& r) {
         out.I16(r.dDial);
         out.I16(r.eDial);
     },
     [](ByteReader& in, SetupRecord& r) -> std::string {
         r.dDial = in.I16();
         r.eDial = in.I16();
         if (r.dDial < 0 || r.dDial >= kDDialCount)
             return OutOfRange("D dial function", r.dDial, 0, kDDialCount - 1);
         if (r.eDial < 0 || r.eDial >= kEDialCount)
             return OutOfRange("E dial function", r.eDial, 0, kEDialCount - 1);
         return {};
     }},
    {SetupFileFormat::kSeedTag, 4, [](const SetupRecord& r) { return r.seed != 0; },
     [](ByteWriter& out, const SetupRecord& r) { Put(out, r.seed); },
     [](ByteReader& in, SetupRecord& r) -> std::string {
         Get(in, r.seed);
         return {};
     }},
    {SetupFileFormat::kConditionTag, kConditionBytes,
     [](const SetupRecord& r) {
         return std::any_of(r.loops.begin(), r.loops.end(), [](const auto& loop) {
             return std::any_of(loop.conditions.begin(), loop.conditions.end(),
                                [](int16_t code) { return code != StepCondition::kAlways; });
         });
     },
     [](ByteWriter& out, const SetupRecord& r) {
         for (const auto& loop : r.loops)
             for (int16_t code : loop.conditions)
                 out.I16(code);
     },
     [](ByteReader& in, SetupRecord& r) -> std::string {
         for (size_t i = 0; i < r.loops.size(); ++i) {
             for (size_t j = 0; j < r.loops[i].conditions.size(); ++j) {
                 const int16_t code = in.I16();
                 if (!StepCondition::ValidCode(code))
                     return LoopName(i) + "step " + std::to_string(j) + " condition " +
                            std::to_string(code) + " unknown";
                 r.loops[i].conditions[j] = code;
             }
         }
         return {};
     }},
}};

const GrooveChunk* FindGrooveChunk(std::string_view tag) {
    for (const GrooveChunk& chunk : kGrooveChunks)
        if (chunk.tag == tag)
            return &chunk;
    return nullptr;
}

// Tags are printable ASCII, so that bytes that merely follow the sound folder are not
// taken for chunks.
bool IsTag(std::string_view tag) {
    return tag.size() == 4 &&
           std::all_of(tag.begin(), tag.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::string_view TagOf(std::span<const uint8_t> chunk) {
    return {reinterpret_cast<const char*>(chunk.data()), std::min<size_t>(chunk.size(), 4)};
}

uint32_t LengthOf(std::span<const uint8_t> chunk) {
    ByteReader in(chunk.subspan(4));
    return static_cast<uint32_t>(in.I32());
}

} // namespace

void SetupFileFormat::WriteGroove(ByteWriter& out, const SetupRecord& r) {
    for (const GrooveChunk& chunk : kGrooveChunks) {
        if (!chunk.differs(r))
            continue;
        for (char c : chunk.tag)
            out.U8(static_cast<uint8_t>(c));
        Put(out, static_cast<uint32_t>(chunk.bytes));
        chunk.write(out, r);
    }
    for (const std::vector<uint8_t>& kept : r.keptChunks)
        out.Bytes(kept);
}

bool SetupFileFormat::ReadGroove(std::span<const uint8_t> rest,
                                 SetupRecord& r,
                                 std::string& problem) {
    // Bytes whose chain of chunks never reaches a known tag are ignored without a word, as
    // every earlier reader ignored them; once one is reached they are a groove trailer,
    // and one that cannot be read is said.
    bool known = false;
    unsigned seen = 0;
    size_t at = 0;
    while (at < rest.size() && problem.empty()) {
        const std::span<const uint8_t> chunk = rest.subspan(at);
        const std::string_view tag = TagOf(chunk);
        const GrooveChunk* groove = FindGrooveChunk(tag);
        known = known || groove != nullptr;
        if (!IsTag(tag)) {
            problem = "bytes that are no chunk after the last one";
            break;
        }
        const std::string name = "the " + std::string(tag) + " chunk";
        const uint32_t length = chunk.size() < kChunkHeaderBytes ? 0 : LengthOf(chunk);
        if (chunk.size() < kChunkHeaderBytes || length > chunk.size() - kChunkHeaderBytes) {
            problem = name + " runs past the end of the file";
            break;
        }
        at += kChunkHeaderBytes + length;
        if (groove == nullptr) {
            r.keptChunks.emplace_back(chunk.begin(), chunk.begin() + kChunkHeaderBytes + length);
            continue;
        }
        const unsigned bit = 1u << (groove - kGrooveChunks.data());
        if ((seen & bit) != 0) {
            problem = name + " is stored twice";
        } else if (length != groove->bytes) {
            problem = name + " holds " + std::to_string(length) + " bytes, not " +
                      std::to_string(groove->bytes);
        } else {
            ByteReader in(chunk.subspan(kChunkHeaderBytes, length));
            problem = groove->read(in, r);
        }
        seen |= bit;
    }
    if (problem.empty())
        return true;
    const SetupRecord fresh;
    for (size_t i = 0; i < r.loops.size(); ++i) {
        r.loops[i].swing = fresh.loops[i].swing;
        r.loops[i].conditions = fresh.loops[i].conditions;
    }
    r.dDial = fresh.dDial;
    r.eDial = fresh.eDial;
    r.seed = fresh.seed;
    r.keptChunks.clear();
    if (!known)
        problem.clear();
    return false;
}

std::string SetupFileFormat::CheckKeptChunk(std::span<const uint8_t> chunk) {
    const std::string_view tag = TagOf(chunk);
    if (chunk.size() < kChunkHeaderBytes || !IsTag(tag))
        return "a chunk begins with four printable ASCII characters and a 32-bit length";
    if (FindGrooveChunk(tag) != nullptr)
        return "the " + std::string(tag) + " chunk is not one to keep";
    if (LengthOf(chunk) != chunk.size() - kChunkHeaderBytes)
        return "the " + std::string(tag) + " chunk's length is not that of its content";
    return {};
}

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
    WriteGroove(out, r);
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
    if (v >= kVersionWithSoundFolder &&
        ReadGroove(data.subspan(result.offset), r, result.grooveProblem))
        result.offset = data.size();
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
