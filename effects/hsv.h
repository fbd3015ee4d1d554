// Hue, saturation and value of the colour effects (Antimatter, HSB Noise).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "noise/random.h"
#include "raster/numeric.h"

namespace zoka {

// The hue in sixths of a turn (-1..5), or none for a grey pixel (saturation
// 0, or no spread between the channels).
struct HueSixths {
    double h6;
    double s;
    double v;
    bool grey;
};

// Channels in 0..1; the tests compare red, then green, with the maximum.
inline HueSixths RgbToHueSixths(double r, double g, double b) {
    const double v = std::max({r, g, b});
    const double d = v - std::min({r, g, b});
    const double s = v > 1e-7 ? d / v : 0;
    if (s == 0 || std::fabs(d) < 1e-7) return HueSixths{0, s, v, true};
    double h6;
    if (r == v) {
        h6 = (g - b) / d;
    } else if (g == v) {
        h6 = (b - r) / d + 2;
    } else {
        h6 = (r - g) / d + 4;
    }
    return HueSixths{h6, s, v, false};
}

// fmod(h, 1), plus 1 when h is negative: a hue brought into one turn.
// fmod's result is exact: h itself for h in (-1, 1), and h - 1 (exact as
// well) for h in [1, 2), so those need no call.
inline double WrapToTurn(double h) {
    if (h >= 0 && h < 1) return h;
    if (h >= 1 && h < 2) return h - 1;
    if (h < 0 && h > -1) return h + 1;
    const double hue = std::fmod(h, 1.0);
    return h < 0 ? hue + 1 : hue;
}

// Writes the colour of (h, s, v) into rgb, each channel times 255, clamped
// and truncated; a hue of exactly 1 counts as 0, and a sector outside 0..5
// leaves rgb as it was.
inline void HsvToBytes(double h, double s, double v, uint8_t* rgb) {
    if (h == 1) h = 0;
    const double scaled = 6 * h;
    if (!(scaled >= 0 && scaled < 6)) return;
    const auto i = static_cast<int>(scaled);
    const double f = scaled - i;
    const double p = v * (1 - s);
    const double q = v * (1 - f * s);
    const double t = v * (1 - (1 - f) * s);
    const double sectors[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
    for (int c = 0; c < 3; ++c) rgb[c] = UnitToByte(sectors[i][c]);
}

}  // namespace zoka
