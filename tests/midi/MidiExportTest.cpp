// The window's Export MIDI: the file the command-line tool writes for the same setup.
#include <filesystem>
#include <fstream>
#include <iterator>

#include <QTest>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/AudioExporter.h"
#include "app/Command.h"

namespace mb {
namespace {

class MidiExportTest : public ::testing::Test, protected test::AppFixture {};

TEST_F(MidiExportTest, WritesOnePassAsTheCommandLineDoesAndNothingWhenCancelled) {
    const std::string setup = WriteDemo("demo.mbx", MARROWBEAT_KIT_FOLDER);
    Start(setup);
    prompts.notes.clear();
    window->Commands().Run({Command::kExportMidi});
    ASSERT_FALSE(prompts.asked.empty());
    EXPECT_TRUE(prompts.asked.back().ends_with("demo.mid")) << prompts.asked.back();
    EXPECT_FALSE(Probe(*window).Exporter().Busy()) << "cancelled";

    const std::string exported = Scratch("window.mid");
    prompts.midiPaths.push_back(exported);
    window->Commands().Run({Command::kExportMidi});
    QTRY_VERIFY_WITH_TIMEOUT(!Probe(*window).Exporter().Busy(), 30000);
    EXPECT_TRUE(prompts.notes.empty()) << prompts.notes.front();

    const std::string command = std::string(MARROWBEAT_CLI) + " render " + setup + " --midi " +
                                Scratch("cli.mid") + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto bytes = [](const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_GT(bytes(exported).size(), 30u);
    EXPECT_TRUE(bytes(exported) == bytes(Scratch("cli.mid")));
}

} // namespace
} // namespace mb
