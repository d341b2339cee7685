#pragma once

#include <string>

#include "files/SetupRecord.h"

namespace mb {

class Setup;
struct SetupField;

// The stored fields of a setup as JSON text, under their field names and in file
// order, preceded by the version of the file it came from: what `marrowbeat-cli info`
// prints. Numbers are written exactly (the shortest text that reads back as the same
// value); a tempo that is not a finite number is written as null. The groove is written
// with the values it belongs to: each loop's "swing" after its links, each step's
// "condition" after its values, and after the sound folder "dDial", "eDial", "seed" and
// "keptChunks" (the file's chunks this version does not know, each in hexadecimal).
// SetupJsonReader reads this text back.
class SetupJson {
public:
    static std::string Write(const Setup& setup, const SetupFace& face);

    struct FileResult {
        // Empty on success; otherwise a message naming the file and the cause.
        std::string error;
        // A value mended on the way in (a tempo that is no number), or empty.
        std::string notice;
        std::string json;
    };
    // Reads a setup file into a new setup, as opening it would (a file that is no setup
    // refused, its tempo mended, values of a new setup where an old file stores none),
    // and writes it.
    static FileResult FromFile(const std::string& path);

private:
    static void AppendString(std::string& out, const std::string& text);
    // The shortest text that reads back as the same value; null when not finite.
    template <typename T> static void AppendNumber(std::string& out, T value);
    // One field's value as the file stores it: a field the record does not hold as its
    // absent value.
    template <typename T>
    static void AppendValue(std::string& out, const SetupField& field, const T& value);
};

} // namespace mb
