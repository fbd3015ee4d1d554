// Glow's dropoff curves, for its tests.
#pragma once

#include <cstdint>

namespace zoka {

// The Opacity Dropoff items.
enum GlowDropoffItem : int16_t { kGlowFat = 1, kGlowMedium = 2, kGlowThin = 3, kGlowDiffuse = 4 };

// The halo's coverage for a linear coverage b (1 at the edge, 0 at the
// width), shaped by a distance dropoff: with t = 1 - b, Fat 1 - t^2, Medium
// 1 - 2t^2 down to b = 0.5 and 2b^2 below, Thin b^2.
double GlowDropoff(double b, int16_t dropoff);

}  // namespace zoka
