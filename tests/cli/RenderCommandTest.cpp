#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

#include "../engine/WaveFiles.h"
#include "engine/WaveReader.h"

namespace mb {
namespace {

struct CliRun {
    int status;
    std::string output;
};

// Runs marrowbeat-cli with the arguments; its exit status and everything it printed.
CliRun Cli(const std::string& arguments) {
    const std::string command = std::string(MB_CLI_PATH) + " " + arguments + " 2>&1";
    CliRun run{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        run.output += buffer;
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

int Lines(const std::string& text) {
    int n = 0;
    for (char c : text)
        n += c == '\n' ? 1 : 0;
    return n;
}

TEST(RenderCommand, BadArgumentsGiveOneLineAndAFailure) {
    test::TempFolder dir;
    const std::string out = dir.path() + "/out.wav";
    const std::string cases[] = {
        "",
        "play",
        "render",
        "render --sounds " + std::string(MB_KIT_DIR),
        "render -o " + out,
        "render --sounds " + std::string(MB_KIT_DIR) + " -o " + out + " --seconds -3",
        "render --sounds " + std::string(MB_KIT_DIR) + " -o " + out + " --seconds abc",
        "render --sounds " + std::string(MB_KIT_DIR) + " -o " + out + " --bpm 0",
        "render --sounds " + std::string(MB_KIT_DIR) + " -o " + out + " --bpm",
        "render --sounds " + std::string(MB_KIT_DIR) + " -o " + out + " --loud",
        "render --sounds " + dir.path() + "/missing -o " + out,
    };
    for (const std::string& args : cases) {
        const CliRun run = Cli(args);
        EXPECT_NE(run.status, 0) << args;
        EXPECT_EQ(Lines(run.output), 1) << args << ": " << run.output;
        EXPECT_FALSE(std::filesystem::exists(out)) << args;
    }
}

TEST(RenderCommand, AnUnwritableOutputFailsAndLeavesNothingBehind) {
    test::TempFolder dir;
    const CliRun run = Cli("render --sounds " + std::string(MB_KIT_DIR) + " -o " + dir.path() +
                           "/no/such/folder/out.wav --seconds 1");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("cannot write"), std::string::npos) << run.output;
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(RenderCommand, RendersTheKitOnTheGridAsA16BitOrFloatFile) {
    test::TempFolder dir;
    for (const bool floatOutput : {false, true}) {
        const std::string out = dir.path() + (floatOutput ? "/f.wav" : "/i.wav");
        const CliRun run = Cli("render --sounds " + std::string(MB_KIT_DIR) + " -o " + out +
                               " --seconds 2 --bpm 126" + (floatOutput ? " --float" : ""));
        ASSERT_EQ(run.status, 0) << run.output;
        WaveReader reader;
        ASSERT_EQ(reader.Open(out), 0u);
        EXPECT_EQ(reader.format()->formatTag, floatOutput ? 3 : 1);
        EXPECT_EQ(reader.format()->channels, 2);
        EXPECT_EQ(reader.format()->samplesPerSec, 44100u);
        EXPECT_EQ(reader.format()->bitsPerSample, floatOutput ? 32 : 16);
        ASSERT_EQ(reader.StartData(), 0u);
        EXPECT_EQ(reader.dataChunk().size, 2u * 44100 * reader.format()->blockAlign);
        std::vector<uint8_t> bytes(reader.dataChunk().size);
        uint64_t got = 0;
        ASSERT_EQ(reader.Read(bytes.size(), bytes.data(), &got), 0u);
        // The first sample of every step is the sound's peak: check the onsets of the
        // first steps in the left channel.
        for (int k = 0; k < 16; ++k) {
            const size_t frame = 5250 * static_cast<size_t>(k);
            if (frame >= 88200)
                break;
            float left = 0.0f;
            float before = 0.0f;
            if (floatOutput) {
                std::memcpy(&left, bytes.data() + frame * 8, 4);
                if (frame > 0)
                    std::memcpy(&before, bytes.data() + (frame - 1) * 8, 4);
            } else {
                int16_t v = 0;
                std::memcpy(&v, bytes.data() + frame * 4, 2);
                left = v / 32768.0f;
                if (frame > 0) {
                    std::memcpy(&v, bytes.data() + (frame - 1) * 4, 2);
                    before = v / 32768.0f;
                }
            }
            EXPECT_GT(std::abs(left), 0.1f) << "step " << k;
            EXPECT_LT(std::abs(before), 0.001f) << "step " << k;
        }
    }
}

} // namespace
} // namespace mb
