#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mb {

// The program's command line: options first, then the setup path. Only arguments that
// begin with "--" and come before anything else are options; "--" ends them. Everything
// after the options is one path, its arguments joined by single spaces, so that a path
// with spaces may arrive unquoted.
struct CommandLine {
    // Sound output: back end ("pulse", "alsa" or "jack"), device name, buffer frames.
    std::optional<std::string> audioApi;
    std::optional<std::string> audioDevice;
    std::optional<int> bufferFrames;
    // Join an Ableton Link session for this run.
    bool link = false;
    // Follow the JACK transport for this run.
    bool jackTransport = false;
    std::string setupPath;

    // What to do instead of starting the window: print this text and end with this
    // status (help and version on standard output with 0, errors on standard error
    // with 2).
    std::optional<std::string> exitText;
    int exitStatus = 0;

    // Reads the arguments after the program's name.
    static CommandLine Parse(const std::vector<std::string>& arguments);
};

} // namespace mb
