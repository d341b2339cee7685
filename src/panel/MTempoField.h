#pragma once

#include <string>

#include "model/Setup.h"
#include "panel/MDial.h"

namespace mb {

// The tempo: a dial whose arrows and field edit a floating-point number of beats per
// minute, shown either in beats per minute or in samples per measure (5292000 / bpm).
// The dial's integer value, range and slider are not used. Window thread only.
class MTempoField : public MDial {
public:
    // Samples per measure times beats per minute: 44100 samples a second, four beats a
    // measure, sixty seconds a minute.
    static constexpr double kConversion = 5292000.0;
    static constexpr double kSemitoneRatio = 1.0594630943592953;
    static constexpr double kOctaveRatio = 2.0;
    static constexpr double kMaximum = kMaxBpm;
    static constexpr double kMinimum = kMinBpm;
    static constexpr double kDefaultTempo = kDefaultBpm;

    ~MTempoField() override;
    // Leaving the field takes the typed number as the tempo, unless the text is the one
    // last shown.
    void OnFieldLeave() override;
    // Multiplies (+1) or divides (-1) the tempo by a semitone, or by an octave when large.
    void Step(int delta, bool large) override;

    using MDial::Create;
    // The arrows at (x, y) and (x, y + 9), the number field at (x + 7, y + 3); 126 bpm.
    void Create(int id, int x, int y, WidgetOwner* owner);

    // Shows bpm, as MendTempo keeps it.
    void SetTempo(double bpm);
    double GetTempo() const { return tempo_; }
    void SetUnit(int unit);
    int GetUnit() const { return unit_; }
    // Writes the tempo in the current unit into the field.
    void ShowTempo();

private:
    double tempo_ = kDefaultTempo;
    double shown_ = 0.0;
    std::string text_;
    int unit_ = kTempoUnitBpm;
};

} // namespace mb
