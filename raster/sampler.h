// Samplers over mask rasters (one 8-bit channel); results are 0..255.
#pragma once

#include <algorithm>

#include "base/module_memory.h"
#include "raster/numeric.h"
#include "raster/raster.h"

namespace zoka {

// The pixel's value, or 0 outside the bounds.
int PixelOrZero(const Raster& mask, int32_t x, int32_t y);
// Bilinear interpolation, neighbours outside the bounds counting as 0.
int SampleBilinearZero(const Raster& mask, double x, double y);
// Bilinear interpolation with the position clamped to [left, right - 2] and
// [top, bottom - 2], so the last column and row are reached with weight 0.
// A raster one pixel wide or high samples its single column or row; an empty
// raster gives 0.
int SampleBilinearClamped(const Raster& mask, double x, double y);
// SampleBilinearClamped over rows that share their x positions: each
// column's clamped neighbours and weight are found once, each row's once.
class BilinearClampedRows {
public:
    // The columns xs[0..count); 0, or 8 without memory.
    int Plan(const Raster& mask, const double* xs, int32_t count);
    // out[i] = SampleBilinearClamped (mask, xs[i], y).
    void Sample(double y, uint8_t* out) const;

private:
    struct Column {
        int32_t x0, x1;  // from the row's start
        double fx;
    };
    const Raster* mask_ = nullptr;
    ModuleBuffer<Column> columns_;
    int32_t count_ = 0;
    bool whole_ = false;  // every fx is 0
};
// SampleBilinearClamped at a whole position, where both weights are 0 and the
// result is the clamped corner pixel itself (so the last column and row read
// the ones before them).
int SampleClampedAtPixel(const Raster& mask, int32_t x, int32_t y);
// The row and the column (from the row's start) that read, for a raster that
// is not empty.
inline const uint8_t* ClampedSampleRow(const Raster& mask, int32_t y) {
    const PixelRect& b = mask.bounds;
    return mask.Row(std::clamp(y, b.top, std::max(b.top, b.bottom - 2)));
}
inline int32_t ClampedSampleColumn(const PixelRect& b, int32_t x) {
    return std::clamp(x, b.left, std::max(b.left, b.right - 2)) - b.left;
}
// The four pixels a bilinear read at (x, y) takes, for the displacing
// effects: the cell's top-left corner is the position truncated and kept
// inside the bounds so that both neighbours exist, and the weights are taken
// from that corner, so beyond the edge they extrapolate. Bounds one pixel
// wide or high give their single column or row as both neighbours.
struct ExtrapolatingCell {
    int32_t x0, x1, y0, y1;
    double fx, fy;
};
inline ExtrapolatingCell ExtrapolatingCellAt(const PixelRect& bounds, double x, double y) {
    const int32_t x0 = std::max(bounds.left, std::min(TruncToInt32(x), bounds.right - 2));
    const int32_t y0 = std::max(bounds.top, std::min(TruncToInt32(y), bounds.bottom - 2));
    return ExtrapolatingCell{x0, std::min(x0 + 1, bounds.right - 1), y0,
                             std::min(y0 + 1, bounds.bottom - 1), x - x0, y - y0};
}

// A mask over rect outset by 1 holding source moved by (dx, dy).
int ResampleShifted(const PixelRect& rect, const Raster& source, double dx, double dy,
                    Raster*& mask);

}  // namespace zoka
