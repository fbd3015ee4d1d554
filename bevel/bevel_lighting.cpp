#include "bevel/bevel_lighting.h"

#include <cmath>

#include "raster/numeric.h"

namespace zoka {

namespace {

constexpr int32_t kMaxChannels = 4;
constexpr double kByteToUnit = 0.00392156862745098;  // 1 / 255

// Below this squared gradient the lit colour is mixed with the source
// colour, by 20 times the squared gradient.
constexpr double kFlatGradient = 0.05;

// The darkening of a carved surface at height h: none at 0, darkenDepths
// percent at the full depth.
double DepthFactor(const BevelShading& s, double h) { return 1 - h / s.depth * s.darkenDepths * 0.01; }

// A shaded value as a byte. A value that is its colour exactly keeps the
// source byte: the way back through 255 x (byte / 255), truncated, would
// lose a level for some bytes (33, 37, ... 244), darkening flat areas.
uint8_t ShadedByte(double out, double colour, uint8_t source) {
    return out == colour ? source : UnitToByte(out);
}

// Writes the lit colour of a pixel of gradient (gx, gy) (already negated
// for a carved surface) and height h, whose squared gradient g2 is not 0.
void ShadeSloped(const BevelShading& s, const uint8_t* source, double gx, double gy, double g2,
                 double h, uint8_t* destination) {
    double colour[kMaxChannels], out[kMaxChannels];
    for (int32_t k = 0; k < s.channels; ++k) colour[k] = source[k] * kByteToUnit;
    ShadePixel(colour, s.channels, gx, gy, s.exponent, s.brightness, s.light, out);
    if (g2 < kFlatGradient) {
        const double w = 20 * g2;
        for (int32_t k = 0; k < s.channels; ++k) out[k] = colour[k] * (1 - w) + out[k] * w;
    }
    if (s.carved) {
        const double f = DepthFactor(s, h);
        for (int32_t k = 0; k < s.channels; ++k) out[k] = out[k] * f;
    }
    for (int32_t k = 0; k < s.channels; ++k) destination[k] = ShadedByte(out[k], colour[k], source[k]);
}

// A flat pixel of a carved surface: its colour darkened by its depth.
void DarkenFlat(const BevelShading& s, const uint8_t* source, double h, uint8_t* destination) {
    const double f = DepthFactor(s, h);
    for (int32_t k = 0; k < s.channels; ++k) {
        const double colour = source[k] * kByteToUnit;
        destination[k] = ShadedByte(colour * f, colour, source[k]);
    }
}

}  // namespace

BevelLight LightFromAngles(double theta, double phi) {
    return BevelLight{std::cos(phi) * std::cos(theta), -std::cos(phi) * std::sin(theta), std::sin(phi)};
}

void ShadePixel(const double* colour, int32_t channels, double gx, double gy, double exponent,
                double brightness, const BevelLight& light, double* out) {
    const double h = std::sqrt(gx * gx + gy * gy + 1);
    const double d = (light.z - (gx * light.x + gy * light.y)) / h;
    if (d < 0) {
        for (int32_t k = 0; k < channels; ++k) out[k] = 0;
        return;
    }
    const double r = 2 * d / h - light.z;
    double highlight = 0;
    if (r > 0) highlight = r <= 1 ? brightness * std::pow(r, exponent) : brightness;
    for (int32_t k = 0; k < channels; ++k) out[k] = colour[k] * d + highlight;
}

// Where the gradient is 0 the flat blend returns the colour exactly, so
// only a carved surface's darkening changes it.
void ShadeBevelBand(const BevelShading& shading, const PixelRect& band) {
    const Raster& heights = *shading.heights;
    const int32_t step = shading.source->PixelBytes();
    // Heights are read from the band's left - 1.
    const int32_t offset = band.left - 1 - heights.bounds.left;
    for (int32_t y = band.top; y < band.bottom; ++y) {
        const double* above = heights.RowAs<double>(y - 1) + offset;
        const double* at = heights.RowAs<double>(y) + offset;
        const double* below = heights.RowAs<double>(y + 1) + offset;
        const uint8_t* source = shading.source->Pixel(band.left, y);
        uint8_t* destination = shading.destination->Pixel(band.left, y);
        for (int32_t i = 0; i < band.Width(); ++i, source += step, destination += step) {
            double gx = at[i + 2] - at[i];
            double gy = below[i + 1] - above[i + 1];
            if (shading.carved) {
                gx = -gx;
                gy = -gy;
            }
            const double g2 = gx * gx + gy * gy;
            if (g2 != 0) {
                ShadeSloped(shading, source, gx, gy, g2, at[i + 1], destination);
            } else if (shading.carved) {
                DarkenFlat(shading, source, at[i + 1], destination);
            } else {
                for (int32_t k = 0; k < shading.channels; ++k) destination[k] = source[k];
            }
        }
    }
}

}  // namespace zoka
