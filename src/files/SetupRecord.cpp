#include "files/SetupRecord.h"

#include <optional>
#include <type_traits>

#include "files/SetupFields.h"
#include "model/Setup.h"

namespace mb {

namespace {

template <typename T> constexpr bool kIsOptional = false;
template <typename T> constexpr bool kIsOptional<std::optional<T>> = true;

} // namespace

SetupRecord SetupRecord::FromSetup(const Setup& setup, const SetupFace& face) {
    SetupRecord r;
    r.version = setup.fileVersion;
    r.face = face;
    const auto take = [](const auto& from) {
        return [&from](const SetupField&, auto& value, auto member) {
            if constexpr (!std::is_same_v<decltype(member), InFace>)
                value = from.*member;
        };
    };
    VisitFieldsBeforeLoops(r, take(setup));
    for (int i = 0; i < kLoopCount; ++i) {
        const Loop& loop = setup.loop(i);
        LoopValues& out = r.loops[static_cast<size_t>(i)];
        VisitLoopLinkFields(out, take(loop));
        for (size_t j = 0; j < out.steps.size(); ++j) {
            VisitStepValues(
                [](const StepField&, int16_t& to, const Relaxed<int16_t>& from) { to = from; },
                out.steps[j], loop.steps[j]);
            out.conditions[j] = loop.steps[j].condition;
        }
        out.swing = loop.swing;
    }
    VisitFieldsAfterLoops(r, take(setup));
    r.dDial = setup.dDial;
    r.eDial = setup.eDial;
    r.seed = setup.seed;
    r.keptChunks = setup.keptChunks;
    return r;
}

void SetupRecord::ApplyTo(Setup& setup) const {
    setup.fileVersion = version;
    // A field the file did not hold leaves the setup's value; ranged fields are
    // clamped.
    const auto give = [](auto& to) {
        return [&to](const SetupField& field, const auto& value, auto member) {
            using Value = std::remove_cvref_t<decltype(value)>;
            if constexpr (std::is_same_v<decltype(member), InFace>) {
                return;
            } else if constexpr (kIsOptional<Value>) {
                if (value)
                    to.*member = field.Clamp(*value);
            } else {
                to.*member = field.Clamp(value);
            }
        };
    };
    VisitFieldsBeforeLoops(*this, give(setup));
    for (int i = 0; i < kLoopCount; ++i) {
        Loop& loop = setup.loop(i);
        const LoopValues& in = loops[static_cast<size_t>(i)];
        VisitLoopLinkFields(in, give(loop));
        for (size_t j = 0; j < in.steps.size(); ++j) {
            VisitStepValues(
                [](const StepField&, Relaxed<int16_t>& to, const int16_t& from) { to = from; },
                loop.steps[j], in.steps[j]);
            loop.steps[j].condition = in.conditions[j];
        }
        loop.swing = in.swing;
    }
    VisitFieldsAfterLoops(*this, give(setup));
    setup.dDial = dDial;
    setup.eDial = eDial;
    setup.seed = seed;
    setup.keptChunks = keptChunks;
}

} // namespace mb
