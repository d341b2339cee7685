#include "files/SetupJson.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "files/SetupDocument.h"
#include "files/TextCodec.h"
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

std::string SetupJson::Write(const Setup& setup, const SetupFace& face) {
    std::string out = "{\n";
    const auto field = [&out](const char* name) {
        out += "  \"";
        out += name;
        out += "\": ";
    };
    const auto integer = [&out, &field](const char* name, long long v) {
        field(name);
        out += std::to_string(v);
        out += ",\n";
    };
    field("version");
    AppendNumber(out, setup.fileVersion);
    out += ",\n";
    integer("tempoUnit", setup.tempoUnit);
    field("bpm");
    AppendNumber(out, static_cast<double>(setup.bpm));
    out += ",\n";
    integer("legacyA", setup.legacyA);
    integer("legacyB", setup.legacyB);
    integer("selectedLoop", setup.selectedLoop);
    integer("muted", setup.muted);
    integer("color", face.color);
    field("loops");
    out += "[\n";
    for (int i = 0; i < kLoopCount; ++i) {
        const Loop& loop = setup.loop(i);
        out += "    {\"nextLoop\": " + std::to_string(loop.nextLoop) +
               ", \"repeatCount\": " + std::to_string(loop.repeatCount) + ", \"steps\": [\n";
        for (int j = 0; j < kStepsPerLoop; ++j) {
            const Step& s = loop.steps[static_cast<size_t>(j)];
            out += "      {\"on\": " + std::to_string(s.on) +
                   ", \"pitch\": " + std::to_string(s.pitch) +
                   ", \"sound\": " + std::to_string(s.sound) +
                   ", \"volume\": " + std::to_string(s.volume) +
                   ", \"pan\": " + std::to_string(s.pan) +
                   ", \"dValue\": " + std::to_string(s.dValue) + "}";
            out += j + 1 < kStepsPerLoop ? ",\n" : "\n";
        }
        out += "    ]}";
        out += i + 1 < kLoopCount ? ",\n" : "\n";
    }
    out += "  ],\n";
    integer("windowX", face.windowX);
    integer("windowY", face.windowY);
    integer("stepCount", setup.stepCount);
    integer("polyphonic", setup.polyphonic);
    integer("masterVolume", setup.masterVolume);
    integer("eValue", setup.eValue);
    field("soundFolder");
    AppendString(out, setup.soundFolder);
    out += "\n}\n";
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
