// What the shadow effects share: the offset of a shadow cast in a direction.
#pragma once

#include <cmath>

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

}  // namespace zoka
