// Feeds arbitrary bytes to the setup file reader. A file that reads must hold a tempo in
// range and indexes a setup can use, apply to a setup, print as JSON, and survive a write
// and a second read with every field unchanged (the version aside, which the writer
// always sets).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "files/SetupFields.h"
#include "files/SetupFileFormat.h"
#include "files/SetupJson.h"
#include "model/Setup.h"

namespace {

// Every stored field of a record, in file order, as text: a tempo bit for bit (a NaN
// equals itself), a field the record may lack as what the writer stores for it, then the
// groove.
std::vector<std::string> Fields(const mb::SetupRecord& r) {
    std::vector<std::string> out;
    const auto add = [&out](const mb::SetupField& field, const auto& value, auto) {
        using T = std::remove_cvref_t<decltype(value)>;
        if constexpr (std::is_floating_point_v<T>)
            out.emplace_back(reinterpret_cast<const char*>(&value), sizeof value);
        else if constexpr (std::is_same_v<T, std::optional<std::string>>)
            out.push_back(value.value_or(""));
        else if constexpr (requires { value.value_or(field.absent); })
            out.push_back(std::to_string(value.value_or(field.absent)));
        else
            out.push_back(std::to_string(value));
    };
    mb::VisitFieldsBeforeLoops(r, add);
    for (const auto& loop : r.loops) {
        mb::VisitLoopLinkFields(loop, add);
        for (const auto& step : loop.steps)
            mb::VisitStepValues(
                [&out](const mb::StepField&, auto v) { out.push_back(std::to_string(v)); }, step);
    }
    mb::VisitFieldsAfterLoops(r, add);
    for (const auto& loop : r.loops) {
        out.push_back(std::to_string(loop.swing));
        for (int16_t code : loop.conditions)
            out.push_back(std::to_string(code));
    }
    out.push_back(std::to_string(r.dDial));
    out.push_back(std::to_string(r.eDial));
    out.push_back(std::to_string(r.seed));
    for (const auto& chunk : r.keptChunks)
        out.emplace_back(chunk.begin(), chunk.end());
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto first = mb::SetupFileFormat::Read({data, size});
    if (first.status != mb::SetupFileFormat::Status::kOk)
        return 0;

    mb::Setup setup;
    first.record.ApplyTo(setup);
    if (setup.selectedLoop < 0 || setup.selectedLoop > 7 || setup.stepCount < 1 ||
        setup.stepCount > 16 || !(setup.bpm >= mb::kMinBpm && setup.bpm <= mb::kMaxBpm) ||
        first.record.stepCount != setup.stepCount ||
        first.record.selectedLoop != setup.selectedLoop)
        std::abort();
    const std::string json = mb::SetupJson::Write(setup, first.record.face);
    if (json.empty())
        std::abort();

    const std::vector<uint8_t> bytes = mb::SetupFileFormat::Write(first.record);
    const auto second = mb::SetupFileFormat::Read(bytes);
    if (second.status != mb::SetupFileFormat::Status::kOk || second.offset != bytes.size() ||
        Fields(first.record) != Fields(second.record))
        std::abort();
    return 0;
}
