#include "bevel/bevel_lighting.h"

#include <cmath>

#include "raster/numeric.h"

namespace zoka {

namespace {

constexpr int32_t kMaxChannels = 4;
constexpr double kByteToUnit = 0.00392156862745098;  // 1 / 255

// The blend weight towards the source colour reaches 1 at this squared
// gradient.
constexpr double kFlatGradient = 0.05;

double HeightAt(const Raster& heights, int32_t x, int32_t y) {
    return *reinterpret_cast<const double*>(heights.Pixel(x, y));
}

// Shades one pixel of the band: out (0..1 per channel, before clamping)
// from its colour.
void ShadeAt(const BevelShading& s, int32_t x, int32_t y, const double* colour, double* out) {
    const Raster& h = *s.heights;
    double gx = HeightAt(h, x + 1, y) - HeightAt(h, x - 1, y);
    double gy = HeightAt(h, x, y + 1) - HeightAt(h, x, y - 1);
    if (s.carved) {
        gx = -gx;
        gy = -gy;
    }
    const double g2 = gx * gx + gy * gy;
    if (g2 == 0) {
        // The flat blend below returns the colour exactly; the lighting
        // need not run.
        for (int32_t k = 0; k < s.channels; ++k) out[k] = colour[k];
    } else {
        ShadePixel(colour, s.channels, gx, gy, s.exponent, s.brightness, s.light, out);
        if (g2 < kFlatGradient) {
            const double w = 20 * g2;
            for (int32_t k = 0; k < s.channels; ++k) out[k] = colour[k] * (1 - w) + out[k] * w;
        }
    }
    if (s.carved) {
        const double f = 1 - HeightAt(h, x, y) / s.depth * s.darkenDepths * 0.01;
        for (int32_t k = 0; k < s.channels; ++k) out[k] = out[k] * f;
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

// A channel whose shaded value is its colour exactly keeps its byte: the
// way back through 255 x (byte / 255), truncated, would lose a level for
// some bytes (33, 37, ... 244), darkening flat areas.
void ShadeBevelBand(const BevelShading& shading, const PixelRect& band) {
    double colour[kMaxChannels], out[kMaxChannels];
    for (int32_t y = band.top; y < band.bottom; ++y) {
        for (int32_t x = band.left; x < band.right; ++x) {
            const uint8_t* source = shading.source->Pixel(x, y);
            for (int32_t k = 0; k < shading.channels; ++k) colour[k] = source[k] * kByteToUnit;
            ShadeAt(shading, x, y, colour, out);
            uint8_t* destination = shading.destination->Pixel(x, y);
            for (int32_t k = 0; k < shading.channels; ++k) {
                destination[k] = out[k] == colour[k] ? source[k] : UnitToByte(out[k]);
            }
        }
    }
}

}  // namespace zoka
