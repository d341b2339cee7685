#include "panel/MTempoField.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace mb {

namespace {

// The dial under the tempo: its integer range and Ctrl step are never used for the tempo.
static constexpr int kIntegerMaximum = 1000000;
static constexpr int kIntegerCtrlStep = 10;
// A float at or beyond this magnitude has no 32-bit integer part to compare with.
static constexpr float kIntLimit = 2147483648.0f;

// Typed text as a number in single precision, as the field shows numbers; beyond the
// range of a float, an infinity of its sign (converting such a double to float is
// undefined).
double TypedNumber(const std::string& text) {
    const double typed = std::atof(text.c_str());
    if (std::fabs(typed) > std::numeric_limits<float>::max())
        return std::copysign(HUGE_VAL, typed);
    return static_cast<float>(typed);
}

} // namespace

MTempoField::~MTempoField() = default;

void MTempoField::Create(int id, int x, int y, WidgetOwner* owner) {
    Layout layout;
    layout.upName = "UPARROW";
    layout.downName = "DNARROW";
    layout.downDy = 9;
    layout.fieldDx = 7;
    layout.fieldDy = 3;
    layout.fieldWidth = 53;
    layout.fieldHeight = 13;
    layout.minimum = 0;
    layout.maximum = kIntegerMaximum;
    layout.ctrlStep = kIntegerCtrlStep;
    MDial::Create(id, x, y, layout, owner);
    tempo_ = kDefaultTempo;
    unit_ = kTempoUnitBpm;
    ShowTempo();
}

void MTempoField::SetTempo(double bpm) {
    tempo_ = MendTempo(bpm).bpm;
    ShowTempo();
}

void MTempoField::SetUnit(int unit) {
    unit_ = unit;
    ShowTempo();
}

void MTempoField::ShowTempo() {
    const double x = unit_ == kTempoUnitSamples ? kConversion / tempo_ : tempo_;
    // Shown in single precision: whole numbers without decimals, others with three.
    const float f = static_cast<float>(x);
    const bool whole = std::isfinite(f) && std::fabs(f) < kIntLimit &&
                       f == static_cast<float>(static_cast<int32_t>(f));
    char text[64];
    std::snprintf(text, sizeof text, whole ? "%.0f" : "%.3f", static_cast<double>(f));
    text_ = text;
    Field().SetTextQuiet(text_);
    shown_ = static_cast<float>(std::atof(Field().GetText().c_str()));
}

void MTempoField::Step(int delta, bool large) {
    const double ratio = large ? kOctaveRatio : kSemitoneRatio;
    const int16_t d = static_cast<int16_t>(delta);
    if (d == 1)
        tempo_ = tempo_ * ratio;
    else if (d == -1)
        tempo_ = tempo_ / ratio;
    tempo_ = MendTempo(tempo_).bpm;
    ShowTempo();
}

void MTempoField::OnFieldLeave() {
    double v = TypedNumber(Field().GetText());
    if (v == shown_)
        return;
    if (unit_ == kTempoUnitSamples)
        v = 44100.0 / v * 120.0;
    // A typed tempo keeps to the arrows' range, so that playback never divides by zero or
    // waits forever; text that is no number at all leaves the tempo alone, and an infinite
    // tempo (a number beyond a float's range, or 0 samples per measure) is the nearer end
    // of the range. Either way the field then shows the tempo actually taken.
    if (std::isnan(v)) {
        ShowTempo();
        return;
    }
    const double taken = std::isinf(v) ? (v > 0 ? kMaximum : kMinimum) : MendTempo(v).bpm;
    tempo_ = taken;
    shown_ = taken;
    if (taken != v)
        ShowTempo();
}

} // namespace mb
