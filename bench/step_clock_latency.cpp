// Runs the real step clock at 126 BPM against a recording sound interface and reports
// how late each step's callback came after the step's due time, for both clock sources.
//
//   bench_step_clock [seconds per clock source, default 30]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/PrecisionTimer.h"
#include "engine/Sequencer.h"
#include "model/Setup.h"
#include "platform/Clocks.h"

namespace {

class Recorder : public mb::MessagePoster, public mb::PlaybackFace, public mb::StepSound {
public:
    void PostMessage(int, intptr_t, intptr_t) override {}
    void SetPlayButton(bool) override {}
    bool IsSoundOn() const override { return true; }
    void SetStepLit(int, bool) override {}
    void SetPlayingLoop(int) override {}
    void TakeStep(const mb::StepEvent& step) override {
        if (!step.on)
            return;
        const int64_t late = mb::MonotonicNs() - step.due.Ns();
        std::lock_guard lock(mutex_);
        lateNs_.push_back(late);
    }
    void SilenceAll() override {}
    void MuteAll() override {}
    void UnmuteAll() override {}

    std::vector<int64_t> Take() {
        std::lock_guard lock(mutex_);
        return std::move(lateNs_);
    }

private:
    std::mutex mutex_;
    std::vector<int64_t> lateNs_;
};

void Run(const char* name, bool cpuClock, int seconds) {
    mb::Setup setup;
    setup.polyphonic = 1;
    Recorder recorder;
    mb::Sequencer sequencer;
    sequencer.Init({&recorder, &recorder, &recorder, nullptr, nullptr}, &setup);
    sequencer.clock()->SetUseCpuClock(cpuClock);
    sequencer.Start();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    sequencer.Stop();

    std::vector<int64_t> late = recorder.Take();
    if (late.size() < 2) {
        std::printf("%-22s no steps recorded\n", name);
        return;
    }
    late.erase(late.begin()); // the first step is taken by Start itself, at its origin
    std::sort(late.begin(), late.end());
    auto at = [&late](double q) {
        return static_cast<double>(
                   late[static_cast<size_t>(q * static_cast<double>(late.size() - 1))]) /
               1e3;
    };
    std::printf(
        "%-22s steps %5zu   late after due time: median %8.1f us   p99 %8.1f us   max %8.1f us\n",
        name, late.size(), at(0.5), at(0.99), static_cast<double>(late.back()) / 1e3);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    std::printf("Step clock at 126 BPM, %d s per clock source\n", seconds);
    Run("time-stamp counter", true, seconds);
    Run("monotonic clock", false, seconds);
    return 0;
}
