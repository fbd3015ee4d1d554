// What Fire and Smoke share: a plume that rises from the layer's shape.
#pragma once

#include <algorithm>

#include "raster/numeric.h"
#include "raster/rect.h"

namespace zoka {

// The input grown by the edge softness on every side, with room above for
// the plume's height.
inline void PlumeOutputRect(PixelRect& result, const PixelRect& input, double edgeSoftness,
                            int16_t wispHeight, double scale) {
    const int32_t c = TruncToInt32(edgeSoftness / scale) + 1;
    result = input;
    OutsetRect(result, c);
    result.top = input.top - std::max(c, TruncToInt32(std::max(5.0, wispHeight / scale)));
}

}  // namespace zoka
