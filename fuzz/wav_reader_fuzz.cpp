// Feeds arbitrary bytes to sound loading as a WAV file of the sound folder: the reader,
// the format check, the decoder, and a few blocks of playback of whatever loaded. No
// input may crash, hang, leak or read out of bounds.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "engine/OfflineSession.h"
#include "model/Setup.h"
#include "platform/Notifier.h"

namespace {

const std::string& Folder() {
    static const std::string folder = [] {
        const auto path = std::filesystem::temp_directory_path() /
                          ("marrowbeat-wav-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        return path.string();
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file = Folder() + "/sound.wav";
    FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr)
        return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);

    mb::Setup setup;
    setup.soundFolder = Folder();
    setup.soundNames = {"sound.wav"};
    setup.polyphonic = 1;
    for (mb::Step& step : setup.loop(0).steps)
        step.sound = 0;
    setup.loop(0).steps[1].pitch = 67;
    setup.loop(0).steps[2].pitch = -60;
    mb::SilentNotifier quiet; // a sound that does not load is no finding
    mb::OfflineSession session(setup, quiet);
    session.engine().LoadAll();
    session.Render(3 * 5250);
    return 0;
}
