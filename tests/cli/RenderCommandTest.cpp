#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "../engine/WaveFiles.h"
#include "Version.h"
#include "engine/Sequencer.h"
#include "engine/WaveReader.h"
#include "files/SetupDocument.h"
#include "model/Setup.h"

namespace mb {
namespace {

struct CliRun {
    int status;
    std::string output;
};

// Runs a shell command; its exit status and everything it printed.
CliRun Shell(const std::string& line) {
    // Standard error goes where standard output went before the command's redirections.
    const std::string command = "exec 2>&1; " + line;
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

// Runs marrowbeat-cli with the arguments (a shell's words).
CliRun Cli(const std::string& arguments) {
    return Shell(std::string(MB_CLI_PATH) + " " + arguments);
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
        "render --sounds " + std::string(MB_KIT_DIR) + " -o " + out + " --passes 0",
        "render --sounds " + std::string(MB_KIT_DIR) + " -o " + out + " --passes 2 --seconds 1",
        "render --sounds " + std::string(MB_KIT_DIR) + " -o " + out + " --rate 100",
        "render --sounds " + std::string(MB_KIT_DIR) + " -o " + out + " --seed -1",
        "render --sounds " + std::string(MB_KIT_DIR) + " -o " + out + " --seed 4294967296",
        "render --sounds " + std::string(MB_KIT_DIR) + " -o " + out + " --midi-channel 17",
        "--version render",
        "render --sounds " + dir.path() + "/missing -o " + out,
        "--version render",
    };
    for (const std::string& args : cases) {
        const CliRun run = Cli(args);
        EXPECT_NE(run.status, 0) << args;
        EXPECT_EQ(Lines(run.output), 1) << args << ": " << run.output;
        EXPECT_FALSE(std::filesystem::exists(out)) << args;
    }
    // A tempo or a length that is no number is a usage error, not ignored.
    for (const std::string option : {"--bpm nan", "--seconds nan", "--bpm -NaN"}) {
        const CliRun run =
            Cli("render --sounds " + std::string(MB_KIT_DIR) + " -o " + out + " " + option);
        EXPECT_EQ(run.status, 2) << option;
        EXPECT_NE(run.output.find("is not a finite number"), std::string::npos) << run.output;
        EXPECT_FALSE(std::filesystem::exists(out)) << option;
    }
}

TEST(RenderCommand, AnswersHelpAndVersionAndWritesToStandardOutput) {
    CliRun run = Cli("--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("Usage: marrowbeat-cli"), std::string::npos) << run.output;
    run = Cli("render --help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("--loopable"), std::string::npos) << run.output;
    run = Cli("--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, std::string("marrowbeat-cli ") + kVersion + "\n");

    // Into a pipe, the same bytes as into a file; a render by passes, whose length is
    // known only at its end, states the largest length instead.
    test::TempFolder dir;
    for (const std::string length : {"--seconds 1", "--passes 2"}) {
        const std::string render = "render --sounds " + std::string(MB_KIT_DIR) + " " + length;
        ASSERT_EQ(Cli(render + " -o " + dir.path() + "/file.wav").status, 0);
        ASSERT_EQ(Cli(render + " -o - | cat > " + dir.path() + "/piped.wav").status, 0);
        std::ifstream file(dir.path() + "/file.wav", std::ios::binary);
        std::ifstream piped(dir.path() + "/piped.wav", std::ios::binary);
        const std::string a{std::istreambuf_iterator<char>(file), {}};
        std::string b{std::istreambuf_iterator<char>(piped), {}};
        ASSERT_EQ(a.size(), b.size()) << length;
        if (length == "--passes 2") {
            EXPECT_EQ(b.substr(4, 4), std::string(4, '\xFF'));
            EXPECT_EQ(b.substr(40, 4), std::string(4, '\xFF'));
            b.replace(4, 4, a.substr(4, 4)).replace(40, 4, a.substr(40, 4));
        }
        EXPECT_TRUE(a == b) << length;
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

TEST(RenderCommand, WritesTheNotesAsAMidiFileAloneOrBesideAnUnchangedWavFile) {
    test::TempFolder dir;
    const std::string render = "render --sounds " + std::string(MB_KIT_DIR) + " --midi-channel 3";
    ASSERT_EQ(Cli(render + " --midi " + dir.path() + "/alone.mid").status, 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    ASSERT_EQ(Cli(render + " -o " + dir.path() + "/plain.wav").status, 0);
    ASSERT_EQ(
        Cli(render + " -o " + dir.path() + "/with.wav --midi " + dir.path() + "/with.mid").status,
        0);
    const auto bytes = [&](const std::string& name) {
        std::ifstream in(dir.path() + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_TRUE(bytes("plain.wav") == bytes("with.wav"));
    EXPECT_TRUE(bytes("alone.mid") == bytes("with.mid"));

    // Read back by a MIDI library, where there is one: the new setup plays sound j on
    // step j, at 126 BPM.
    const std::string python = "/usr/bin/python3";
    if (std::system((python + " -c 'import mido' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no mido to read the file back";
    const CliRun read =
        Shell(python + " -c \"import mido; m = mido.MidiFile('" + dir.path() +
              "/alone.mid'); on = [x for x in m if x.type == 'note_on']; "
              "print(m.type, round(m.length, 3), len(on), on[0].channel, "
              "[x.note for x in on][:3], round(mido.tempo2bpm(m.tracks[0][0].tempo), 2))\"");
    EXPECT_EQ(read.output, "0 1.815 16 2 [36, 37, 38] 126.0\n");
}

// Every name under a folder (links not followed) with what it holds.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        std::string& what = names[entry.path().lexically_relative(folder).string()];
        if (S_ISREG(st.st_mode)) {
            std::ifstream in(entry.path(), std::ios::binary);
            what = std::string(std::istreambuf_iterator<char>(in), {});
        } else {
            what = S_ISDIR(st.st_mode) ? "folder" : S_ISFIFO(st.st_mode) ? "pipe" : "other";
        }
    }
    return names;
}

TEST(RenderCommand, RefusesWhatIsNotAFileAndNamesTheCauseOfEveryFailure) {
    test::TempFolder dir;
    const std::string render = "render --seconds 0.2 --sounds " + std::string(MB_KIT_DIR);
    std::filesystem::create_directory(dir.path() + "/folder");
    std::ofstream(dir.path() + "/file") << "a file";
    ASSERT_EQ(::mkfifo((dir.path() + "/pipe").c_str(), 0600), 0);
    // A device node like /dev/full; only the superuser may make one.
    const bool device = ::mknod((dir.path() + "/full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
    struct Case {
        std::string arguments;
        std::string message;
    };
    const Case cases[] = {
        {"-o " + dir.path() + "/pipe", "pipe': Not a regular file"},
        {"-o " + dir.path() + "/full", "full': Not a regular file"},
        {"-o " + dir.path() + "/folder", "folder': Is a directory"},
        {"--stems " + dir.path() + "/file", "file': File exists"},
        {"--midi " + dir.path() + "/folder", "folder': Is a directory"},
        {"-o " + dir.path() + "/new.wav --midi " + dir.path() + "/pipe",
         "pipe': Not a regular file"},
        {"-o " + dir.path() + "/same --midi " + dir.path() + "/./same", "would be one file"},
        {"-o - > /dev/full", "standard output: No space left on device"},
    };
    const auto before = Snapshot(dir.path());
    for (const Case& c : cases) {
        if (!device && c.arguments.ends_with("/full"))
            continue;
        const CliRun run = Cli(render + " " + c.arguments);
        EXPECT_EQ(run.status, 1) << c.arguments;
        EXPECT_EQ(Lines(run.output), 1) << c.arguments << ": " << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos)
            << c.arguments << ": " << run.output;
        EXPECT_TRUE(Snapshot(dir.path()) == before) << c.arguments;
    }
}

// Starts marrowbeat-cli with the arguments, its standard output into `out`.
pid_t Spawn(const std::vector<std::string>& arguments, int out) {
    std::vector<char*> argv{const_cast<char*>(MB_CLI_PATH)};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, MB_CLI_PATH, &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

TEST(RenderCommand, ASignalLeavesThePreviousStemsAsTheyWere) {
    for (const int signal : {SIGINT, SIGTERM}) {
        test::TempFolder dir;
        const std::string stems = dir.path() + "/stems";
        const std::string render = "render --seconds 0.2 --sounds " + std::string(MB_KIT_DIR);
        ASSERT_EQ(Cli(render + " --stems " + stems).status, 0);
        const auto before = Snapshot(dir.path());

        // The mix goes into a pipe that nobody reads: the render stops once it is full,
        // with its stems half written.
        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        const pid_t pid = Spawn(
            {"render", "--seconds", "60", "--sounds", MB_KIT_DIR, "-o", "-", "--stems", stems},
            pipe[1]);
        ASSERT_GT(pid, 0);
        ::close(pipe[1]);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (Snapshot(dir.path()).size() == before.size() &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_GT(Snapshot(dir.path()).size(), before.size()) << "the render has begun";
        ::kill(pid, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ::close(pipe[0]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_TRUE(Snapshot(dir.path()) == before) << signal;
    }
}

TEST(RenderCommand, AFullDiskLeavesThePreviousFilesAsTheyWere) {
    // A small file system of this process's own, which goes with it.
    test::TempFolder dir;
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "mounting a file system needs the superuser";
    std::filesystem::create_directory(dir.path() + "/stems");
    std::ofstream(dir.path() + "/mix.wav") << "the previous mix";
    std::ofstream(dir.path() + "/stems/01-kick.wav") << "the previous kick";
    const auto before = Snapshot(dir.path());

    const CliRun run = Cli("render --seconds 1 --sounds " + std::string(MB_KIT_DIR) + " -o " +
                           dir.path() + "/mix.wav --stems " + dir.path() + "/stems");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("No space left on device"), std::string::npos) << run.output;
    EXPECT_TRUE(Snapshot(dir.path()) == before);
    ::umount2(dir.path().c_str(), MNT_DETACH);
}

TEST(RenderCommand, RendersTheKitOnTheGridAsA16BitOrFloatFileAtAnyRate) {
    test::TempFolder dir;
    struct Case {
        bool floatOutput;
        uint32_t rate;
    };
    for (const Case c :
         {Case{false, 44100}, Case{true, 44100}, Case{false, 48000}, Case{true, 96000}}) {
        const bool floatOutput = c.floatOutput;
        const std::string out =
            dir.path() + "/" + std::to_string(c.rate) + (floatOutput ? "f.wav" : "i.wav");
        const CliRun run = Cli("render --sounds " + std::string(MB_KIT_DIR) + " -o " + out +
                               " --seconds 2 --bpm 126 --rate " + std::to_string(c.rate) +
                               (floatOutput ? " --float" : ""));
        ASSERT_EQ(run.status, 0) << run.output;
        WaveReader reader;
        ASSERT_EQ(reader.Open(out), 0u);
        EXPECT_EQ(reader.format()->formatTag, floatOutput ? 3 : 1);
        EXPECT_EQ(reader.format()->channels, 2);
        EXPECT_EQ(reader.format()->samplesPerSec, c.rate);
        EXPECT_EQ(reader.format()->bitsPerSample, floatOutput ? 32 : 16);
        const std::vector<uint8_t> bytes = test::DataBytes(out);
        ASSERT_EQ(bytes.size(), 2u * c.rate * reader.format()->blockAlign);
        // The first sample of every step is the sound's peak: check the onsets of the
        // first steps in the left channel, each on its frame of the grid at this rate.
        for (int k = 0; k < 16; ++k) {
            const auto frame = static_cast<size_t>(
                GridTime{1, 0, k * Sequencer::PeriodFromTempo(126.0)}.OffsetFrames(c.rate));
            if (frame >= 2 * c.rate)
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

// Left-channel samples of a 16-bit stereo WAV file.
std::vector<float> LeftChannel(const std::string& path) {
    const std::vector<uint8_t> bytes = test::DataBytes(path);
    std::vector<float> left;
    for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
        int16_t v = 0;
        std::memcpy(&v, bytes.data() + i, 2);
        left.push_back(v / 32768.0f);
    }
    return left;
}

// A setup whose selected loop 3 plays only its step 0 (sound 0), four steps per pass,
// chained to itself.
void WriteSparseSetup(const std::string& path, const std::string& soundFolder) {
    mb::Setup setup;
    setup.selectedLoop = 3;
    setup.stepCount = 4;
    for (Step& step : setup.loop(3).steps)
        step.on = 0;
    setup.loop(3).steps[0].on = 1;
    setup.loop(3).steps[0].sound = 0;
    setup.loop(3).steps[0].volume = 127;
    setup.masterVolume = 100;
    setup.soundFolder = soundFolder;
    ASSERT_EQ(SetupDocument::WriteFile(path, setup, {}), "");
}

TEST(RenderCommand, RendersASetupFromItsSelectedLoopWithItsStepCount) {
    test::TempFolder dir;
    const std::string setupPath = dir.path() + "/sparse.mbx";
    // The kit's folder stored relative to the setup file, as a setup moved with its
    // sounds would hold it.
    WriteSparseSetup(setupPath, std::filesystem::relative(MB_KIT_DIR, dir.path()).string());
    const std::string out = dir.path() + "/out.wav";
    const CliRun run = Cli("render " + setupPath + " -o " + out + " --seconds 1.5");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<float> left = LeftChannel(out);
    ASSERT_EQ(left.size(), 66150u);
    // One onset per pass of four steps: frames 0 and 21000 sound, the steps between
    // are off.
    EXPECT_GT(std::abs(left[0]), 0.1f);
    EXPECT_GT(std::abs(left[21000]), 0.1f);
    EXPECT_LT(std::abs(left[20999]), 0.001f);
    for (size_t frame : {5250u, 10500u, 15750u})
        EXPECT_LT(std::abs(left[frame]), 0.001f) << frame;
}

TEST(RenderCommand, ASetupWhoseSoundFolderIsGoneNeedsSounds) {
    test::TempFolder dir;
    const std::string setupPath = dir.path() + "/gone.mbx";
    WriteSparseSetup(setupPath, dir.path() + "/nowhere");
    const std::string out = dir.path() + "/out.wav";
    CliRun run = Cli("render " + setupPath + " -o " + out);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Lines(run.output), 1) << run.output;
    EXPECT_NE(run.output.find("--sounds"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(out));

    run = Cli("render " + setupPath + " --sounds " + std::string(MB_KIT_DIR) + " -o " + out +
              " --seconds 0.5 --seed 4294967295");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(std::filesystem::exists(out));

    run = Cli("render " + dir.path() + "/missing.mbx -o " + out);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("missing.mbx"), std::string::npos) << run.output;
}

TEST(InfoCommand, PrintsTheSetupAsJsonOrOneLineOfError) {
    test::TempFolder dir;
    const std::string setupPath = dir.path() + "/sparse.mbx";
    WriteSparseSetup(setupPath, "C:\\Beats\\Kit");
    CliRun run = Cli("info " + setupPath);
    ASSERT_EQ(run.status, 0) << run.output;
    for (const char* expected : {"\"version\": 9001", "\"selectedLoop\": 3", "\"stepCount\": 4",
                                 "\"masterVolume\": 100", "\"loops\": ["})
        EXPECT_NE(run.output.find(expected), std::string::npos) << expected << "\n" << run.output;

    std::ofstream(dir.path() + "/short.mbx", std::ios::binary).write("\x00\xA4\x0C\x46\x00", 5);
    for (const std::string& args : {"info " + dir.path() + "/short.mbx",
                                    "info " + dir.path() + "/missing.mbx", std::string("info")}) {
        run = Cli(args);
        EXPECT_NE(run.status, 0) << args;
        EXPECT_EQ(Lines(run.output), 1) << args << ": " << run.output;
    }
}

TEST(InfoCommand, RefusesFilesThatAreNoSetupAndMendsATempoThatIsNoNumber) {
    test::TempFolder dir;
    const std::string out = dir.path() + "/out.wav";
    const std::string sound = std::string(MB_KIT_DIR) + "/01-kick.wav";
    for (const std::string& command :
         {"info " + sound, "render " + sound + " --sounds " + MB_KIT_DIR + " -o " + out}) {
        const CliRun run = Cli(command);
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_EQ(Lines(run.output), 1) << run.output;
        EXPECT_NE(run.output.find("is not a setup file (version"), std::string::npos) << run.output;
        EXPECT_FALSE(std::filesystem::exists(out));
    }

    struct Case {
        double stored;
        const char* json;     // what info prints
        const char* rendered; // what render reports
        bool told;            // a line on standard error says the tempo was replaced
    };
    for (const Case c : {Case{std::nan(""), "\"bpm\": 126,", "at 126.00 BPM", true},
                         Case{1e300, "\"bpm\": 1e+07,", "at 10000000.00 BPM", false}}) {
        mb::Setup setup;
        setup.bpm = c.stored;
        setup.stepCount = 1;
        const std::string path = dir.path() + "/tempo.mbx";
        ASSERT_EQ(SetupDocument::WriteFile(path, setup, {}), "");
        CliRun run = Cli("info " + path);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find(c.json), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("is not a finite number: it is 126 BPM.") != std::string::npos,
                  c.told)
            << run.output;
        run = Cli("render " + path + " --sounds " + MB_KIT_DIR + " -o " + out + " --seconds 0.1");
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find(c.rendered), std::string::npos) << run.output;
        EXPECT_EQ(Lines(run.output), c.told ? 2 : 1) << run.output;
    }
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(WriteCommand, WritesBackTheFileThatInfoPrintedAndRefusesBadJson) {
    test::TempFolder dir;
    const std::string groove = dir.path() + "/groove.mbx";
    mb::Setup setup;
    setup.loop(2).swing = 70;
    setup.loop(0).steps[3].condition = StepCondition::kLast;
    setup.dDial = 1;
    setup.seed = 12345;
    setup.keptChunks = {{'X', 'T', 'R', 'A', 0, 0, 0, 0}};
    setup.soundFolder = "/kit \u00E9";
    ASSERT_EQ(SetupDocument::WriteFile(groove, setup, {1, 2, 3}), "");
    const std::string back = dir.path() + "/back.mbx";
    for (const std::string& original : {std::string(MB_EXAMPLES_DIR) + "/demo.mbx", groove}) {
        const std::string json = dir.path() + "/setup.json";
        ASSERT_EQ(Cli("info " + original + " > " + json).status, 0) << original;
        CliRun run = Cli("write " + json + " -o " + back);
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(run.output, "");
        EXPECT_EQ(Contents(back), Contents(original)) << original;
        // From standard input, over the file written before.
        run = Cli("info " + original + " | " + MB_CLI_PATH + " write - -o " + back);
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(Contents(back), Contents(original)) << original;
    }

    // A refused text writes nothing and leaves the file there as it was.
    const std::string before = Contents(back);
    std::ofstream(dir.path() + "/bad.json")
        << R"({"loops": [{}, {}, {"steps": [{}, {}, {}, {}, {}, {"condition": "9:4"}]}]})";
    struct Case {
        std::string arguments;
        int status;
        std::string said;
    };
    const Case cases[] = {
        {"write " + dir.path() + "/bad.json -o " + back, 1,
         R"(loops[2].steps[5].condition: "9:4" is not a condition)"},
        {"write " + dir.path() + "/bad.json -o " + dir.path() + "/new.mbx", 1,
         "is not a condition"},
        {"write " + dir.path() + "/missing.json -o " + back, 1, "missing.json"},
        {"write - -o " + back + " < /dev/null", 1, "not JSON"},
        {"write " + dir.path() + "/bad.json", 2, "--output is required"},
    };
    for (const Case& c : cases) {
        const CliRun run = Cli(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_EQ(Lines(run.output), 1) << run.output;
        EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
    }
    EXPECT_EQ(Contents(back), before);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/new.mbx"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
}

} // namespace
} // namespace mb
