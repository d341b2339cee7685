#pragma once

#include <array>

#include "widgets/Color.h"

namespace mb {

// The seven colours of the window, all derived from one base colour: a dark base
// (value up to 70 %) gets light widgets, a light base dark ones. Window thread only.
class ColorScheme {
public:
    static constexpr int kColorCount = 7;

    // Starts with the desktop's colours.
    ColorScheme();

    // Derives all seven colours from base; the base itself is not kept.
    void SetBase(Color base);
    // Colour n, 1 to 7.
    Color GetColor(int n) const { return colors_.at(static_cast<size_t>(n - 1)); }

    // Hue in whole degrees (0 to 359), saturation and value in whole percent.
    struct Hsv {
        int hue;
        int saturation;
        int value;
    };
    static Hsv ToHsv(Color c);
    // Hue in degrees (wrapped once into 0..360), saturation and value in percent (limited
    // to 0..100).
    static Color FromHsv(int hue, int saturation, int value);

    // The contrast of two colours as the web's accessibility guidelines measure it, from
    // 1 (the same) to 21 (black on white): the ratio of their relative luminances plus 0.05.
    static double Contrast(Color a, Color b);
    // The contrast text must reach to be readable.
    static constexpr double kReadableContrast = 4.5;
    // ink when it reaches kReadableContrast on paper, else black or white, whichever
    // stands out more (one of them always reaches it).
    static Color ReadableInk(Color ink, Color paper);

private:
    std::array<Color, kColorCount> colors_;
};

} // namespace mb
