// Whole-raster pixel operations: copies, fills, pixel-order conversion, mask
// extraction and the selection blend.
#pragma once

#include <cstdint>

#include "raster/raster.h"

namespace zoka {

// Over the overlap of both bounds, copies the first min(channels) bytes of
// each pixel (one-byte channels).
void CopyRasterOverlap(const Raster& source, const Raster& destination);
// Writes the four bytes into every pixel of rect (clipped to the raster).
void FillRectPixels(const Raster& raster, const PixelRect& rect, const uint8_t (&pixel)[4]);
// Writes the 32-bit value into every pixel of a raster with four-byte pixels.
void FillRaster32(const Raster& raster, uint32_t value);

// (a, r, g, b) <-> (r, g, b, a) over a raster with four-byte pixels.
void HostToWorkOrder(const Raster& raster);
void WorkToHostOrder(const Raster& raster);

// A mask over rect from the last byte (work-order alpha) or the first byte
// (host-order alpha) of each source pixel; 0 outside the source.
int ExtractAlpha(const PixelRect& rect, const Raster& source, Raster*& mask);
int ExtractSelection(const PixelRect& rect, const Raster& view, Raster*& mask);
// The same into an existing mask (or a row slice of one), over its bounds.
void CopyAlphaInto(const Raster& source, const Raster& mask);
void CopySelectionInto(const Raster& view, const Raster& mask);
// The smallest mask holding every non-zero pixel of source (empty if none).
int CropToContent(const Raster& source, Raster*& mask);

// Mixes the untouched input (source) back into the effect result
// (destination) by the mask: 255 keeps the result, 0 restores the input.
void BlendByMask(const Raster& source, const Raster& destination, const Raster& mask);
// The same with the mask sampled at (x - dx, y - dy).
void BlendByMaskShifted(const Raster& source, const Raster& destination, const Raster& mask,
                        double dx, double dy);

}  // namespace zoka
