#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/SetupRecord.h"

namespace mb {

// The binary setup file: little-endian, one sequential pass, no offsets or padding.
// Writes version 9001.0; reads every older version back to 1.0.
//
// The groove (swing, step conditions, the D and E dial functions, the seed) follows the
// sound folder as a trailer of chunks: a four-character tag, a 32-bit length and that
// many bytes. A chunk is written only when its values differ from a new setup's, so a
// setup without groove is saved exactly as before it existed, and a reader that stops
// after the sound folder opens the rest of any file unchanged. Chunks with other tags
// are kept and written back after the known ones.
class SetupFileFormat {
public:
    // Versions whose layouts differ, compared in single precision.
    static constexpr float kFirstVersion = 1.0f;
    static constexpr float kVersionWithLoopLinks = 1.003f;
    static constexpr float kVersionWithNarrowColumns = 1.1f;
    static constexpr float kVersionWithPolyphonic = 1.5f;
    static constexpr float kVersionWithWideSteps = 2.0f;
    static constexpr float kVersionWithSoundFolder = 9001.0f;
    static constexpr float kWrittenVersion = kVersionWithSoundFolder;

    // A new setup saved at once: every field plus the one-byte empty sound folder.
    static constexpr size_t kFixedBytes = 1618;
    static constexpr size_t kLoopRecordBytes = 196;

    // The groove trailer's chunks, in the order they are written.
    static constexpr size_t kChunkHeaderBytes = 8;
    static constexpr std::string_view kSwingTag = "SWNG";     // eight int16 percentages
    static constexpr std::string_view kDialTag = "DIAL";      // int16 DDial, int16 EDial
    static constexpr std::string_view kSeedTag = "SEED";      // uint32
    static constexpr std::string_view kConditionTag = "COND"; // 8 x 16 int16 condition codes

    // Files from 2.0 on that do not store the master volume and E value get these.
    static constexpr int16_t kDefaultMasterVolume = 80;
    static constexpr int16_t kDefaultEValue = 0;
    // In files before 2.0 the step's d value 1 meant 0, anything else 127.
    static constexpr int16_t kOldDValueLow = 0;
    static constexpr int16_t kOldDValueHigh = 127;

    enum class Status {
        kOk,
        // A value or the sound folder's characters run past the end of the data.
        kTruncated,
        // The sound folder's length prefix is malformed.
        kBadString,
        // The version is not a number from kFirstVersion to kWrittenVersion: the data is
        // not a setup file at all (a sound, a picture, a file of a later program).
        kNotSetup,
        // A value that no setup can hold: a step count or a loop index out of range.
        kBadValue,
    };

    struct ReadResult {
        Status status = Status::kOk;
        // Where reading stopped: the size of the data when truncated.
        size_t offset = 0;
        // kNotSetup and kBadValue: what is wrong, e.g. "version 1.2e+12" or "step count
        // 40 out of range (1 to 16)".
        std::string problem;
        // The stored tempo when it was not a finite number; the record then holds
        // kDefaultBpm. Any other tempo is brought into kMinBpm to kMaxBpm silently.
        std::optional<double> unusableTempo;
        // The groove trailer could not be read (a chunk cut short, a value no setup
        // holds): what is wrong, e.g. "loop 3's swing 80 out of range (50 to 75)". The
        // record then holds a new setup's groove and everything else as read.
        std::string grooveProblem;
        SetupRecord record;
    };

    static std::vector<uint8_t> Write(const SetupRecord& record);
    // Reads a whole file and checks it: a record comes back only when every value can be
    // a setup, so that a file that is not one changes nothing. The version decides the
    // layout; bytes after the sound folder that are no groove trailer are ignored, as
    // every earlier reader ignored them.
    static ReadResult Read(std::span<const uint8_t> data);

    // Why chunk (tag, length and content) cannot be kept as a chunk this version does not
    // know, or empty.
    static std::string CheckKeptChunk(std::span<const uint8_t> chunk);

private:
    // Files before 2.0: pitch, sound, volume and pan as now, then `on` and a two-valued
    // d value as 32-bit values.
    static void ReadOldStep(ByteReader& in, SetupRecord::StepValues& s);
    static void ReadOldTrailer(ByteReader& in, SetupRecord& r);
    static void WriteGroove(ByteWriter& out, const SetupRecord& r);
    // Reads the bytes after the sound folder into r's groove. True when they are a
    // trailer of whole chunks; otherwise false, r keeps a new setup's groove, and
    // problem says what is wrong when the chunks reach a known tag.
    static bool ReadGroove(std::span<const uint8_t> rest, SetupRecord& r, std::string& problem);
    // The problem of the first value out of range, or empty.
    static std::string CheckValues(const SetupRecord& r);
};

} // namespace mb
