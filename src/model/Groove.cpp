#include "model/Groove.h"

#include <array>
#include <charconv>

namespace mb {

namespace {

constexpr std::array<const char*, 7> kNamedConditions = {"always", "first",    "!first",   "last",
                                                         "!last",  "previous", "!previous"};
constexpr std::array<const char*, kDDialCount> kDDialTexts = {"nothing", "chance", "delay",
                                                              "repeats"};
constexpr std::array<const char*, kEDialCount> kEDialTexts = {"nothing", "transpose"};

} // namespace

StepCondition StepCondition::FromCode(int code) {
    if (code > kAlways && code < kRatio)
        return {static_cast<Kind>(code), 1, 2};
    const int ratio = code - kRatioBase;
    if (ratio >= 0 && ratio < (kMaxRatioB - kMinRatioB + 1) * 8) {
        const int b = ratio / 8 + kMinRatioB;
        const int a = ratio % 8 + 1;
        if (a <= b)
            return Ratio(a, b);
    }
    return {};
}

int16_t StepCondition::Code() const {
    if (kind == kRatio)
        return static_cast<int16_t>(kRatioBase + (b - kMinRatioB) * 8 + (a - 1));
    return kind;
}

std::string StepCondition::Text() const {
    if (kind == kRatio)
        return std::to_string(a) + ":" + std::to_string(b);
    return kNamedConditions[static_cast<size_t>(kind)];
}

std::optional<StepCondition> StepCondition::FromText(std::string_view text) {
    for (size_t i = 0; i < kNamedConditions.size(); ++i)
        if (text == kNamedConditions[i])
            return StepCondition{static_cast<Kind>(i), 1, 2};
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    int a = 0;
    int b = 0;
    const auto readA = std::from_chars(text.data(), text.data() + colon, a);
    const auto readB = std::from_chars(text.data() + colon + 1, text.data() + text.size(), b);
    if (readA.ec != std::errc{} || readA.ptr != text.data() + colon || readB.ec != std::errc{} ||
        readB.ptr != text.data() + text.size())
        return std::nullopt;
    if (b < kMinRatioB || b > kMaxRatioB || a < 1 || a > b)
        return std::nullopt;
    return Ratio(a, b);
}

const char* DDialText(DDial dial) {
    const auto i = static_cast<size_t>(dial);
    return i < kDDialTexts.size() ? kDDialTexts[i] : kDDialTexts[0];
}

const char* EDialText(EDial dial) {
    const auto i = static_cast<size_t>(dial);
    return i < kEDialTexts.size() ? kEDialTexts[i] : kEDialTexts[0];
}

std::optional<DDial> DDialFromText(std::string_view text) {
    for (size_t i = 0; i < kDDialTexts.size(); ++i)
        if (text == kDDialTexts[i])
            return static_cast<DDial>(i);
    return std::nullopt;
}

std::optional<EDial> EDialFromText(std::string_view text) {
    for (size_t i = 0; i < kEDialTexts.size(); ++i)
        if (text == kEDialTexts[i])
            return static_cast<EDial>(i);
    return std::nullopt;
}

} // namespace mb
