#pragma once

#include <string>

#include "files/SetupRecord.h"

namespace mb {

class Setup;

// The stored fields of a setup as JSON text, under their field names and in file
// order, preceded by the version of the file it came from: what `marrowbeat-cli info`
// prints. Numbers are written exactly (the shortest text that reads back as the same
// value); a tempo that is not a finite number is written as null.
class SetupJson {
public:
    static std::string Write(const Setup& setup, const SetupFace& face);

private:
    static void AppendString(std::string& out, const std::string& text);
    static void AppendNumber(std::string& out, double value);
    static void AppendNumber(std::string& out, float value);
};

} // namespace mb
