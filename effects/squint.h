// Squint's ring, for its tests.
#pragma once

#include <cstdint>

#include "raster/abort_check.h"
#include "raster/raster.h"
#include "raster/rect.h"

namespace zoka {

// The number of ring offsets for a radius in rendered pixels: about 2 pi r.
int32_t SquintRingSize(double radius);
// count (dx, dy) pairs around the circle, rounded by adding a half and
// truncating toward zero.
void BuildSquintRing(double radius, int32_t count, int32_t* offsets);
// A coordinate past an edge of lo..hi-1 reads its mirror image, then is
// clamped inside.
int32_t ReflectInto(int32_t v, int32_t lo, int32_t hi);

// The ring's mean over the band's rows of destination (4 bytes a pixel, like
// the source): each pixel the alpha-weighted mean colour of the count offsets
// around it and their mean alpha. Reads a premultiplied copy of the source a
// few rows at a time, in which the mirroring past the edges is already done,
// and sums whole rows per offset. 0, 1 when abort stops it at the start of a
// row, or 8 without memory.
int SquintBand(const Raster& source, const int32_t* offsets, int32_t count,
               const PixelRect& band, const Raster& destination, AbortCheck abort);
// The same, pixel by pixel and offset by offset, mirroring each read: the
// reference SquintBand reproduces.
int SquintBandDirect(const Raster& source, const int32_t* offsets, int32_t count,
                     const PixelRect& band, const Raster& destination, AbortCheck abort);

}  // namespace zoka
