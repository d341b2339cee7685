#pragma once

#include <string>
#include <string_view>

#include "files/SetupRecord.h"

namespace mb {

// Reads the JSON text that SetupJson writes back into a record: what `marrowbeat-cli
// write` turns into a setup file. A key the text leaves out (a whole loop or step
// included) takes a new setup's value; the version is read but not kept, since a setup
// is always written in the current version. An unknown key, or a value that the file
// cannot store or that opening the file would refuse, refuses the whole text.
class SetupJsonReader {
public:
    struct Result {
        // Empty on success; otherwise the key path and what is wrong with its value
        // ("loops[2].steps[5].condition: \"9:4\" is not a condition"), or why the text
        // is no JSON.
        std::string error;
        SetupRecord record;
    };
    static Result Read(std::string_view text);
};

} // namespace mb
