#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace mb {
namespace {

TEST(CommandLine, OptionsComeFirstAndTheRestIsOnePath) {
    struct Case {
        std::vector<std::string> arguments;
        std::string path;
        bool link;
        std::string api;
        int frames;
        int status; // -1: starts the window
    };
    const Case cases[] = {
        {{}, "", false, "", 0, -1},
        {{"my", "setup.mbx"}, "my setup.mbx", false, "", 0, -1},
        {{"--link", "a  b.mbx"}, "a  b.mbx", true, "", 0, -1},
        {{"--audio-api", "jack", "--buffer-frames=512", "x.mbx"}, "x.mbx", false, "jack", 512, -1},
        {{"--", "--link", "x"}, "--link x", false, "", 0, -1},
        {{"x.mbx", "--link"}, "x.mbx --link", false, "", 0, -1},
        {{"-link.mbx"}, "-link.mbx", false, "", 0, -1},
        {{"--help"}, "", false, "", 0, 0},
        {{"--frobnicate", "x.mbx"}, "", false, "", 0, 2},
        {{"--buffer-frames=32"}, "", false, "", 0, 2},
        {{"--audio-api", "oss"}, "", false, "", 0, 2},
    };
    for (const Case& c : cases) {
        const CommandLine line = CommandLine::Parse(c.arguments);
        const std::string what = c.arguments.empty() ? "(none)" : c.arguments[0];
        EXPECT_EQ(line.exitText ? line.exitStatus : -1, c.status) << what;
        if (line.exitText)
            continue;
        EXPECT_EQ(line.setupPath, c.path) << what;
        EXPECT_EQ(line.link, c.link) << what;
        EXPECT_EQ(line.audioApi.value_or(""), c.api) << what;
        EXPECT_EQ(line.bufferFrames.value_or(0), c.frames) << what;
    }
}

} // namespace
} // namespace mb
