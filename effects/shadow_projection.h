// The projective mapping of Perspective Shadow: a rectangle's silhouette laid
// down behind it, from its bottom edge toward a vanishing point above.
#pragma once

#include "raster/rect.h"

namespace zoka {

struct ShadowProjection {
    PixelRect rect;
    double vanishingX = 0;
    double vanishingY = 0;
    double rise = 0;          // vanishingY - bottom; negative: upward
    double shadowHeight = 0;  // signed extent from the bottom edge
    double base = 0;          // bottom
    double height = 0;        // bottom - top

    // direction in degrees counter-clockwise from +x (folded into 4..176);
    // vanishingDistance and length as the user set them.
    void Build(double vanishingDistance, double direction, double length, const PixelRect& r);
    // The area the shadow covers.
    void Bounds(PixelRect& out) const;
    // The point of the rectangle whose shadow falls on (x, y).
    void Map(double x, double y, double& sx, double& sy) const;
};

}  // namespace zoka
