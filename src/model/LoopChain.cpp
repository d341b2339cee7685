#include "model/LoopChain.h"

#include <algorithm>
#include <array>

#include "model/Setup.h"

namespace mb {

namespace {

int ValidLoop(int n) {
    return std::clamp(n, 0, kLoopCount - 1);
}

} // namespace

LoopChain LoopChain::Of(const Setup& setup) {
    // Where each loop stands in playing order; -1: not played yet.
    std::array<int, kLoopCount> order;
    order.fill(-1);
    Entries played;
    int loop = ValidLoop(setup.selectedLoop);
    while (order[static_cast<size_t>(loop)] < 0) {
        order[static_cast<size_t>(loop)] = static_cast<int>(played.size());
        played.push_back({loop, std::max<int64_t>(setup.loop(loop).repeatCount, 1)});
        loop = ValidLoop(setup.loop(loop).nextLoop);
    }
    const Entry* cycleStart = played.begin() + order[static_cast<size_t>(loop)];
    LoopChain chain;
    for (const Entry* e = played.begin(); e != played.end(); ++e)
        (e < cycleStart ? chain.leadIn : chain.cycle).push_back(*e);
    for (const Entry& e : chain.leadIn)
        chain.leadInPasses += e.passes;
    for (const Entry& e : chain.cycle)
        chain.cyclePasses += e.passes;
    return chain;
}

std::vector<bool> LoopChain::LoopsIn(int64_t passes) const {
    std::vector<bool> in(kLoopCount, false);
    // After the lead-in and one round every loop of the chain has played.
    int64_t begun = 0;
    for (const Entries* part : {&leadIn, &cycle}) {
        for (const Entry& e : *part) {
            if (begun < passes)
                in[static_cast<size_t>(e.loop)] = true;
            begun += e.passes;
        }
    }
    return in;
}

LoopChain::Place LoopChain::PassAt(int64_t pass) const {
    pass = std::max<int64_t>(pass, 0);
    const Entries* part = &leadIn;
    if (pass >= leadInPasses) {
        part = &cycle;
        pass = cyclePasses > 0 ? (pass - leadInPasses) % cyclePasses : 0;
    }
    for (const Entry& e : *part) {
        if (pass < e.passes)
            return {e.loop, pass};
        pass -= e.passes;
    }
    return {};
}

} // namespace mb
