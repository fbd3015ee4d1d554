// Squint's ring, for its tests.
#pragma once

#include <cstdint>

namespace zoka {

// The number of ring offsets for a radius in rendered pixels: about 2 pi r.
int32_t SquintRingSize(double radius);
// count (dx, dy) pairs around the circle, rounded by adding a half and
// truncating toward zero.
void BuildSquintRing(double radius, int32_t count, int32_t* offsets);
// A coordinate past an edge of lo..hi-1 reads its mirror image, then is
// clamped inside.
int32_t ReflectInto(int32_t v, int32_t lo, int32_t hi);

}  // namespace zoka
