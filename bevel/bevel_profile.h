// The bevel cross-sections offered as "Button|Rounded|Flat|Mesa": the height
// of a bevel at a point of its slope.
#pragma once

#include <cstdint>

namespace zoka {

enum class ProfileKind : int32_t { kConvex = 0, kSCurve = 1, kConcave = 2, kLinear = 3 };

// With t = v / max(width - offset, 0.5) (not clamped), the profile's value
// (Convex 1 - t^2, SCurve 1 - 2t^2 below t = 0.5 and 2(1 - t)^2 from it,
// Concave (1 - t)^2, Linear 1 - t) times depth, clamped to [0, depth].
double BevelProfile(double v, double width, double offset, double depth, ProfileKind kind);

}  // namespace zoka
