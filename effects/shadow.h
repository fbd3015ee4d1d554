// What the shadow effects share: the offset of a shadow cast in a direction,
// and the laying of a shadow's colour under a pixel.
#pragma once

#include <cmath>
#include <cstdint>

#include "raster/numeric.h"

namespace zoka {

struct ShadowVector {
    double x;
    double y;
};

// The offset of a shadow cast `distance` pixels toward `degrees`
// (counter-clockwise from +x; 0 points right, 90 up toward smaller rows).
inline ShadowVector ShadowOffset(double degrees, double distance) {
    const double t = degrees * 0.017453292;
    return ShadowVector{distance * std::cos(t), -distance * std::sin(t)};
}

// Lays a shadow of `colour` (red, green, blue) with coverage s (0..255)
// behind the source pixel, in integer arithmetic: the source keeps its alpha's
// share of what the shadow leaves, and the alpha becomes the sum of both. A
// pixel left with no coverage at all gets alpha 0 and keeps the colour
// destination already holds. Both pixels are in work order.
inline void ShadowComposite(const uint8_t* source, uint8_t* destination, const uint8_t* colour,
                            int32_t s) {
    const int32_t e = source[3] * (255 - s) / 255;
    const int32_t t = s + e;
    if (t > 0) {
        for (int i = 0; i < 3; ++i) {
            destination[i] = static_cast<uint8_t>((e * source[i] + s * colour[i]) / t);
        }
    }
    destination[3] = static_cast<uint8_t>(t);
}

}  // namespace zoka
