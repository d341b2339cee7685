#include "files/SetupJsonReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "files/SetupFields.h"
#include "files/SetupFileFormat.h"
#include "model/Groove.h"
#include "model/Setup.h"

namespace mb {

namespace {

using Json = nlohmann::json;

// Thrown to end the reading at the first value refused.
struct Refusal {
    std::string message;
};

[[noreturn]] void Refuse(const std::string& path, const std::string& what) {
    throw Refusal{path + ": " + what};
}

std::string Range(int64_t low, int64_t high) {
    return " out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")";
}

int64_t WholeNumber(const Json& value, const std::string& path, int64_t low, int64_t high) {
    if (value.is_number_unsigned()) {
        if (value.get<uint64_t>() > static_cast<uint64_t>(high))
            Refuse(path, value.dump() + Range(low, high));
        return static_cast<int64_t>(value.get<uint64_t>());
    }
    if (!value.is_number_integer())
        Refuse(path, value.dump() + " is not a whole number");
    const auto whole = value.get<int64_t>();
    if (whole < low || whole > high)
        Refuse(path, value.dump() + Range(low, high));
    return whole;
}

template <typename T> T Whole(const Json& value, const std::string& path, const SetupField& field) {
    if (field.what != nullptr)
        return static_cast<T>(WholeNumber(value, path, field.low, field.high));
    return static_cast<T>(
        WholeNumber(value, path, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

std::string Text(const Json& value, const std::string& path) {
    if (!value.is_string())
        Refuse(path, value.dump() + " is not a text");
    return value.get<std::string>();
}

// One stored field of the record from its JSON value.
template <typename T>
void ReadValue(const Json& value, const std::string& path, const SetupField& field, T& to) {
    if constexpr (std::is_same_v<T, std::optional<std::string>>) {
        to = Text(value, path);
    } else if constexpr (std::is_same_v<T, std::optional<int16_t>>) {
        to = Whole<int16_t>(value, path, field);
    } else if constexpr (std::is_floating_point_v<T>) {
        // The tempo, the one stored number with a fraction: a value opening would change
        // is refused.
        if (!value.is_number())
            Refuse(path, value.dump() + " is not a number");
        to = value.get<T>();
        if (!(to >= kMinBpm && to <= kMaxBpm)) {
            char range[64];
            std::snprintf(range, sizeof range, " out of range (%g to %g)", kMinBpm, kMaxBpm);
            Refuse(path, value.dump() + range);
        }
    } else {
        to = Whole<T>(value, path, field);
    }
}

void RequireObject(const Json& value, const std::string& path) {
    if (!value.is_object())
        Refuse(path, value.dump() + " is not an object");
}

// The array at path, of at most `most` elements.
const Json& ArrayAt(const Json& value, const std::string& path, size_t most) {
    if (!value.is_array())
        Refuse(path, value.dump() + " is not an array");
    if (value.size() > most)
        Refuse(path, std::to_string(value.size()) + " elements, at most " + std::to_string(most));
    return value;
}

void RefuseUnknownKeys(const Json& object,
                       const std::string& prefix,
                       const std::vector<std::string>& keys) {
    for (const auto& item : object.items()) {
        if (std::find(keys.begin(), keys.end(), item.key()) == keys.end())
            Refuse(prefix + item.key(), "unknown key");
    }
}

// A visitor of SetupFields.h that reads the fields of `object` into the record, and one
// that lists their keys.
auto ReadFields(const Json& object, const std::string& prefix) {
    return [&object, prefix](const SetupField& field, auto& value, auto) {
        const auto found = object.find(field.key);
        if (found != object.end())
            ReadValue(*found, prefix + field.key, field, value);
    };
}
auto ListKeys(std::vector<std::string>& keys) {
    return [&keys](const auto& field, auto&&...) { keys.emplace_back(field.key); };
}

std::vector<uint8_t> Hexadecimal(const Json& value, const std::string& path) {
    const std::string text = Text(value, path);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        unsigned byte = 0;
        const char* end = text.data() + i + 2;
        if (std::from_chars(text.data() + i, end, byte, 16).ptr != end)
            break;
        bytes.push_back(static_cast<uint8_t>(byte));
    }
    if (bytes.size() * 2 != text.size())
        Refuse(path, value.dump() + " is not hexadecimal bytes");
    return bytes;
}

void ReadStep(const Json& json, const std::string& path, SetupRecord::LoopValues& loop, size_t j) {
    RequireObject(json, path);
    const std::string prefix = path + ".";
    std::vector<std::string> keys = {"condition"};
    SetupRecord::StepValues& step = loop.steps[j];
    VisitStepValues(ListKeys(keys), step);
    RefuseUnknownKeys(json, prefix, keys);
    VisitStepValues(
        [&json, &prefix](const StepField& field, int16_t& value) {
            const auto found = json.find(field.key);
            if (found != json.end())
                value = static_cast<int16_t>(WholeNumber(*found, prefix + field.key,
                                                         std::numeric_limits<int16_t>::min(),
                                                         std::numeric_limits<int16_t>::max()));
        },
        step);
    if (const auto found = json.find("condition"); found != json.end()) {
        const auto condition = StepCondition::FromText(Text(*found, prefix + "condition"));
        if (!condition)
            Refuse(prefix + "condition", found->dump() + " is not a condition");
        loop.conditions[j] = condition->Code();
    }
}

void ReadLoop(const Json& json, const std::string& path, SetupRecord::LoopValues& loop) {
    RequireObject(json, path);
    const std::string prefix = path + ".";
    std::vector<std::string> keys = {"swing", "steps"};
    VisitLoopLinkFields(loop, ListKeys(keys));
    RefuseUnknownKeys(json, prefix, keys);
    VisitLoopLinkFields(loop, ReadFields(json, prefix));
    if (const auto found = json.find("swing"); found != json.end())
        loop.swing =
            static_cast<int16_t>(WholeNumber(*found, prefix + "swing", kStraightSwing, kMaxSwing));
    if (const auto found = json.find("steps"); found != json.end()) {
        const Json& steps = ArrayAt(*found, prefix + "steps", loop.steps.size());
        for (size_t j = 0; j < steps.size(); ++j)
            ReadStep(steps[j], prefix + "steps[" + std::to_string(j) + "]", loop, j);
    }
}

void ReadGroove(const Json& json, SetupRecord& r) {
    if (const auto found = json.find("dDial"); found != json.end()) {
        const auto dial = DDialFromText(Text(*found, "dDial"));
        if (!dial)
            Refuse("dDial", found->dump() + " is not a D dial function");
        r.dDial = static_cast<int16_t>(*dial);
    }
    if (const auto found = json.find("eDial"); found != json.end()) {
        const auto dial = EDialFromText(Text(*found, "eDial"));
        if (!dial)
            Refuse("eDial", found->dump() + " is not an E dial function");
        r.eDial = static_cast<int16_t>(*dial);
    }
    if (const auto found = json.find("seed"); found != json.end())
        r.seed = static_cast<uint32_t>(
            WholeNumber(*found, "seed", 0, std::numeric_limits<uint32_t>::max()));
    if (const auto found = json.find("keptChunks"); found != json.end()) {
        const Json& chunks = ArrayAt(*found, "keptChunks", found->size());
        for (size_t i = 0; i < chunks.size(); ++i) {
            const std::string path = "keptChunks[" + std::to_string(i) + "]";
            std::vector<uint8_t> chunk = Hexadecimal(chunks[i], path);
            if (const std::string problem = SetupFileFormat::CheckKeptChunk(chunk);
                !problem.empty())
                Refuse(path, problem);
            r.keptChunks.push_back(std::move(chunk));
        }
    }
}

} // namespace

SetupJsonReader::Result SetupJsonReader::Read(std::string_view text) {
    Result result;
    const Setup fresh;
    SetupRecord& r = result.record;
    r = SetupRecord::FromSetup(fresh, {});
    Json json;
    try {
        json = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& e) {
        // The library's own text, without its "[json.exception.parse_error.101] ".
        std::string why = e.what();
        if (const size_t end = why.find("] "); end != std::string::npos)
            why.erase(0, end + 2);
        result.error = "not JSON: " + why;
        return result;
    }
    try {
        if (!json.is_object())
            throw Refusal{"not a setup: " + json.dump() + " is not an object"};
        std::vector<std::string> keys = {"version", "loops", "dDial",
                                         "eDial",   "seed",  "keptChunks"};
        VisitFieldsBeforeLoops(r, ListKeys(keys));
        VisitFieldsAfterLoops(r, ListKeys(keys));
        RefuseUnknownKeys(json, "", keys);
        if (const auto found = json.find("version"); found != json.end() && !found->is_number())
            Refuse("version", found->dump() + " is not a number");
        VisitFieldsBeforeLoops(r, ReadFields(json, ""));
        if (const auto found = json.find("loops"); found != json.end()) {
            const Json& loops = ArrayAt(*found, "loops", r.loops.size());
            for (size_t i = 0; i < loops.size(); ++i)
                ReadLoop(loops[i], "loops[" + std::to_string(i) + "]", r.loops[i]);
        }
        VisitFieldsAfterLoops(r, ReadFields(json, ""));
        ReadGroove(json, r);
    } catch (const Refusal& refusal) {
        result.error = refusal.message;
    }
    return result;
}

} // namespace mb
