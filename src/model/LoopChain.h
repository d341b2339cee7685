#pragma once

#include <cstdint>
#include <vector>

namespace mb {

class Setup;

// The loops a start plays, from the selected loop along the chain of next loops, each
// for its repeat count of passes (0 or less acts as 1). Since every loop has one next
// loop, the chain always comes back to a loop it has played: from there on it goes round
// a cycle for good. The loops before the cycle are its lead-in, played once.
struct LoopChain {
    struct Entry {
        int loop = 0; // 0 to 7
        int64_t passes = 1;
    };
    // In playing order; no loop is in both or twice in one.
    std::vector<Entry> leadIn;
    std::vector<Entry> cycle;
    // Passes (measures) of the lead-in and of one round of the cycle.
    int64_t leadInPasses = 0;
    int64_t cyclePasses = 0;

    static LoopChain Of(const Setup& setup);

    // The chain comes back to the loop it starts from.
    bool ReturnsToStart() const { return leadIn.empty(); }
    // Passes of the lead-in and `rounds` rounds of the cycle.
    int64_t PassesFor(int64_t rounds) const { return leadInPasses + rounds * cyclePasses; }
    // Which loops (by number) play within the first `passes` passes.
    std::vector<bool> LoopsIn(int64_t passes) const;

    // The loop that plays pass `pass` (0: the first) of a start, and how many passes of
    // that loop came just before it.
    struct Place {
        int loop = 0;
        int64_t passesBefore = 0;
    };
    Place PassAt(int64_t pass) const;
};

} // namespace mb
