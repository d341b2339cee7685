#pragma once

#include <atomic>
#include <cstdint>

namespace mb {

// Which runs of one step clock have ended. Runs are numbered up from 1 and a stop ends
// the run in progress, so one number says it all: the last run ended (it and every run
// before it are over).
//
// Threads. The owner of the runs (the sequencer, on the window thread) ends a run here
// before it tells anyone else of the stop; whatever lets a run's steps sound (the mixer
// on the audio thread, the MIDI sender on its output's thread) asks here first. So no
// step of a run sounds once its stop is published, whatever order the commands that
// carry the step and the stop are read in.
class RunEnds {
public:
    // The owner's thread: `run` and every run before it have ended.
    void End(uint32_t run) { last_.store(run, std::memory_order_seq_cst); }
    // Any thread. Run 0 (a command on no run's grid) never ends.
    bool Ended(uint32_t run) const { return Covers(last_.load(std::memory_order_seq_cst), run); }

    // Whether ending run `last` ends `run` too (numbers wrap; 0 ends nothing).
    static bool Covers(uint32_t last, uint32_t run) {
        return run != 0 && static_cast<int32_t>(last - run) >= 0;
    }

private:
    std::atomic<uint32_t> last_{0};
};

} // namespace mb
