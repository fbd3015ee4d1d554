// Chrome's band table, for its tests.
#pragma once

#include <cstdint>

namespace zoka {

inline constexpr int kBandTableSize = 256;

// The Highlight Color's weight (0..256) for each level 0..255 of how level
// the blurred mask lies across the light: a ramp to 256 with a ripple of
// `bands` - 1 periods and amplitude `contrast`, clamped.
void BuildBandTable(double contrast, double bands, int32_t* table);

}  // namespace zoka
