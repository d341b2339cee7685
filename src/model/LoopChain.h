#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/Loop.h"

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
    // Loops in playing order, each at most once: kept in place, so that a chain is made
    // without allocating (a plugin host's audio thread places the chain at every start).
    class Entries {
    public:
        void push_back(const Entry& e) {
            if (size_ < items_.size())
                items_[size_++] = e;
        }
        const Entry* begin() const { return items_.data(); }
        const Entry* end() const { return items_.data() + size_; }
        bool empty() const { return size_ == 0; }
        size_t size() const { return size_; }
        const Entry& front() const { return items_[0]; }

    private:
        std::array<Entry, kLoopCount> items_{};
        size_t size_ = 0;
    };
    // No loop is in both or twice in one.
    Entries leadIn;
    Entries cycle;
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
