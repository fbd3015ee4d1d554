#include "effects/shadow_projection.h"

#include <cmath>

#include "raster/numeric.h"

namespace zoka {

void ShadowProjection::Build(double vanishingDistance, double direction, double length,
                             const PixelRect& r) {
    double e = direction;
    if (e > 179) e = 360 - e;
    if (!(e >= 4)) e = 4;
    if (e > 176) e = 176;
    rect = r;
    height = r.bottom - r.top;
    base = r.bottom;
    const double theta = e * 0.017453292;
    const double f = (vanishingDistance * 0.05) * (vanishingDistance * 0.05) + 0.21;
    const double g = f * height;
    rise = -std::sin(theta) * g;
    vanishingX = g * std::cos(theta) + (r.left + r.right) / 2;
    vanishingY = rise + r.bottom;
    shadowHeight = (length + 20) * 0.01 * rise / (f + 1);
}

void ShadowProjection::Bounds(PixelRect& out) const {
    out = rect;
    out.top = rect.bottom + TruncToInt32(shadowHeight) - 1;
    if (rect.right < vanishingX) {
        out.right = rect.right + TruncToInt32((vanishingX - rect.right) / rise * shadowHeight) + 1;
    }
    if (rect.left > vanishingX) {
        out.left = rect.left - TruncToInt32((rect.left - vanishingX) / rise * shadowHeight) - 1;
    }
}

void ShadowProjection::Map(double x, double y, double& sx, double& sy) const {
    if (y != vanishingY) {
        sx = vanishingX - (x - vanishingX) / (y - vanishingY) * rise;
        sy = base + (base - y) / shadowHeight * height;
    } else {
        sx = (rect.left + rect.right) / 2;
        sy = rect.top - 2;
    }
}

}  // namespace zoka
