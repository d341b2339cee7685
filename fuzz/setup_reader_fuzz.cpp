// Feeds arbitrary bytes to the setup file reader. A file that reads must hold a tempo in
// range and indexes a setup can use, apply to a setup, print as JSON, and survive a write
// and a second read with every field unchanged (the version aside, which the writer
// always sets).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "files/SetupFileFormat.h"
#include "files/SetupJson.h"
#include "model/Setup.h"

namespace {

bool SameRecord(const mb::SetupRecord& a, const mb::SetupRecord& b) {
    const auto sameSteps = [](const mb::SetupRecord::StepValues& x,
                              const mb::SetupRecord::StepValues& y) {
        return x.on == y.on && x.pitch == y.pitch && x.sound == y.sound && x.volume == y.volume &&
               x.pan == y.pan && x.dValue == y.dValue;
    };
    for (size_t i = 0; i < a.loops.size(); ++i) {
        if (a.loops[i].nextLoop != b.loops[i].nextLoop ||
            a.loops[i].repeatCount != b.loops[i].repeatCount)
            return false;
        for (size_t j = 0; j < a.loops[i].steps.size(); ++j) {
            if (!sameSteps(a.loops[i].steps[j], b.loops[i].steps[j]))
                return false;
        }
    }
    return std::memcmp(&a.bpm, &b.bpm, sizeof a.bpm) == 0 && a.tempoUnit == b.tempoUnit &&
           a.legacyA == b.legacyA && a.legacyB == b.legacyB && a.selectedLoop == b.selectedLoop &&
           a.muted == b.muted && a.face.color == b.face.color && a.face.windowX == b.face.windowX &&
           a.face.windowY == b.face.windowY && a.stepCount == b.stepCount &&
           a.polyphonic == b.polyphonic &&
           a.masterVolume.value_or(mb::SetupFileFormat::kDefaultMasterVolume) ==
               b.masterVolume.value_or(mb::SetupFileFormat::kDefaultMasterVolume) &&
           a.eValue.value_or(mb::SetupFileFormat::kDefaultEValue) ==
               b.eValue.value_or(mb::SetupFileFormat::kDefaultEValue) &&
           a.soundFolder.value_or("") == b.soundFolder.value_or("");
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
        !SameRecord(first.record, second.record))
        std::abort();
    return 0;
}
