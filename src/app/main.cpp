// Until the window exists, the program plays the new setup's step clock in the
// terminal: it prints each step as it is taken, for the number of seconds given
// (default 5).
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "engine/Sequencer.h"
#include "model/Setup.h"
#include "platform/Clocks.h"

namespace {

class TerminalPorts : public mb::MessagePoster, public mb::PlaybackFace, public mb::StepSound {
public:
    void PostMessage(int, intptr_t, intptr_t) override {}
    void SetPlayButton(bool) override {}
    bool IsSoundOn() const override { return true; }
    void SetStepLit(int, bool) override {}
    void SetPlayingLoop(int) override {}
    void PlayStep(int loop, int step, mb::DueTimeNs due) override {
        const double lateMs = static_cast<double>(mb::MonotonicNs() - due) / 1e6;
        std::printf("loop %d step %2d  (%.3f ms after its due time)\n", loop + 1, step + 1, lateMs);
        std::fflush(stdout);
    }
    void SilenceStep(int, int, mb::DueTimeNs) override {}
    void SilenceAll() override {}
    void MuteAll() override {}
    void UnmuteAll() override {}
};

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    std::printf("Marrowbeat: the window is not built yet. Playing the new setup's step clock "
                "at 126 BPM for %d s (no sound yet).\n",
                seconds);
    mb::Setup setup;
    TerminalPorts ports;
    mb::Sequencer sequencer;
    sequencer.Init({&ports, &ports, &ports, nullptr, nullptr}, &setup);
    sequencer.Start();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    sequencer.Stop();
    return 0;
}
