#include "files/SetupJson.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <type_traits>

#include "files/SetupDocument.h"
#include "files/SetupFields.h"
#include "files/TextCodec.h"
#include "model/Groove.h"
#include "model/Setup.h"

namespace mb {

void SetupJson::AppendString(std::string& out, const std::string& text) {
    // Bytes that are not valid UTF-8 become U+FFFD, so the output is always valid JSON.
    const std::string valid = TextCodec::Utf8FromUtf16(TextCodec::Utf16FromUtf8(text));
    out += '"';
    for (char c : valid) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
}

template <typename T> void SetupJson::AppendNumber(std::string& out, T value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

template <typename T>
void SetupJson::AppendValue(std::string& out, const SetupField& field, const T& value) {
    if constexpr (std::is_same_v<T, std::optional<std::string>>)
        AppendString(out, value.value_or(std::string{}));
    else if constexpr (std::is_same_v<T, std::optional<int16_t>>)
        out += std::to_string(value.value_or(field.absent));
    else if constexpr (std::is_floating_point_v<T>)
        AppendNumber(out, value);
    else
        out += std::to_string(value);
}

std::string SetupJson::Write(const Setup& setup, const SetupFace& face) {
    const SetupRecord r = SetupRecord::FromSetup(setup, face);
    std::string out = "{\n  \"version\": ";
    AppendNumber(out, r.version);
    const auto line = [&out](const SetupField& field, const auto& value, auto) {
        out += ",\n  \"";
        out += field.key;
        out += "\": ";
        AppendValue(out, field, value);
    };
    // Loops and steps are one line each: their fields separated by ", ".
    const char* separator = "";
    const auto inLine = [&out, &separator](const char* key) {
        out += separator;
        separator = ", ";
        out += '"';
        out += key;
        out += "\": ";
    };
    VisitFieldsBeforeLoops(r, line);
    out += ",\n  \"loops\": [\n";
    for (size_t i = 0; i < r.loops.size(); ++i) {
        const SetupRecord::LoopValues& loop = r.loops[i];
        out += "    {";
        separator = "";
        VisitLoopLinkFields(loop,
                            [&out, &inLine](const SetupField& field, const auto& value, auto) {
                                inLine(field.key);
                                AppendValue(out, field, value);
                            });
        inLine("swing");
        out += std::to_string(loop.swing);
        out += ", \"steps\": [\n";
        for (size_t j = 0; j < loop.steps.size(); ++j) {
            out += "      {";
            separator = "";
            VisitStepValues(
                [&out, &inLine](const StepField& field, int16_t value) {
                    inLine(field.key);
                    out += std::to_string(value);
                },
                loop.steps[j]);
            inLine("condition");
            AppendString(out, StepCondition::FromCode(loop.conditions[j]).Text());
            out += "}";
            out += j + 1 < loop.steps.size() ? ",\n" : "\n";
        }
        out += "    ]}";
        out += i + 1 < r.loops.size() ? ",\n" : "\n";
    }
    out += "  ]";
    VisitFieldsAfterLoops(r, line);
    out += ",\n  \"dDial\": \"";
    out += DDialText(static_cast<DDial>(r.dDial));
    out += "\",\n  \"eDial\": \"";
    out += EDialText(static_cast<EDial>(r.eDial));
    out += "\",\n  \"seed\": " + std::to_string(r.seed);
    out += ",\n  \"keptChunks\": [";
    separator = "";
    for (const std::vector<uint8_t>& chunk : r.keptChunks) {
        out += separator;
        separator = ", ";
        out += '"';
        for (uint8_t byte : chunk) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", byte);
            out += hex;
        }
        out += '"';
    }
    out += "]\n}\n";
    return out;
}

SetupJson::FileResult SetupJson::FromFile(const std::string& path) {
    SetupDocument::ReadOutcome outcome = SetupDocument::ReadFile(path);
    if (!outcome.error.empty())
        return {std::move(outcome.error), {}, {}};
    Setup setup;
    outcome.record.ApplyTo(setup);
    return {{}, std::move(outcome.notice), Write(setup, outcome.record.face)};
}

} // namespace mb
