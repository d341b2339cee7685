#include "widgets/ColorScheme.h"

#include <algorithm>
#include <cmath>

#include "widgets/SystemColors.h"

namespace mb {

namespace {

// A base whose value is above this (in whole percent) counts as light.
static constexpr int kDarkValueLimit = 70;

struct Triple {
    int hueOffset;
    int saturation;
    int value;
};

// (hue offset, saturation %, value %) of colours 1 to 7.
static constexpr std::array<Triple, ColorScheme::kColorCount> kDarkBase = {{
    {-10, 30, 90},
    {-50, 40, 70},
    {0, 80, 15},
    {10, 60, 60},
    {0, 45, 40},
    {0, 90, 0},
    {-100, 50, 70},
}};
static constexpr std::array<Triple, ColorScheme::kColorCount> kLightBase = {{
    {90, 50, 40},
    {-10, 60, 70},
    {0, 10, 100},
    {-100, 50, 75},
    {0, 30, 100},
    {-100, 40, 45},
    {40, 40, 60},
}};

} // namespace

ColorScheme::ColorScheme()
    : colors_{SystemColors::ButtonShadow(),     SystemColors::ButtonFace(),
              SystemColors::ButtonHighlight(),  SystemColors::Highlight(),
              SystemColors::Highlight(),        SystemColors::HighlightText(),
              SystemColors::DesktopBackground()} {}

ColorScheme::Hsv ColorScheme::ToHsv(Color c) {
    const double r = RedOf(c) / 255.0;
    const double g = GreenOf(c) / 255.0;
    const double b = BlueOf(c) / 255.0;
    const double value = std::max({r, g, b});
    const double m = std::min({r, g, b});
    double saturation = 0.0;
    double hue = 0.0;
    if (value != 0.0) {
        saturation = (value - m) / value;
        if (saturation != 0.0) {
            const double d = value - m;
            const double rc = (value - r) / d;
            const double gc = (value - g) / d;
            const double bc = (value - b) / d;
            if (r == value)
                hue = bc - gc;
            else if (g == value)
                hue = 2.0 + rc - bc;
            else
                hue = 4.0 + gc - rc;
            hue *= 60.0;
            if (hue < 0.0)
                hue += 360.0;
        }
    }
    return {static_cast<int>(hue), static_cast<int>(saturation * 100.0),
            static_cast<int>(value * 100.0)};
}

Color ColorScheme::FromHsv(int hue, int saturation, int value) {
    double h = hue;
    if (h < 0.0) {
        h += 360.0;
        if (h < 0.0)
            h = 0.0;
    }
    if (h > 360.0)
        h = std::min(h - 360.0, 360.0);
    const double s = std::clamp(saturation / 100.0, 0.0, 1.0);
    const double v = std::clamp(value / 100.0, 0.0, 1.0);
    double red = v;
    double green = v;
    double blue = v;
    if (s != 0.0) {
        if (h == 360.0)
            h = 0.0;
        h /= 60.0;
        const int i = static_cast<int>(std::floor(h));
        const double f = h - i;
        const double p = v * (1.0 - s);
        const double q = v * (1.0 - s * f);
        const double t = v * (1.0 - s * (1.0 - f));
        // (red, green, blue) of the six sextants of the colour wheel.
        const double sextants[6][3] = {{v, t, p}, {q, v, p}, {p, v, t},
                                       {p, q, v}, {t, p, v}, {v, p, q}};
        const int k = std::clamp(i, 0, 5);
        red = sextants[k][0];
        green = sextants[k][1];
        blue = sextants[k][2];
    }
    return MakeColor(static_cast<int>(red * 255.0), static_cast<int>(green * 255.0),
                     static_cast<int>(blue * 255.0));
}

void ColorScheme::SetBase(Color base) {
    const Hsv hsv = ToHsv(base);
    const auto& column = hsv.value <= kDarkValueLimit ? kDarkBase : kLightBase;
    for (size_t i = 0; i < colors_.size(); ++i)
        colors_[i] = FromHsv(hsv.hue + column[i].hueOffset, column[i].saturation, column[i].value);
}

namespace {

double Linear(int channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(Color c) {
    return 0.2126 * Linear(RedOf(c)) + 0.7152 * Linear(GreenOf(c)) + 0.0722 * Linear(BlueOf(c));
}

} // namespace

double ColorScheme::Contrast(Color a, Color b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

Color ColorScheme::ReadableInk(Color ink, Color paper) {
    if (Contrast(ink, paper) >= kReadableContrast)
        return ink;
    const Color black = MakeColor(0, 0, 0);
    const Color white = MakeColor(255, 255, 255);
    return Contrast(black, paper) >= Contrast(white, paper) ? black : white;
}

} // namespace mb
