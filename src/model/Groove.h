#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mb {

// The groove a setup can play on top of its steps: each loop's swing, what the D and E
// dials play, and each step's condition. Every default is neutral: a setup that does
// not touch them sounds exactly as one from before they existed.

// Swing of a loop: the share of a pair of steps its first step takes, in percent. 50 is
// straight, 66 a triplet feel, 75 dotted.
inline constexpr int kStraightSwing = 50;
inline constexpr int kMaxSwing = 75;

// What the steps' D value plays.
enum class DDial : int16_t {
    kNothing = 0,
    kChance = 1,  // D >= 64 always plays; below, with probability D / 64
    kDelay = 2,   // 64 on the step; 0 half a step early, 127 half a step late
    kRepeats = 3, // 64 and below one hit; above, up to 8 evenly spaced hits in the step
};
inline constexpr int kDDialCount = 4;

// What the master E value plays.
enum class EDial : int16_t {
    kNothing = 0,
    kTranspose = 1, // every step's pitch plus E, kept within the pitch range
};
inline constexpr int kEDialCount = 2;

// The D value every step of a new setup has, neutral for every D function.
inline constexpr int kNeutralD = 64;

// When a step that is on plays. Stored as one 16-bit code: 0 always, 1 to 6 the named
// conditions, and kRatioBase + (B - 2) x 8 + (A - 1) for A:B (the A-th of every B passes
// of its loop, B 2 to 8, A 1 to B).
struct StepCondition {
    enum Kind : int16_t {
        kAlways = 0,
        kFirst = 1, // the loop's first pass since Play or since it was entered
        kNotFirst = 2,
        kLast = 3, // the last repeat before the chain moves on
        kNotLast = 4,
        kPrevious = 5, // the nearest earlier conditional step in this loop played
        kNotPrevious = 6,
        kRatio = 7,
    };
    static constexpr int16_t kRatioBase = 16;
    static constexpr int kMinRatioB = 2;
    static constexpr int kMaxRatioB = 8;

    Kind kind = kAlways;
    int a = 1;
    int b = 2;

    // The condition a stored code names; an unknown code plays always.
    static StepCondition FromCode(int code);
    static StepCondition Ratio(int a, int b) { return {kRatio, a, b}; }
    int16_t Code() const;
    // The text of the setup's JSON: "always", "2:4", "first", "!first", "last", "!last",
    // "previous", "!previous"; FromText accepts exactly these (and A:B in range).
    std::string Text() const;
    static std::optional<StepCondition> FromText(std::string_view text);
    static bool ValidCode(int code) { return FromCode(code).Code() == code; }
    bool operator==(const StepCondition&) const = default;
};

// The names of the dials' functions in the setup's JSON, by value.
const char* DDialText(DDial dial);
const char* EDialText(EDial dial);
std::optional<DDial> DDialFromText(std::string_view text);
std::optional<EDial> EDialFromText(std::string_view text);

} // namespace mb
